#include "quorvane_process.h"

#include "tests/support/file_size_limit.h"

QProcessEnvironment headless_environment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

void start_quorvane(QProcess& process, const QStringList& arguments,
                    const QProcessEnvironment& environment)
{
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QUORVANE_EXECUTABLE), arguments);
}

namespace {

QuorvaneRun finish(QProcess& process)
{
    QuorvaneRun run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.crashed = process.exitStatus() == QProcess::CrashExit;
    run.exit_code = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

QuorvaneRun run_quorvane(const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    start_quorvane(process, arguments, environment);
    return finish(process);
}

QuorvaneRun run_quorvane_with_file_size_limit(const QStringList& arguments, qint64 bytes)
{
    FileSizeLimitedProcess process(bytes);
    start_quorvane(process, arguments);
    return finish(process);
}
