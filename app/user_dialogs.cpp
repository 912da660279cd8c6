#include "app/user_dialogs.h"

#include <QDialog>

#include <QCloseEvent>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

namespace {

// QProgressDialog hides itself as soon as it is cancelled, and at a value of 0
// stays hidden, while the work it stands for goes on: the window would take
// clicks again and could start other work inside this one. Here "Annuler"
// (or Escape, or closing the window) only asks the work to stop; the dialog
// stays up, saying so, until its owner destroys it once the work has stopped.
class StayingProgressDialog : public QProgressDialog
{
public:
    StayingProgressDialog(QWidget* parent, const QString& title)
        : QProgressDialog(QString(), QStringLiteral("Annuler"), 0, 0, parent)
    {
        setWindowTitle(title);
        setWindowModality(Qt::ApplicationModal);
        setMinimumDuration(0);
        setAutoClose(false);
        setAutoReset(false);
        setMinimumWidth(360);
        disconnect(this, SIGNAL(canceled()), this, SLOT(cancel()));
        connect(this, &QProgressDialog::canceled, this, &StayingProgressDialog::request_cancel);
    }

    bool cancel_requested() const { return requested; }

    void show_progress(const QString& label, int value, int total)
    {
        if (!requested)
            setLabelText(label);
        setMaximum(total);
        setValue(value);
    }

    void reject() override { request_cancel(); }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        event->ignore();
        request_cancel();
    }

private:
    void request_cancel()
    {
        if (requested)
            return;
        requested = true;
        setLabelText(QStringLiteral("Annulation ..."));
        if (QPushButton* button = findChild<QPushButton*>())
            button->setEnabled(false);
    }

    bool requested = false;
};

// Shown at once and modal for the whole application, so that nothing else in
// the window can be clicked while the work runs.
class QtProgressView : public ProgressView
{
public:
    QtProgressView(QWidget* parent, const QString& title) : dialog(parent, title) { dialog.show(); }

    void set_progress(const QString& label, int value, int total) override
    {
        dialog.show_progress(label, value, total);
    }

    bool cancelled() const override { return dialog.cancel_requested(); }

private:
    StayingProgressDialog dialog;
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

bool QtUserDialogs::information_with_button(QWidget* parent, const QString& title,
                                            const QString& text, const QString& button)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box.setDefaultButton(QMessageBox::Ok);
    QPushButton* extra = box.addButton(button, QMessageBox::ActionRole);
    box.exec();
    return box.clickedButton() == extra;
}

int QtUserDialogs::choice(QWidget* parent, const QString& title, const QString& text,
                          const QStringList& buttons)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
    QList<QAbstractButton*> shown;
    for (const QString& button : buttons)
        shown << box.addButton(button, QMessageBox::ActionRole);
    if (!shown.isEmpty())
        box.setDefaultButton(static_cast<QPushButton*>(shown.front()));
    // Without an escape button the box ignores Escape and its close button:
    // a hidden one lets it be closed, which answers none of the buttons.
    box.setEscapeButton(box.addButton(QMessageBox::Cancel));
    box.escapeButton()->hide();
    box.exec();
    return shown.indexOf(box.clickedButton());
}

void QtUserDialogs::show_view(QDialog& view)
{
    view.exec();
}

std::unique_ptr<ProgressView> QtUserDialogs::show_progress(QWidget* parent, const QString& title)
{
    return std::make_unique<QtProgressView>(parent, title);
}

UserDialogs::UnsavedAnswer QtUserDialogs::ask_unsaved_changes(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Modifications non enregistrées"),
                    QStringLiteral("Enregistrer les modifications du calibrage ?"),
                    QMessageBox::NoButton, parent);
    box.setInformativeText(text);
    QAbstractButton* save = box.addButton(QStringLiteral("Enregistrer"), QMessageBox::AcceptRole);
    QAbstractButton* discard =
        box.addButton(QStringLiteral("Ne pas enregistrer"), QMessageBox::DestructiveRole);
    QAbstractButton* cancel = box.addButton(QStringLiteral("Annuler"), QMessageBox::RejectRole);
    box.setDefaultButton(static_cast<QPushButton*>(save));
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == save)
        return UnsavedAnswer::Save;
    if (box.clickedButton() == discard)
        return UnsavedAnswer::Discard;
    return UnsavedAnswer::Cancel;
}
