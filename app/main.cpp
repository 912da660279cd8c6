#include "app/main_window.h"
#include "app/user_dialogs.h"
#include "output/process_runner.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QtUserDialogs dialogs;
    QProcessRunner runner;
    MainWindow window(dialogs, runner);
    window.show();
    return application.exec();
}
