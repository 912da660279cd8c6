#include "output/process_runner.h"

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// A child that dies with this program: when the program is killed outright (a
// crash, SIGKILL, the session ending), no encoder is left behind writing into
// the output folder, or holding it, where the next run would meet it.
class ChildProcess : public QProcess
{
protected:
    void setupChildProcess() override
    {
        // Between fork and exec: only async-signal-safe calls.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) // the program died before the line above
            _exit(127);
    }

private:
    const pid_t parent = getpid();
};

// Splits error output into lines as it arrives and keeps the last few.
class ErrorLines
{
public:
    explicit ErrorLines(const std::function<void(const QString&)>& on_line) : on_line(on_line) {}

    void add(const QByteArray& bytes)
    {
        pending += bytes;
        int start = 0;
        for (int i = 0; i < pending.size(); ++i) {
            if (pending[i] == '\n' || pending[i] == '\r') {
                take(pending.mid(start, i - start));
                start = i + 1;
            }
        }
        pending.remove(0, start);
    }

    // The output ended: an unterminated last line still counts.
    QString finish()
    {
        take(pending);
        pending.clear();
        return tail.join('\n');
    }

private:
    void take(const QByteArray& bytes)
    {
        if (bytes.isEmpty())
            return;
        const QString line = QString::fromLocal8Bit(bytes);
        if (on_line)
            on_line(line);
        tail << line;
        if (tail.size() > 5)
            tail.removeFirst();
    }

    const std::function<void(const QString&)>& on_line;
    QByteArray pending;
    QStringList tail;
};

} // namespace

ProcessResult QProcessRunner::run(const QString& program, const QStringList& arguments,
                                  const std::function<void(const QString&)>& on_error_line,
                                  const std::function<bool()>& stop_requested)
{
    ProcessResult result;
    ChildProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    // No terminal to ask on, and nothing useful on standard output.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setReadChannel(QProcess::StandardError);
    process.start();
    if (!process.waitForStarted(-1)) {
        result.start_error = process.errorString();
        return result;
    }
    result.started = true;

    ErrorLines lines(on_error_line);
    // Short waits, so that a stop request is seen promptly.
    const int poll_ms = 50;
    while (process.state() != QProcess::NotRunning) {
        if (stop_requested && stop_requested()) {
            process.kill();
            result.stopped = true;
            break;
        }
        if (process.waitForReadyRead(poll_ms))
            lines.add(process.readAllStandardError());
    }
    process.waitForFinished(-1);
    lines.add(process.readAllStandardError());

    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exit_code = process.exitCode();
    result.error_tail = lines.finish();
    return result;
}
