#include "app/french_translations.h"
#include "app/main_window.h"
#include "app/user_dialogs.h"
#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "support/process_runner.h"

#include <QApplication>
#include <QSettings>

#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {

// Without a display Qt aborts with its own English message about platform
// plugins; on a booth with no screen the useful answer is the commands.
bool display_available(int argc, char* argv[])
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    restore_child_signal();
    // A command runs without any window, display or Qt Widgets object.
    if (wants_command_line(argc, argv))
        return run_command_line(argc, argv);

    if (!display_available(argc, argv)) {
        std::cerr << "quorvane : aucun écran pour ouvrir la fenêtre (DISPLAY n'est pas défini).\n"
                     "Sans écran, utilisez les commandes calibrate, process et watch : "
                     "quorvane --help\n";
        return ExitFailed;
    }

    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationName(QStringLiteral("Quorvane 3000"));
    // Lets desktop shells group the window with its menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvane"));
    install_french_translations(application);
    QSettings settings;
    QtUserDialogs dialogs;
    ChildProcessRunner runner;
    MainWindow window(dialogs, runner, &settings);
    window.show();
    return application.exec();
}
