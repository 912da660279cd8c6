#include "support/process_runner.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <thread>
#include <vector>

namespace {

// A file descriptor closed when it goes out of scope.
class Descriptor
{
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    int get() const { return fd; }
    void reset(int other = -1)
    {
        if (fd >= 0)
            close(fd);
        fd = other;
    }

private:
    int fd = -1;
};

// Both ends of a pipe, closed on exec; false when none could be made.
bool make_pipe(Descriptor& read_end, Descriptor& write_end)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return false;
    read_end.reset(ends[0]);
    write_end.reset(ends[1]);
    return true;
}

// Runs in the child between fork and exec, so only async-signal-safe calls:
// everything it needs was prepared by the parent. Never returns.
[[noreturn]] void exec_child(const char* path, char* const argv[], pid_t parent, int input,
                             int null_device, int error_output, int exec_failure)
{
    // The program dies with this one. Killed before the line below took
    // effect, the parent is already gone and the child has been handed to
    // another: it stops here instead of starting an orphan.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(127);
    // Nothing of this program's signal set-up carries over: a mask blocked by
    // the calling thread or an ignored SIGPIPE or SIGCHLD would survive the exec.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGCHLD, SIG_DFL);
    if (dup2(input, STDIN_FILENO) < 0 || dup2(null_device, STDOUT_FILENO) < 0 ||
        dup2(error_output, STDERR_FILENO) < 0)
        _exit(127);
    // Files this program opened without close-on-exec stay out of the child.
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    execv(path, argv);
    const int failure = errno;
    [[maybe_unused]] const ssize_t written = write(exec_failure, &failure, sizeof failure);
    _exit(127);
}

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

