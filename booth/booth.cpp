#include "booth/booth.h"

#include "booth/missing_photos.h"
#include "pipeline/pass_drift_check.h"
#include "output/output_folder.h"
#include "output/run_files.h"
#include "support/atomic_file.h"
#include "support/natural_order.h"
#include "support/process_runner.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>

namespace {

// "erreur.txt": the reason, then the photos it was about, so that the take is
// tried again only once they change.
const QString photos_heading = QStringLiteral("\n\nPhotos :\n");

QByteArray error_text(const QString& reason, const TakeFolder& take)
{
    return (reason + photos_heading + take.fingerprint).toUtf8();
}

// How long a take that lacks photos waits unchanged before it fails: never less
// than a complete take waits to settle, for the photo still being copied.
qint64 incomplete_wait_ms(const BoothSettings& settings)
{
    return std::max(settings.incomplete_after_ms, settings.settle_ms);
}

// Why a take with fewer photos than cameras fails once it has waited
// `waited_ms` unchanged: the count, and the names the missing photos probably
// have, for the person who looks for them.
QString incomplete_take_problem(const TakeFolder& take, int cameras, qint64 waited_ms)
{
    QStringList names;
    for (const QString& photo : take.photos)
        names << QFileInfo(photo).fileName();
    const QStringList missing = probable_missing_photos(names, cameras);
    QString problem = QStringLiteral("prise incomplète : %1 photos sur %2 après %3 s sans "
                                     "changement")
                          .arg(take.photos.size())
                          .arg(cameras)
                          .arg(QLocale(QLocale::French).toString(waited_ms / 1000.0));
    if (missing.size() == 1)
        problem += QStringLiteral(" ; photo manquante probable : %1").arg(missing.front());
    else if (!missing.isEmpty())
        problem += QStringLiteral(" ; photos manquantes probables : %1")
                       .arg(missing.join(QStringLiteral(", ")));
    return problem;
}

// The temporary name write_file_atomically (QSaveFile) gives the marker or the
// reason before renaming it: the name and six random characters.
bool is_booth_leftover(const QString& name)
{
    static const QRegularExpression saved(QStringLiteral("^(.+)\\.[A-Za-z0-9]{6}$"));
    const QRegularExpressionMatch match = saved.match(name);
    return match.hasMatch() &&
           (match.captured(1) == take_done_marker || match.captured(1) == take_error_file ||
            match.captured(1) == take_drift_file);
}

bool is_booth_file(const QString& name)
{
    return is_run_file(name) || is_partial_video(name) || name == run_lock_file_name ||
           name == take_done_marker ||
           name == take_error_file || name == take_drift_file || is_booth_leftover(name);
}

// What the staging folder `staging` holds besides a run's files, named from the
// take's output folder: the run would refuse to clear it, and the take would
// otherwise be failed for good for what its owner is told to move.
QStringList staged_foreign_entries(const QString& staging)
{
    QStringList foreign;
    for (const QString& name : staging_entries(staging).foreign)
        foreign << staging_folder_name + QLatin1Char('/') + name;
    return foreign;
}

// What stands in the take's output folder that the booth did not write: a
// link, a folder, a file of another name. The run's staging folder is the
// run's own business.
QStringList foreign_entries(const QString& folder)
{
    QStringList foreign;
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        if (entry.isSymLink())
            foreign << name;
        else if (entry.isDir() && name != staging_folder_name)
            foreign << name;
        else if (entry.isDir())
            foreign << staged_foreign_entries(entry.filePath());
        else if (!entry.isDir() && (!entry.isFile() || !is_booth_file(name)))
            foreign << name;
    }
    return foreign;
}

// Removes, by name and never through a link, the plain files of `folder` that
// `which` names.
void remove_booth_files(const QString& folder, const std::function<bool(const QString&)>& which)
{
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo& file : files) {
        if (!file.isSymLink() && which(file.fileName()))
            QFile::remove(file.filePath());
    }
}

bool is_run_output(const QString& name)
{
    return is_run_file(name) || is_partial_video(name) || name == take_drift_file ||
           is_booth_leftover(name);
}

// The system's words in `text` when they tell of the machine rather than of the
// take: a full disk, a quota, a file size limit, a folder it may not write.
QString machine_reason(const QString& text)
{
    for (const int error : {ENOSPC, EDQUOT, EFBIG, EACCES, EPERM, EROFS, EIO}) {
        const QString reason = QString::fromLocal8Bit(std::strerror(error));
        if (text.contains(reason, Qt::CaseInsensitive))
            return reason;
    }
    return QString();
}

// The video export's own words for ffmpeg that did not start or died, and for
// its files that could not be made.
bool export_machine_line(const QString& line)
{
    return line.contains(QLatin1String(" could not be started: ")) ||
           line.startsWith(QLatin1String("ffmpeg crashed")) ||
           line.startsWith(QLatin1String("cannot "));
}

