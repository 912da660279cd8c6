#pragma once

#include "support/process_runner.h"

#include <QFile>
#include <QList>
#include <QThread>

// Records every program the code under test would run, and answers with a
// scripted result instead of starting anything. Like ffmpeg, a program that
// succeeds leaves its output files when their folder exists.
class RecordingRunner : public ProcessRunner
{
public:
    struct Call
    {
        QString program;
        QStringList arguments;
    };

    QList<Call> calls;
    ProcessResult result = succeeded();
    // When set, each program reports `stall_at` frames encoded, then runs until
    // a stop is requested, as a long encode would.
    bool stall = false;
    int stall_at = 0;

    ProcessResult run(const QString& program, const QStringList& arguments,
                      const std::function<void(const QString&)>& on_error_line,
                      const std::function<bool()>& stop_requested) override
    {
        calls.append({program, arguments});
        if (!stall) {
            if (result.succeeded())
                leave_output(arguments);
            return result;
        }
        on_error_line(QStringLiteral("frame=%1 fps=0.0").arg(stall_at));
        while (!stop_requested())
            QThread::msleep(1);
        ProcessResult stopped = succeeded();
        stopped.stopped = true;
        return stopped;
    }

    // Every file the command names after "-y" (one command may make several),
    // or its last argument.
    static QStringList outputs_of(const QStringList& arguments)
    {
        QStringList outputs;
        for (int k = 0; k + 1 < arguments.size(); ++k) {
            if (arguments[k] == QLatin1String("-y"))
                outputs << arguments[k + 1];
        }
        if (outputs.isEmpty() && !arguments.isEmpty())
            outputs << arguments.back();
        return outputs;
    }

    static void leave_output(const QStringList& arguments)
    {
        for (const QString& path : outputs_of(arguments)) {
            QFile output(path);
            if (output.open(QIODevice::WriteOnly))
                output.write("encoded");
        }
    }

    static ProcessResult succeeded()
    {
        ProcessResult result;
        result.started = true;
        result.exit_code = 0;
        return result;
    }
};
