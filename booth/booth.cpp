#include "booth/booth.h"

#include "output/atomic_file.h"
#include "output/natural_order.h"
#include "output/output_folder.h"
#include "output/shot_sizes.h"
#include "pipeline/photo_check.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <sstream>

namespace {

// "erreur.txt": the reason, then the photos it was about, so that the take is
// tried again only once they change.
const QString photos_heading = QStringLiteral("\n\nPhotos :\n");

QByteArray error_text(const QString& reason, const TakeFolder& take)
{
    return (reason + photos_heading + take.fingerprint).toUtf8();
}

bool failed_with_these_files(const QString& error_path, const TakeFolder& take)
{
    QFile file(error_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString text = QString::fromUtf8(file.readAll());
    const int photos = text.lastIndexOf(photos_heading);
    return photos >= 0 && text.mid(photos + photos_heading.size()) == take.fingerprint;
}

// Why the take cannot be processed before anything is tried, or an empty string.
QString take_problem(const TakeFolder& take, const RigCalibration& rig)
{
    if (take.photos.size() != rig.camera_count())
        return QStringLiteral("%1 photos pour %2 caméras")
            .arg(take.photos.size())
            .arg(rig.camera_count());
    for (const QString& photo : take.photos) {
        const QString problem = photo_problem(photo, false);
        if (!problem.isEmpty())
            return QStringLiteral("'%1' : %2").arg(QFileInfo(photo).fileName(), problem);
        // The photo check knows a JPEG cut short; a PNG cut short still has a
        // readable header.
        if (QFileInfo(photo).suffix().compare(QLatin1String("png"), Qt::CaseInsensitive) == 0 &&
            !photo_complete(photo))
            return QStringLiteral("'%1' : photo PNG incomplète (coupée avant la fin)")
                .arg(QFileInfo(photo).fileName());
    }
    std::ostringstream quiet;
    const ShotCalibration fitted = fit_calibration_to_shots(rig, take.photos, quiet);
    return fitted.mismatch ? shot_size_problem(*fitted.mismatch) : QString();
}

} // namespace

qint64 cut_short_grace_ms(qint64 settle_ms)
{
    return std::max<qint64>(30000, 10 * settle_ms);
}

Booth::Booth(BoothSettings settings, ProcessRunner& runner, std::ostream& log)
    : settings(std::move(settings)), runner(runner), log(log)
{
}

QString Booth::output_of(const QString& take) const
{
    return settings.root + QLatin1Char('/') + take;
}

std::vector<TakeFolder> Booth::ready_takes(const QDateTime& now) const
{
    const int cameras = settings.rig.camera_count();
    std::vector<TakeFolder> ready;
    const QStringList names = QDir(settings.inbox).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString output = output_of(name);
        if (QFileInfo::exists(output + QLatin1Char('/') + take_done_marker))
            continue;
        TakeFolder take = read_take_folder(settings.inbox + QLatin1Char('/') + name);
        if (take.photos.size() < std::max(cameras, 1))
            continue;
        const qint64 unchanged_ms = take.last_change.msecsTo(now);
        if (unchanged_ms < settings.settle_ms)
            continue;
        // A photo cut short for good (a dead transfer, a file that only starts
        // like a JPEG) fails like any bad photo once the take has long stopped changing.
        if (!photos_complete(take) && unchanged_ms < cut_short_grace_ms(settings.settle_ms))
            continue;
        if (failed_with_these_files(output + QLatin1Char('/') + take_error_file, take))
            continue;
        ready.push_back(std::move(take));
    }
    std::sort(ready.begin(), ready.end(), [](const TakeFolder& a, const TakeFolder& b) {
        if (a.last_change != b.last_change)
            return a.last_change < b.last_change;
        return natural_less(a.name, b.name);
    });
    return ready;
}

ProcessingRequest Booth::run_for(const TakeFolder& take) const
{
    ProcessingRequest request = settings.run;
    request.shots = take.photos;
    request.folder = output_of(take.name);
    std::ostringstream quiet; // process() logs the scaling once, when it runs
    request.calibration = fit_calibration_to_shots(settings.rig, take.photos, quiet).calibration;
    return request;
}

TakeReport Booth::process(const TakeFolder& take, ProcessingProgress& progress)
{
    TakeReport report;
    report.name = take.name;
    const ProcessingRequest request = run_for(take);
    QDir output(request.folder);
    // An earlier attempt (killed half-way, or failed with other files) is redone from scratch.
    if (output.exists() && !output.removeRecursively()) {
        report.error =
            QStringLiteral("'%1' : impossible de vider le dossier de sortie").arg(request.folder);
        return report;
    }
    const QString folder_problem = make_folder(request.folder);
    if (!folder_problem.isEmpty()) {
        report.error = QStringLiteral("'%1' : impossible de créer le dossier de sortie (%2)")
                           .arg(request.folder, folder_problem);
        return report;
    }

    report.error = take_problem(take, settings.rig);
    if (report.error.isEmpty()) {
        const ProcessingOutcome outcome = run_processing(runner, request, log, &progress);
        // ffmpeg gets the same SIGINT or SIGTERM from a terminal or a service
        // manager and may end on it, as a failure, before the stop request
        // reaches it: the take is abandoned all the same, to be redone on the
        // next start rather than kept as failed for good.
        const bool stopped =
            outcome.failure() == ProcessingFailure::FramesStopped ||
            outcome.failure() == ProcessingFailure::VideoStopped ||
            (outcome.failure() != ProcessingFailure::None && progress.stop_requested());
        if (stopped) {
            output.removeRecursively();
            report.abandoned = true;
            return report;
        }
        if (outcome.failure() == ProcessingFailure::None) {
            // The marker goes last and whole: without it the take is not done.
            const QString marker = output.filePath(take_done_marker);
            const QString reason = write_file_atomically(marker, take.fingerprint.toUtf8());
            report.done = reason.isEmpty();
            if (!report.done)
                report.error = QStringLiteral("'%1' : impossible d'écrire le fichier (%2)")
                                   .arg(marker, reason);
        } else {
            report.error = failure_message(outcome);
        }
    }
    if (report.done)
        return report;
    // A failed take leaves its reason and nothing else.
    output.removeRecursively();
    QDir().mkpath(request.folder);
    const QString error_path = output.filePath(take_error_file);
    const QString reason = write_file_atomically(error_path, error_text(report.error, take));
    // Without its reason on disk the take is tried again at the next look; the
    // person watching the log still learns why.
    if (!reason.isEmpty())
        report.error +=
            QStringLiteral(" ; '%1' : impossible d'écrire le fichier (%2)").arg(error_path, reason);
    return report;
}
