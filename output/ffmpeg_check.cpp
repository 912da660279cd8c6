#include "output/ffmpeg_check.h"

QString FfmpegProblem::reason() const
{
    if (none())
        return QString();
    if (!result.started)
        return result.start_error;
    if (result.crashed)
        return QStringLiteral("crashed");
    return QStringLiteral("exit code %1").arg(result.exit_code);
}

QString FfmpegProblem::line() const
{
    if (none())
        return QString();
    if (!result.started)
        return QStringLiteral("ffmpeg could not be started: ") + result.start_error;
    if (result.crashed)
        return QStringLiteral("ffmpeg crashed");
    return QStringLiteral("ffmpeg ended with exit code %1").arg(result.exit_code);
}

FfmpegProblem ffmpeg_problem(ProcessRunner& runner)
{
    return {runner.run(QStringLiteral("ffmpeg"), {QStringLiteral("-version")}, {}, {})};
}
