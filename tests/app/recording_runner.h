#pragma once

#include "output/process_runner.h"

#include <QList>

// Records every program the code under test would run, and answers with a
// scripted result instead of starting anything.
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

    ProcessResult run(const QString& program, const QStringList& arguments,
                      const std::function<void(const QString&)>&,
                      const std::function<bool()>&) override
    {
        calls.append({program, arguments});
        return result;
    }

    static ProcessResult succeeded()
    {
        ProcessResult result;
        result.started = true;
        result.exit_code = 0;
        return result;
    }
};
