#include "app/user_dialogs.h"

#include <QMessageBox>

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

void QtUserDialogs::warning(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

void QtUserDialogs::critical(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::critical(parent, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}
