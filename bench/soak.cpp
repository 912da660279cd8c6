// A booth's long day in one process: take after take of 12 shots at 1600 x 1200
// copied into an inbox folder, as the capture software leaves them, then
// processed into frames and a video (and, with --boomerang, its boomerang)
// exactly as a processing run makes them. Prints the resident memory and the open file descriptors
// after the 10th take and after the last; neither may grow over the day.
//     soak [--takes N] [--cameras N] [--size WxH] [--boomerang]

#include "calibration/calibration_construction.h"
#include "pipeline/processing_run.h"
#include "support/process_runner.h"
#include "tools/make_rig/rig_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace {

struct Options
{
    int takes = 200;
    RigOptions rig{12, 1600, 1200};
    bool boomerang = false;
};

const char* const usage =
    "usage: soak [--takes N] [--cameras N] [--size WxH] [--boomerang]\n"
    "  --takes    takes processed in this process (default 200, at least 11)\n"
    "  --cameras  shots per take (default 12)\n"
    "  --size     shot size in pixels (default 1600x1200)\n";

bool parse(const QStringList& arguments, Options& options)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& name = arguments[i];
        if (name == "--boomerang") {
            options.boomerang = true;
            continue;
        }
        if (i + 1 >= arguments.size())
            return false;
        const QString value = arguments[++i];
        if (name == "--takes")
            options.takes = value.toInt();
        else if (name == "--cameras")
            options.rig.cameras = value.toInt();
        else if (name == "--size" && value.count('x') == 1) {
            options.rig.width = value.section('x', 0, 0).toInt();
            options.rig.height = value.section('x', 1, 1).toInt();
        } else
            return false;
    }
    return options.takes > 10 && rig_options_error(options.rig).empty();
}

// Resident memory in megabytes, from /proc/self/statm.
double resident_mb()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

int open_descriptors()
{
    return static_cast<int>(QDir("/proc/self/fd")
                                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                                .size());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    if (!parse(app.arguments(), options)) {
        std::cerr << usage;
        return 2;
    }

    QTemporaryDir work;
    std::ostringstream quiet;
    const RigWriteResult rig = write_rig(options.rig, work.filePath("rig"), quiet);
    if (!rig.ok()) {
        std::cerr << rig.error << "\n";
        return 1;
    }
    QStringList references;
    QStringList shots;
    for (int k = 0; k < options.rig.cameras; ++k) {
        references << work.filePath("rig/" + reference_file_name(k));
        shots << work.filePath("rig/" + shot_file_name(k));
    }
    ReferenceTriple reference;
    const Calibration calibration =
        construct_calibration(references, thresholds_for(StickerColor::Yellow), reference, quiet);
    if (!calibration.all_aligned()) {
        std::cerr << "the rig did not calibrate\n";
        return 1;
    }

    ChildProcessRunner runner;
    double resident_at_10 = 0;
    int descriptors_at_10 = 0;
    QElapsedTimer clock;
    clock.start();
    for (int take = 1; take <= options.takes; ++take) {
        const QString name = QString("take_%1").arg(take, 3, 10, QChar('0'));
        const QString inbox = work.filePath("inbox/" + name);
        const QString output = work.filePath("root/" + name);
        ProcessingRequest request;
        QDir().mkpath(inbox);
        QDir().mkpath(output);
        for (int k = 0; k < shots.size(); ++k) {
            request.shots << inbox + QString("/cam%1.jpg").arg(k + 1);
            QFile::copy(shots[k], request.shots.back());
        }
        request.calibration = calibration;
        request.folder = output;
        request.boomerang = options.boomerang;
        std::ostringstream log;
        const ProcessingOutcome outcome = run_processing(runner, request, log);
        if (outcome.failure() != ProcessingFailure::None) {
            std::cerr << "take " << take << " failed: " << outcome.failed_file().toStdString()
                      << outcome.video.error_line.toStdString() << "\n";
            return 1;
        }
        // The day's output would fill the disk; the process is what is measured.
        QDir(inbox).removeRecursively();
        QDir(output).removeRecursively();
        if (take == 10) {
            resident_at_10 = resident_mb();
            descriptors_at_10 = open_descriptors();
        }
        if (take % 10 == 0)
            std::cout << "take " << take << ": " << resident_mb() << " MB resident, "
                      << open_descriptors() << " descriptors, " << clock.elapsed() / 1000.0 / take
                      << " s per take" << std::endl;
    }
    const double resident_at_end = resident_mb();
    const int descriptors_at_end = open_descriptors();
    std::printf("resident after %d takes %.1f MB, after 10 %.1f MB: %.3fx; descriptors %+d\n",
                options.takes, resident_at_end, resident_at_10, resident_at_end / resident_at_10,
                descriptors_at_end - descriptors_at_10);
    return 0;
}
