#include "app/french_translations.h"
#include "app/main_window.h"
#include "app/user_dialogs.h"
#include "cli/command_line.h"
#include "output/process_runner.h"

#include <QApplication>
#include <QSettings>

int main(int argc, char* argv[])
{
    // A command runs without any window, display or Qt Widgets object.
    if (wants_command_line(argc, argv))
        return run_command_line(argc, argv);

    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationName(QStringLiteral("Quorvane 3000"));
    install_french_translations(application);
    QSettings settings;
    QtUserDialogs dialogs;
    QProcessRunner runner;
    MainWindow window(dialogs, runner, &settings);
    window.show();
    return application.exec();
}
