#pragma once

#include <QString>
#include <QStringList>

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
};

// The real runner; the program is looked up on PATH. Standard input is closed
// and standard output discarded; error output is split into lines at '\n' or
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
};

// Sets SIGCHLD back to its default. Inherited as ignored (from a shell script,
// a service manager), it makes the system reap children itself, and how a
// finished encoder ended could no longer be learnt: call it at start-up, before
// any thread starts.
void restore_child_signal();
