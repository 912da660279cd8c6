// Arbitrary bytes as a command line: split at each NUL into arguments, given to
// the top level and to each command's parser. Parsing reads nothing, writes
// nothing and never exits; what it accepts is what the commands can run with,
// and what it refuses says why.

#include "cli/calibrate_command.h"
#include "cli/command_line.h"
#include "cli/process_command.h"
#include "cli/serve_command.h"
#include "cli/watch_command.h"
#include "output/video_size.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char* what, const QStringList& arguments)
{
    std::fprintf(stderr, "%s: %s\n", what, qPrintable(arguments.join(QStringLiteral(" | "))));
    std::abort();
}

void check(bool holds, const char* what, const QStringList& arguments)
{
    if (!holds)
        fail(what, arguments);
}

// Parses `arguments` into `parsed`; true when the command would run. One that
// does not run was asked for its help or says why.
template <typename Arguments>
bool runs(ParseOutcome (*parse)(const QStringList&, Arguments&), const QStringList& arguments,
          Arguments& parsed)
{
    const ParseOutcome outcome = parse(arguments, parsed);
    check(outcome.runs() || outcome.help || !outcome.error.trimmed().isEmpty(),
          "usage error without a message", arguments);
    return outcome.runs();
}

void check_video_options(const ProcessingRequest& request, const QStringList& arguments)
{
    check(request.fps >= 1 && request.fps <= 60, "frame rate out of range", arguments);
    check(request.quality >= 0 && request.quality <= 100, "quality out of range", arguments);
    check(request.long_side == original_video_size || request.long_side == 3840 ||
              request.long_side == 1920 || request.long_side == 1280,
          "video size not one of the window's", arguments);
}

void calibrate(const QStringList& arguments)
{
    CalibrateArguments parsed;
    if (!runs(parse_calibrate_arguments, arguments, parsed))
        return;
    const int cameras = parsed.request.references.size();
    check(cameras > 0, "no reference", arguments);
    check(!parsed.output.isEmpty(), "no output", arguments);
    // An empty name stays empty, for the photo check to report.
    for (const QString& reference : parsed.request.references)
        check(reference.isEmpty() || reference.startsWith(QLatin1Char('/')),
              "reference not absolute", arguments);
    for (auto entry = parsed.by_hand.cbegin(); entry != parsed.by_hand.cend(); ++entry) {
        check(entry.key() >= 0 && entry.key() < cameras, "points of no camera", arguments);
        for (const cv::Point2d& point : entry.value())
            check(std::isfinite(point.x) && std::isfinite(point.y), "point not finite", arguments);
    }
}

void process(const QStringList& arguments)
{
    ProcessArguments parsed;
    if (!runs(parse_process_arguments, arguments, parsed))
        return;
    check(!parsed.calibration.isEmpty(), "no calibration", arguments);
    check(!parsed.request.folder.isEmpty(), "no output", arguments);
    check(!parsed.request.shots.isEmpty(), "no shot", arguments);
    check_video_options(parsed.request, arguments);
}

void watch(const QStringList& arguments)
{
    WatchArguments parsed;
    if (!runs(parse_watch_arguments, arguments, parsed))
        return;
    const BoothSettings& settings = parsed.settings;
    check(!parsed.calibration.isEmpty(), "no calibration", arguments);
    check(!settings.root.isEmpty(), "no output", arguments);
    // An empty inbox name is taken, and reported as no folder when the booth starts.
    check(settings.settle_ms >= 0 && settings.settle_ms <= 3600 * 1000, "settle out of range",
          arguments);
    check_video_options(settings.run, arguments);
    if (parsed.serve)
        check(parsed.serve->port >= 0 && parsed.serve->port <= 65535, "port out of range",
              arguments);
}

void serve(const QStringList& arguments)
{
    ServeArguments parsed;
    if (!runs(parse_serve_arguments, arguments, parsed))
        return;
    check(!parsed.settings.root.isEmpty() || arguments.contains(QString()), "no root", arguments);
    check(parsed.settings.listen.port >= 0 && parsed.settings.listen.port <= 65535,
          "port out of range", arguments);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QStringList words;
    for (const QByteArray& word : bytes.split('\0'))
        words << QString::fromUtf8(word);

    parse_command_name(QStringList{QStringLiteral("quorvane")} + words);
    calibrate(QStringList{QStringLiteral("quorvane"), QStringLiteral("calibrate")} + words);
    process(QStringList{QStringLiteral("quorvane"), QStringLiteral("process")} + words);
    watch(QStringList{QStringLiteral("quorvane"), QStringLiteral("watch")} + words);
    serve(QStringList{QStringLiteral("quorvane"), QStringLiteral("serve")} + words);
    return 0;
}
