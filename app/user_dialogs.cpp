#include "app/user_dialogs.h"

#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

namespace {

// QProgressDialog, modal for the whole application so that nothing else in the
// window can be clicked while the work runs.
class QtProgressView : public ProgressView
{
public:
    QtProgressView(QWidget* parent, const QString& title)
        : dialog(QString(), QStringLiteral("Annuler"), 0, 0, parent)
    {
        dialog.setWindowTitle(title);
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.setMinimumDuration(0);
        dialog.setAutoClose(false);
        dialog.setAutoReset(false);
        dialog.setMinimumWidth(360);
        dialog.show();
    }

    void set_progress(const QString& label, int value, int total) override
    {
        dialog.setLabelText(label);
        dialog.setMaximum(total);
        dialog.setValue(value);
    }

    bool cancelled() const override { return dialog.wasCanceled(); }

private:
    QProgressDialog dialog;
};

} // namespace

QStringList QtUserDialogs::get_open_file_names(QWidget* parent, const QString& caption,
                                               const QString& directory, const QString& filter)
{
    return QFileDialog::getOpenFileNames(parent, caption, directory, filter);
}

QString QtUserDialogs::get_existing_directory(QWidget* parent, const QString& caption,
                                              const QString& directory,
                                              QFileDialog::Options options)
{
    return QFileDialog::getExistingDirectory(parent, caption, directory, options);
}

QString QtUserDialogs::get_save_file_name(QWidget* parent, const QString& caption,
                                          const QString& directory, const QString& filter)
{
    return QFileDialog::getSaveFileName(parent, caption, directory, filter);
}

bool QtUserDialogs::question(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(QStringLiteral("Oui"), QMessageBox::YesRole);
    box.addButton(QStringLiteral("Non"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.exec();
    return box.clickedButton() == yes;
}

void QtUserDialogs::information(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::information(parent, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

void QtUserDialogs::warning(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

void QtUserDialogs::critical(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::critical(parent, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

std::unique_ptr<ProgressView> QtUserDialogs::show_progress(QWidget* parent, const QString& title)
{
    return std::make_unique<QtProgressView>(parent, title);
}
