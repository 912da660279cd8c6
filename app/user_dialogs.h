#pragma once

#include "app/progress_view.h"

#include <QFileDialog>
#include <QString>
#include <QStringList>

#include <memory>

class QDialog;
class QWidget;

// Everything the window asks of the user through modal dialogs. The window
// receives one; the program hands it the Qt dialogs, tests a scripted one, so
// no test ever waits on a modal box.
class UserDialogs
{
public:
    virtual ~UserDialogs() = default;

    // Paths chosen in a file dialog, empty when it was cancelled.
    virtual QStringList get_open_file_names(QWidget* parent, const QString& caption,
                                            const QString& directory, const QString& filter) = 0;
    // The chosen folder, empty when the dialog was cancelled.
    virtual QString get_existing_directory(QWidget* parent, const QString& caption,
                                           const QString& directory,
                                           QFileDialog::Options options) = 0;

    // The chosen file name in a save dialog, empty when it was cancelled.
    virtual QString get_save_file_name(QWidget* parent, const QString& caption,
                                       const QString& directory, const QString& filter) = 0;

    // A modal question with "Oui" (the default button) and "Non"; true for "Oui".
    // Closing the box counts as "Non".
    virtual bool question(QWidget* parent, const QString& title, const QString& text) = 0;

    // Modal boxes with a single OK button; they return once closed.
    virtual void information(QWidget* parent, const QString& title, const QString& text) = 0;
    virtual void warning(QWidget* parent, const QString& title, const QString& text) = 0;
    virtual void critical(QWidget* parent, const QString& title, const QString& text) = 0;
    // An information box with `button` beside OK (the default button); true when
    // `button` was pressed.
    virtual bool information_with_button(QWidget* parent, const QString& title, const QString& text,
                                         const QString& button) = 0;

    // A modal box offering `buttons` (the first is the default); the index of
    // the one pressed, or -1 when the box was closed.
    virtual int choice(QWidget* parent, const QString& title, const QString& text,
                       const QStringList& buttons) = 0;

    // Shows `view` modally; returns once it is closed.
    virtual void show_view(QDialog& view) = 0;

    // A modal progress window with an "Annuler" button, open until destroyed.
    virtual std::unique_ptr<ProgressView> show_progress(QWidget* parent, const QString& title) = 0;

    enum class UnsavedAnswer
    {
        Save,    // "Enregistrer"
        Discard, // "Ne pas enregistrer"
        Cancel,  // "Annuler", or the box closed: nothing happens
    };
    // "Enregistrer les modifications du calibrage ?" before unsaved changes
    // would be lost; `text` says what the user is about to do.
    virtual UnsavedAnswer ask_unsaved_changes(QWidget* parent, const QString& text) = 0;
};

// The real dialogs: QFileDialog's static functions and QMessageBox.
class QtUserDialogs : public UserDialogs
{
public:
    QStringList get_open_file_names(QWidget* parent, const QString& caption,
                                    const QString& directory, const QString& filter) override;
    QString get_existing_directory(QWidget* parent, const QString& caption,
                                   const QString& directory, QFileDialog::Options options) override;
    QString get_save_file_name(QWidget* parent, const QString& caption, const QString& directory,
                               const QString& filter) override;
    bool question(QWidget* parent, const QString& title, const QString& text) override;
    void information(QWidget* parent, const QString& title, const QString& text) override;
    void warning(QWidget* parent, const QString& title, const QString& text) override;
    void critical(QWidget* parent, const QString& title, const QString& text) override;
    bool information_with_button(QWidget* parent, const QString& title, const QString& text,
                                 const QString& button) override;
    int choice(QWidget* parent, const QString& title, const QString& text,
               const QStringList& buttons) override;
    void show_view(QDialog& view) override;
    std::unique_ptr<ProgressView> show_progress(QWidget* parent, const QString& title) override;
    UnsavedAnswer ask_unsaved_changes(QWidget* parent, const QString& text) override;
};