// What a failed run says of the machine, or an empty string when the fault is
// the take's. Said once per distinct value.
QString machine_fault_of(const ProcessingOutcome& outcome)
{
    switch (outcome.failure()) {
    case ProcessingFailure::UnwritableFrame:
        return machine_reason(outcome.frames.unwritable_reason);
    case ProcessingFailure::VideoFailed: {
        const QString& line = outcome.video.error_line;
        const QString reason = machine_reason(line);
        if (!reason.isEmpty())
            return reason;
        return export_machine_line(line) ? line : QString();
    }
    default:
        return QString();
    }
}

bool failed_with_these_files(const QString& error_path, const TakeFolder& take)
{
    QFile file(error_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString text = QString::fromUtf8(file.readAll());
    const int photos = text.lastIndexOf(photos_heading);
    if (photos < 0 || text.mid(photos + photos_heading.size()) != take.fingerprint)
        return false;
    // A reason of the machine kept by an earlier version (ffmpeg missing, a full
    // disk) does not hold the take for good.
    const QString reason = text.left(photos);
    const int ffmpeg = reason.indexOf(QLatin1String("ffmpeg : "));
    return machine_reason(reason).isEmpty() &&
           (ffmpeg < 0 || !export_machine_line(reason.mid(ffmpeg + 9)));
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

QDateTime Booth::unchanged_since(const TakeFolder& take, const QDateTime& now)
{
    Sighting& seen = sightings[take.name];
    if (seen.fingerprint != take.fingerprint || !seen.since.isValid()) {
        // A camera clock ahead dates the photos after the booth saw them; a change
        // the booth had not seen at its previous look came after that look.
        QDateTime since = std::min(take.last_change, now);
        if (previous_look.isValid())
            since = std::max(since, previous_look);
        seen = {take.fingerprint, since};
    }
    return seen.since;
}

std::vector<TakeFolder> Booth::ready_takes(const QDateTime& now)
{
    settling = 0;
    waiting.clear();
    if (machine_fault_pending) {
        machine_retry_at = now.addMSecs(machine_retry_ms);
        machine_fault_pending = false;
    }
    if (machine_retry_at.isValid()) {
        if (now < machine_retry_at)
            return {};
        machine_retry_at = QDateTime();
    }
    const int cameras = settings.rig.camera_count();
    std::vector<TakeFolder> ready;
    const QStringList names = QDir(settings.inbox).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString output = output_of(name);
        // Through a link neither the marker nor the reason is the booth's own:
        // process() reports the link.
        const bool linked = QFileInfo(output).isSymLink();
        if (!linked && QFileInfo(output + QLatin1Char('/') + take_done_marker).isFile())
            continue;
        TakeFolder take = read_take_folder(settings.inbox + QLatin1Char('/') + name);
        if (take.photos.isEmpty())
            continue;
        const qint64 unchanged_ms = unchanged_since(take, now).msecsTo(now);
        // A camera that did not fire leaves its take short for good: once it has
        // long stopped changing, it fails with what is missing.
        if (take.photos.size() < std::max(cameras, 1)) {
            if (unchanged_ms < incomplete_wait_ms(settings)) {
                waiting.emplace_back(
                    name, QStringLiteral("%1 of %2 photos").arg(take.photos.size()).arg(cameras));
                continue;
            }
            if (!linked &&
                failed_with_these_files(output + QLatin1Char('/') + take_error_file, take))
                continue;
            ready.push_back(std::move(take));
            continue;
        }
        if (unchanged_ms < settings.settle_ms) {
            ++settling;
            continue;
        }
        // Before the photos are opened: a take that failed with these very files
        // waits for them to change, not for a look at each of them.
        if (!linked && failed_with_these_files(output + QLatin1Char('/') + take_error_file, take))
            continue;
        // A photo cut short for good (a dead transfer, a file that only starts
        // like a JPEG) fails like any bad photo once the take has long stopped changing.
        if (!photos_complete(take) && unchanged_ms < cut_short_grace_ms(settings.settle_ms)) {
            waiting.emplace_back(name, QStringLiteral("a photo still incomplete"));
            continue;
        }
        ready.push_back(std::move(take));
    }
    for (auto seen = sightings.begin(); seen != sightings.end();)
        seen = names.contains(seen->first) ? std::next(seen) : sightings.erase(seen);
    previous_look = now;
    std::sort(ready.begin(), ready.end(), [](const TakeFolder& a, const TakeFolder& b) {
        if (a.last_change != b.last_change)
            return a.last_change < b.last_change;
        return natural_less(a.name, b.name);
    });
    return ready;
}

ProcessingPlan Booth::plan_for(const TakeFolder& take, bool check_photos) const
{
    std::ostringstream quiet; // the booth's log has no line for the scaling
    return plan_processing(settings.rig, take.photos, output_of(take.name), settings.run,
                           check_photos, quiet);
}

ProcessingRequest Booth::run_for(const TakeFolder& take) const
{
    return plan_for(take, false).request;
}

TakeReport Booth::held(TakeReport report, TakeFault fault, const QString& key)
{
    report.fault = fault;
    QString& said = fault == TakeFault::Place ? place_said[report.name] : machine_said;
    report.already_said = said == key;
    said = key;
    if (fault == TakeFault::Machine)
        machine_fault_pending = true;
    return report;
}

void Booth::correct_in_force(const TakeFolder& take, ProcessingPlan& plan)
{
    const RigCalibration& rig = settings.rig;
    drift_in_force.resize(rig.camera_count());
    cannot_compare_said.resize(rig.camera_count(), false);
    if (settings.on_drift != DriftMode::Correct)
        return;
    RigCalibration corrected = rig;
    bool any = false;
    for (int camera = 0; camera < rig.camera_count(); ++camera)
        if (const std::optional<CameraDrift>& in_force = drift_in_force[camera]) {
            compose_drift(corrected, camera, in_force->motion);
            any = true;
        }
    if (any) {
        std::ostringstream quiet;
        plan.request.calibration =
            fit_calibration_to_shots(corrected, take.photos, quiet).calibration;
    }
}

std::vector<std::optional<Similarity>> Booth::motions_in_force() const
{
    std::vector<std::optional<Similarity>> motions;
    for (const std::optional<CameraDrift>& in_force : drift_in_force)
        motions.push_back(in_force ? std::optional<Similarity>(in_force->motion) : std::nullopt);
    return motions;
}

QString Booth::follow_drift(const TakeFolder& take, const std::vector<CameraDrift>& drift,
                            TakeReport& report, QStringList& notes)
{
    const RigCalibration& rig = settings.rig;
    const DriftMode mode = settings.on_drift;
    QStringList moved;
    for (int camera = 0; camera < rig.camera_count(); ++camera) {
        const CameraDrift& found = drift[camera];
        std::optional<CameraDrift>& in_force = drift_in_force[camera];
        if (found.state == DriftState::CannotCompare) {
            // Said once; a correction in force goes on.
            if (!cannot_compare_said[camera])
                log << "Take " << take.name.toStdString() << ": "
                    << cannot_compare_text(camera).toStdString() << std::endl;
            cannot_compare_said[camera] = true;
        } else if (found.state != DriftState::NotChecked) {
            cannot_compare_said[camera] = false;
            if (found.state == DriftState::Moved)
                moved << drift_text(camera, found);
            if (mode == DriftMode::Warn && found.state == DriftState::Moved)
                report.drift_lines << drift_text(camera, found);
            // The correction changes only once the camera moved again (the
            // pass made the same choice for this take's frame).
            const Similarity current = in_force ? in_force->motion : Similarity();
            if (mode == DriftMode::Correct &&
                drift_between(rig, camera, found.motion, current) >= drift_threshold_px) {
                if (found.state == DriftState::Moved) {
                    in_force = found;
                    report.drift_lines << drift_text(camera, found) + QStringLiteral(" ; corrigée");
                } else {
                    in_force.reset();
                    report.drift_lines << QStringLiteral("Caméra %1 : revenue à sa place du "
                                                         "calibrage, plus corrigée")
                                              .arg(camera + 1);
                }
            }
        }
        if (mode == DriftMode::Correct && in_force)
            notes << drift_text(camera, *in_force) + QStringLiteral(" ; corrigée");
    }
    if (mode == DriftMode::Warn)
        notes = moved;
    if (mode == DriftMode::Fail && !moved.isEmpty())
        return QStringLiteral("%1 ; prise refusée (--on-drift fail) : recalibrez le banc")
            .arg(moved.join(QStringLiteral(" ; ")));
    return {};
}

TakeReport Booth::process(const TakeFolder& take, ProcessingProgress& progress)
{
    TakeReport report;
    report.name = take.name;
    const QString folder = output_of(take.name);

    // Whatever stands in the way is the user's: it is reported, never emptied.
    const QFileInfo place(folder);
    if (place.isSymLink())
        report.error = QStringLiteral("'%1' : c'est un lien symbolique, la borne n'écrit pas "
                                      "au travers")
                           .arg(folder);
    else if (place.exists() && !place.isDir())
        report.error =
            QStringLiteral("'%1' : un fichier occupe la place du dossier de sortie").arg(folder);
    else if (place.exists()) {
        const QStringList foreign = foreign_entries(folder);
        if (!foreign.isEmpty())
            report.error =
                QStringLiteral("'%1' : le dossier contient des fichiers que la borne "
                               "n'a pas écrits (%2), il n'est pas vidé")
                    .arg(folder, foreign.mid(0, 3).join(QStringLiteral(", ")) +
                                     (foreign.size() > 3 ? QStringLiteral(", …") : QString()));
    }
    if (!report.error.isEmpty())
        return held(report, TakeFault::Place, report.error);
    place_said.erase(take.name);

    // The reason of an earlier failure goes, and what a killed attempt left
    // half-written; its frames and videos are the run's to replace.
    remove_booth_files(folder, [](const QString& name) {
        return name == take_error_file || name == take_drift_file || is_partial_video(name) ||
               is_booth_leftover(name);
    });
    const QString folder_problem = make_folder(folder);
    if (!folder_problem.isEmpty()) {
        report.error = QStringLiteral("'%1' : impossible de créer le dossier de sortie (%2)")
                           .arg(folder, folder_problem);
        return held(report, TakeFault::Machine, folder_problem);
    }

    QString machine;
    ProcessingPlan plan;
    QStringList drift_notes;
    const int cameras = settings.rig.camera_count();
    if (take.photos.size() < cameras) {
        report.error = incomplete_take_problem(take, cameras, incomplete_wait_ms(settings));
    } else {
        plan = plan_for(take, true);
        report.error = plan_problem_text(plan.problem);
        if (report.error.isEmpty())
            correct_in_force(take, plan);
    }
    if (report.error.isEmpty()) {
        // Each shot is checked as the frames pass decodes it.
        PassDriftCheck drift_check(settings.rig, settings.on_drift, motions_in_force());
        plan.request.shot_check = &drift_check;
        const ProcessingOutcome outcome = run_processing(runner, plan.request, log, &progress);
        // Another process (a second booth on this root) writes this take's
        // folder: nothing there is this run's to remove, and the take waits.
        if (outcome.folder_busy) {
            report.error = failure_message(outcome);
            return held(report, TakeFault::Machine, report.error);
        }
        const bool refused = outcome.failure() == ProcessingFailure::ShotRefused;
        if (refused)
            drift_check.check_rest(take.photos);
        const QString drift_refusal =
            follow_drift(take, drift_check.found(), report, drift_notes);
        // ffmpeg gets the same SIGINT or SIGTERM from a terminal or a service
        // manager and may end on it, as a failure, before the stop request
        // reaches it: the take is abandoned all the same, to be redone on the
        // next start rather than kept as failed for good.
        const bool stopped =
            outcome.failure() == ProcessingFailure::FramesStopped ||
            outcome.failure() == ProcessingFailure::VideoStopped ||
            (outcome.failure() != ProcessingFailure::None && progress.stop_requested());
        if (stopped) {
            remove_booth_files(folder, is_run_output);
            QDir().rmdir(folder); // only once empty: never what the booth did not write
            report.abandoned = true;
            return report;
        }
        if (outcome.failure() == ProcessingFailure::None) {
            QString reason;
            QString written = QDir(folder).filePath(take_drift_file);
            if (!drift_notes.isEmpty())
                reason = write_file_atomically(
                    written, (drift_notes.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
            // The marker goes last and whole: without it the take is not done.
            if (reason.isEmpty()) {
                written = QDir(folder).filePath(take_done_marker);
                reason = write_file_atomically(written, take.fingerprint.toUtf8());
            }
            report.done = reason.isEmpty();
            if (!report.done) {
                report.error = QStringLiteral("'%1' : impossible d'écrire le fichier (%2)")
                                   .arg(written, reason);
                machine = machine_reason(reason);
            }
        } else if (refused) {
            report.error = drift_refusal;
        } else {
            report.error = failure_message(outcome);
            machine = machine_fault_of(outcome);
        }
    }
    if (report.done) {
        machine_said.clear();
        return report;
    }
    // A failed take leaves its reason and nothing else; a fault of the machine
    // leaves nothing, so that the take is tried again, even after a restart.
    remove_booth_files(folder, is_run_output);
    if (!machine.isEmpty())
        return held(report, TakeFault::Machine, machine);
    const QString error_path = QDir(folder).filePath(take_error_file);
    const QString reason = write_file_atomically(error_path, error_text(report.error, take));
    // Without its reason on disk the take is tried again at the next look; the
    // person watching the log still learns why. A disk that refuses it is the
    // machine's fault, tried again after the pause rather than at every look.
    if (!reason.isEmpty()) {
        report.error +=
            QStringLiteral(" ; '%1' : impossible d'écrire le fichier (%2)").arg(error_path, reason);
        machine = machine_reason(reason);
        if (!machine.isEmpty())
            return held(report, TakeFault::Machine, machine);
    }
    return report;
}
