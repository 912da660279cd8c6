#pragma once

#include "app/user_dialogs.h"

#include <QDialog>
#include <QQueue>
#include <QWidget>

#include <functional>

// Answers the window's dialogs from a script and records every box it asks for.
class ScriptedDialogs : public UserDialogs
{
public:
    struct Request
    {
        QString kind; // "open", "save", "directory", "question", "information", "warning",
                      // "critical", "choice", "unsaved", "view" or "progress"
        QString caption;
        QString text; // the filter of a file dialog, the text of a box
        QWidget* parent = nullptr;
        bool parent_visible = false;
        QFileDialog::Options options;
        QString button; // the extra button of an information box
    };

    QQueue<QStringList> file_answers;
    QQueue<QString> directory_answers;
    QQueue<QString> save_answers;
    // Answers to questions, in order; a question beyond them gets "Oui" (the default button).
    QQueue<bool> question_answers;
    // Whether the extra button of each information_with_button box is pressed, in
    // order; beyond them, OK.
    QQueue<bool> button_answers;
    // The button pressed in each choice box, in order; beyond them, the box is closed.
    QQueue<int> choice_answers;
    // The answers to each unsaved-changes box, in order; beyond them, "Annuler".
    QQueue<UnsavedAnswer> unsaved_answers;
    // When set, called with each view shown, before it would be closed.
    std::function<void(QDialog& view)> on_view;
    QList<Request> requests;
    // Every label a progress window showed, in order, without repeats.
    QStringList progress_labels;
    // When set, every progress window reports "Annuler" pressed from the start.
    bool cancel_progress = false;
    // When set, called with each label a progress window shows, on the window's
    // thread while the work runs, as a person's input would be handled then.
    std::function<void(const QString& label)> on_progress;

    QStringList get_open_file_names(QWidget* parent, const QString& caption, const QString&,
                                    const QString& filter) override
    {
        record("open", parent, caption, filter);
        return file_answers.isEmpty() ? QStringList() : file_answers.dequeue();
    }

    QString get_existing_directory(QWidget* parent, const QString& caption, const QString&,
                                   QFileDialog::Options options) override
    {
        record("directory", parent, caption, QString()).options = options;
        return directory_answers.isEmpty() ? QString() : directory_answers.dequeue();
    }

    QString get_save_file_name(QWidget* parent, const QString& caption, const QString&,
                               const QString& filter) override
    {
        record("save", parent, caption, filter);
        return save_answers.isEmpty() ? QString() : save_answers.dequeue();
    }

    bool question(QWidget* parent, const QString& title, const QString& text) override
    {
        record("question", parent, title, text);
        return question_answers.isEmpty() ? true : question_answers.dequeue();
    }

    void information(QWidget* parent, const QString& title, const QString& text) override
    {
        record("information", parent, title, text);
    }

    void warning(QWidget* parent, const QString& title, const QString& text) override
    {
        record("warning", parent, title, text);
    }

    void critical(QWidget* parent, const QString& title, const QString& text) override
    {
        record("critical", parent, title, text);
    }

    bool information_with_button(QWidget* parent, const QString& title, const QString& text,
                                 const QString& button) override
    {
        record("information", parent, title, text).button = button;
        return !button_answers.isEmpty() && button_answers.dequeue();
    }

    int choice(QWidget* parent, const QString& title, const QString& text,
               const QStringList& buttons) override
    {
        record("choice", parent, title, text).button = buttons.join('|');
        return choice_answers.isEmpty() ? -1 : choice_answers.dequeue();
    }

    UnsavedAnswer ask_unsaved_changes(QWidget* parent, const QString& text) override
    {
        record("unsaved", parent, QStringLiteral("Enregistrer les modifications du calibrage ?"),
               text);
        return unsaved_answers.isEmpty() ? UnsavedAnswer::Cancel : unsaved_answers.dequeue();
    }

    void show_view(QDialog& view) override
    {
        record("view", view.parentWidget(), view.windowTitle(), QString());
        if (on_view)
            on_view(view);
    }

    std::unique_ptr<ProgressView> show_progress(QWidget* parent, const QString& title) override
    {
        record("progress", parent, title, QString());
        return std::make_unique<ScriptedProgress>(*this);
    }

    // The boxes asked for so far, as "kind: title".
    QStringList boxes() const
    {
        QStringList result;
        for (const Request& request : requests) {
            if (request.kind == "question" || request.kind == "information" ||
                request.kind == "warning" || request.kind == "critical" ||
                request.kind == "choice" || request.kind == "unsaved")
                result << request.kind + ": " + request.caption;
        }
        return result;
    }

private:
    class ScriptedProgress : public ProgressView
    {
    public:
        explicit ScriptedProgress(ScriptedDialogs& owner) : owner(owner) {}
        void set_progress(const QString& label, int, int) override
        {
            if (owner.progress_labels.isEmpty() || owner.progress_labels.last() != label)
                owner.progress_labels << label;
            if (owner.on_progress)
                owner.on_progress(label);
        }
        bool cancelled() const override { return owner.cancel_progress; }

    private:
        ScriptedDialogs& owner;
    };

    Request& record(const QString& kind, QWidget* parent, const QString& caption,
                    const QString& text)
    {
        requests.append({kind, caption, text, parent, parent && parent->isVisible(), {}, {}});
        return requests.last();
    }
};