// How the child ended, from its wait status; an unknown end (the child reaped
// elsewhere) counts as a crash, never as a success.
void record_end(bool known, int status, ProcessResult& result)
{
    result.crashed = !known || WIFSIGNALED(status);
    result.exit_code = known && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits for the child to end and records how it ended.
void reap(pid_t child, ProcessResult& result)
{
    int status = 0;
    pid_t ended;
    while ((ended = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    record_end(ended == child, status, result);
}

// The program as exec will take it: a name without a slash is looked up on PATH.
QString program_path(const QString& program)
{
    return program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
}

// What reading a descriptor gave: bytes, nothing yet, or the end.
enum class Read
{
    Bytes,
    Nothing,
    End,
};

Read read_available(int fd, ErrorLines& lines)
{
    char buffer[4096];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count > 0) {
        lines.add(QByteArray(buffer, int(count)));
        return Read::Bytes;
    }
    return count == 0 || (errno != EINTR && errno != EAGAIN) ? Read::End : Read::Nothing;
}

// SIGPIPE held back on this thread while it writes to a child: a child that
// dies mid-feed makes the write fail with EPIPE instead of ending this program
// (the signal a failed pipe write raises goes to the writing thread). One raised
// meanwhile is taken back before the mask is restored.
class PipeSignalHeld
{
public:
    PipeSignalHeld()
    {
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
        sigset_t pending;
        sigpending(&pending);
        already_pending = sigismember(&pending, SIGPIPE) == 1;
    }
    PipeSignalHeld(const PipeSignalHeld&) = delete;
    PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;
    ~PipeSignalHeld()
    {
        if (raised && !already_pending) {
            const timespec none{};
            while (sigtimedwait(&pipe_signal, nullptr, &none) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }

    bool raised = false;

private:
    sigset_t pipe_signal;
    sigset_t previous;
    bool already_pending = false;
};

// Writes what an input source gives into the child's standard input, as much
// at a time as the pipe takes without blocking.
class InputFeed
{
public:
    InputFeed(const InputSource& source, Descriptor& pipe, PipeSignalHeld& held)
        : source(source), pipe(pipe), held(held)
    {
    }

    bool open() const { return pipe.get() >= 0; }

    // One write; the input is closed after the last piece, or once the child
    // no longer reads it.
    void write_some()
    {
        if (offset == piece.size) {
            piece = source();
            offset = 0;
            if (piece.later) {
                piece = InputPiece{};
                return;
            }
            if (piece.size == 0 || !piece.data) {
                pipe.reset();
                return;
            }
        }
        const std::size_t chunk = std::min<std::size_t>(piece.size - offset, 1 << 20);
        const ssize_t written = write(pipe.get(), piece.data + offset, chunk);
        if (written > 0) {
            offset += static_cast<std::size_t>(written);
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            held.raised = held.raised || errno == EPIPE;
            pipe.reset();
        }
    }

private:
    const InputSource& source;
    Descriptor& pipe;
    PipeSignalHeld& held;
    InputPiece piece;
    std::size_t offset = 0;
};

ProcessResult run_child(const QString& program, const QStringList& arguments,
                        const InputSource* input,
                        const std::function<void(const QString&)>& on_error_line,
                        const std::function<bool()>& stop_requested)
{
    ProcessResult result;
    const QString path = program_path(program);
    if (path.isEmpty()) {
        result.start_error = QStringLiteral("not found on PATH");
        return result;
    }

    // Everything the child needs, made before the fork: it may not allocate.
    const QByteArray path_bytes = QFile::encodeName(path);
    std::vector<QByteArray> argument_bytes{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        argument_bytes.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& bytes : argument_bytes)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);
    Descriptor null_device(open("/dev/null", O_RDWR | O_CLOEXEC));
    Descriptor error_read, error_write, failure_read, failure_write, input_read, input_write;
    if (null_device.get() < 0 || !make_pipe(error_read, error_write) ||
        !make_pipe(failure_read, failure_write) ||
        (input && !make_pipe(input_read, input_write))) {
        result.start_error = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        result.start_error = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    if (child == 0)
        exec_child(path_bytes.constData(), argv.data(), parent,
                   input ? input_read.get() : null_device.get(), null_device.get(),
                   error_write.get(), failure_write.get());
    error_write.reset();
    failure_write.reset();
    input_read.reset();

    // The failure pipe closes on a successful exec, or carries why it failed.
    int failure = 0;
    ssize_t count;
    while ((count = read(failure_read.get(), &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    if (count == sizeof failure) {
        reap(child, result);
        result.start_error = QString::fromLocal8Bit(std::strerror(failure));
        return result;
    }
    result.started = true;

    ErrorLines lines(on_error_line);
    fcntl(error_read.get(), F_SETFL, fcntl(error_read.get(), F_GETFL) | O_NONBLOCK);
    bool output_open = true;
    PipeSignalHeld held;
    const InputSource no_input;
    InputFeed feed(input ? *input : no_input, input_write, held);
    if (input) {
        fcntl(input_write.get(), F_SETFL, fcntl(input_write.get(), F_GETFL) | O_NONBLOCK);
        // A larger pipe takes a video frame in fewer writes; the default still works.
        fcntl(input_write.get(), F_SETPIPE_SZ, 1 << 20);
    }
    // Short waits, so that a stop request is seen promptly.
    const int poll_ms = 50;
    for (;;) {
        if (stop_requested && stop_requested()) {
            kill(child, SIGKILL);
            result.stopped = true;
            break;
        }
        int status = 0;
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child || (ended < 0 && errno != EINTR)) {
            record_end(ended == child, status, result);
            break;
        }
        pollfd watched[2] = {{output_open ? error_read.get() : -1, POLLIN, 0},
                             {feed.open() ? input_write.get() : -1, POLLOUT, 0}};
        if (poll(watched, 2, poll_ms) > 0) {
            if (output_open && watched[0].revents != 0)
                output_open = read_available(error_read.get(), lines) != Read::End;
            if (feed.open() && watched[1].revents != 0)
                feed.write_some();
        }
    }
    // The child is gone or going: no more input.
    input_write.reset();
    if (result.stopped)
        reap(child, result);
    // What the program wrote before it ended.
    while (output_open && read_available(error_read.get(), lines) == Read::Bytes) {
    }
    result.error_tail = lines.finish();
    return result;
}

} // namespace

ProcessResult ProcessRunner::run_fed(const QString& program, const QStringList& arguments,
                                     const InputSource& /*input*/,
                                     const std::function<void(const QString&)>& on_error_line,
                                     const std::function<bool()>& stop_requested)
{
    return run(program, arguments, on_error_line, stop_requested);
}

ProcessResult ChildProcessRunner::run(const QString& program, const QStringList& arguments,
                                      const std::function<void(const QString&)>& on_error_line,
                                      const std::function<bool()>& stop_requested)
{
    return run_child(program, arguments, nullptr, on_error_line, stop_requested);
}

ProcessResult ChildProcessRunner::run_fed(const QString& program, const QStringList& arguments,
                                          const InputSource& input,
                                          const std::function<void(const QString&)>& on_error_line,
                                          const std::function<bool()>& stop_requested)
{
    return run_child(program, arguments, &input, on_error_line, stop_requested);
}

int ChildProcessRunner::concurrent_runs() const
{
    return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

void restore_child_signal()
{
    signal(SIGCHLD, SIG_DFL);
}
