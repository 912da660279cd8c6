#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>

// How a child process ended.
struct ProcessResult
{
    bool started = false; // false: the program could not be started (missing, not executable)
    bool crashed = false; // ended by a signal
    bool stopped = false; // killed because a stop was requested
    int exit_code = -1;
    QString error_tail;  // the last lines the program wrote to its error output
    QString start_error; // why it could not be started, when !started

    bool succeeded() const { return started && !crashed && !stopped && exit_code == 0; }
};

// The next bytes for a child's standard input: valid until the source is asked
// again; an empty piece ends the input, unless it is marked `later`: nothing is
// ready yet, and the source is asked again once the stop request and the error
// output have been looked at. A source waiting for its bytes waits a few tens of
// milliseconds at most before it answers `later`, so that a stop stays prompt.
struct InputPiece
{
    const char* data = nullptr;
    std::size_t size = 0;
    bool later = false;
};
using InputSource = std::function<InputPiece()>;

// Starts programs without a command interpreter, so no argument is ever
// interpreted by a shell. Tests substitute a recording runner.
class ProcessRunner
{
public:
    virtual ~ProcessRunner() = default;

    // Runs `program` with `arguments` and waits for it to end. `on_error_line`
    // (may be empty) receives each line of the program's error output as it
    // arrives. `stop_requested` (may be empty) is asked every few tens of
    // milliseconds while the program runs; once it answers true the program is
    // killed and the result says `stopped`. Both are called on the calling thread.
    virtual ProcessResult run(const QString& program, const QStringList& arguments,
                              const std::function<void(const QString&)>& on_error_line,
                              const std::function<bool()>& stop_requested) = 0;

    // As run, with what `input` gives written to the program's standard input,
    // which is closed after the last piece. A program that ends, or closes its
    // input, before taking everything ends the feeding; how it ended is the
    // result. `input` is asked on the calling thread, between the other calls.
    // This default, for runners that only record commands, runs the program
    // without feeding it.
    virtual ProcessResult run_fed(const QString& program, const QStringList& arguments,
                                  const InputSource& input,
                                  const std::function<void(const QString&)>& on_error_line,
                                  const std::function<bool()>& stop_requested);

    // How many programs callers may run through this runner at once, each
    // from a thread of its own. One by default: a runner that records its
    // commands records them in order.
    virtual int concurrent_runs() const { return 1; }
};

// The real runner; the program is looked up on PATH. Standard input is empty
// (or fed, by run_fed) and standard output discarded; error output is split into lines at '\n' or
// '\r' (progress lines end in '\r'). Blocks until the program ends. Any thread
// may call it, without an event loop.
//
// The program dies with this one, however this one ends (a crash, SIGKILL, the
// session closing), even in the instant between starting it and its exec: no
// encoder, and no half-started copy of this program, is ever left behind
// writing into or holding the output folder. (QProcess cannot promise that: its
// child waits for a word from the parent before any set-up code runs, and waits
// forever when the parent is killed in between.)
class ChildProcessRunner : public ProcessRunner
{
public:
    ProcessResult run(const QString& program, const QStringList& arguments,
                      const std::function<void(const QString&)>& on_error_line,
                      const std::function<bool()>& stop_requested) override;
    // Writes in pieces as the pipe takes them, so that error output, the stop
    // request and the child's end are seen while it is fed. A child that dies
    // mid-feed never costs this program a SIGPIPE, whatever its disposition.
    ProcessResult run_fed(const QString& program, const QStringList& arguments,
                          const InputSource& input,
                          const std::function<void(const QString&)>& on_error_line,
                          const std::function<bool()>& stop_requested) override;
    // Two, or one on a single core: two encoders fill two cores, more only
    // share them.
    int concurrent_runs() const override;
};

// Sets SIGCHLD back to its default. Inherited as ignored (from a shell script,
// a service manager), it makes the system reap children itself, and how a
// finished encoder ended could no longer be learnt: call it at start-up, before
// any thread starts.
void restore_child_signal();
