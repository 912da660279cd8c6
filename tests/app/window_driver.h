#pragma once

#include "app/main_window.h"
#include "app/pixel_picker.h"
#include "recording_runner.h"
#include "scripted_dialogs.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QSettings>
#include <QtTest>

#include <memory>

// Drives the real main window as a person would: scripted dialog answers,
// mouse presses on photo pixels, and what the window shows.
class WindowDriver
{
public:
    ScriptedDialogs dialogs;
    RecordingRunner recording_runner;
    std::unique_ptr<MainWindow> window;
    // Handed to the window when set: what it remembers between sessions.
    QSettings* settings = nullptr;

    // Opens the window with `references` as the answer to its first dialog and
    // shows it. `runner` defaults to the recording one.
    void open(const QStringList& references, ProcessRunner* runner = nullptr)
    {
        this->references = references;
        dialogs.file_answers.enqueue(references);
        window =
            std::make_unique<MainWindow>(dialogs, runner ? *runner : recording_runner, settings);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        // Photo pixels are window pixels unless a test zooms.
        action("action_zoom_actual")->trigger();
    }

    PixelPicker* picture() const { return window->findChild<PixelPicker*>("image_label"); }
    QString instruction() const { return window->findChild<QLabel*>("instruction_label")->text(); }
    QAction* action(const char* name) const { return window->findChild<QAction*>(name); }
    template <typename T> T* widget(const char* name) const
    {
        return window->findChild<T*>(QString::fromLatin1(name));
    }

    // A left press on photo pixel (x, y), once the window has laid out the photo shown last.
    void click(double x, double y)
    {
        QCoreApplication::processEvents();
        const QPointF position = picture()->label_position(QPointF(x, y));
        QMouseEvent event(QEvent::MouseButtonPress, position, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(picture(), &event);
    }

    bool calibrated() const
    {
        return instruction() == QStringLiteral("Recadreur étalonné ; prêt à charger des images.") &&
               action("action_new_computation")->isEnabled() &&
               action("action_new_color")->isEnabled() &&
               action("action_manual_calibration")->isEnabled();
    }

    // Runs "Nouveau traitement d'images ..." with the given answers to its two
    // dialogs; without a folder, the folder dialog takes the answers already queued.
    void process(const QStringList& inputs, const QString& folder = QString())
    {
        dialogs.file_answers.enqueue(inputs);
        if (!folder.isEmpty())
            dialogs.directory_answers.enqueue(folder);
        action("action_new_computation")->trigger();
    }

    // The prompt for a sticker of reference photo `image` (counted from 0) of the
    // window, which numbers cameras from 1.
    QString sticker_prompt(int sticker, int image) const
    {
        return QStringLiteral("Cliquez sur le centre approximatif du sticker #%1 (image #%2 : %3)")
            .arg(sticker)
            .arg(image + 1)
            .arg(QFileInfo(references.value(image)).fileName());
    }

    // The reference photos the window was opened with, in camera order.
    QStringList references;
};
