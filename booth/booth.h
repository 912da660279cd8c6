#pragma once

#include "booth/take_folder.h"
#include "calibration/rig_calibration.h"
#include "pipeline/camera_drift.h"
#include "pipeline/processing_plan.h"

#include <QDateTime>
#include <QString>

#include <iosfwd>
#include <map>
#include <optional>
#include <utility>
#include <vector>

class ProcessRunner;

// What the booth is set to: where takes arrive, where their output goes, how
// long a take must stay unchanged before it counts as complete, how long one
// that lacks photos waits unchanged before it fails (a camera that did not
// fire), the rig's calibration, and the video options of every run (in `run`,
// whose shots, folder and calibration each take sets).
struct BoothSettings
{
    QString inbox;
    QString root;
    qint64 settle_ms = 2000;
    qint64 incomplete_after_ms = 30000; // never less than settle_ms in effect
    RigCalibration rig;
    ProcessingRequest run;
    // What to do about a camera that moved since the calibration.
    DriftMode on_drift = DriftMode::Correct;
};

// How long a take with all its photos waits, unchanged, for one of them that
// is still cut short before it is failed. Transfers from cameras stall for a few
// seconds at times, and --settle is chosen for the gap between two photos, not
// for a stall inside one: at least 30 s, and ten settle times for a rig set to
// settle slowly, leave a live transfer room to resume. A photo still growing
// changes, which starts the wait again, so it is never failed.
qint64 cut_short_grace_ms(qint64 settle_ms);

// How long the booth waits after a fault of the machine (ffmpeg that cannot
// start, a full disk, a folder it may not write) before it tries again.
constexpr qint64 machine_retry_ms = 15000;

// Why a take failed, which decides when it is tried again.
enum class TakeFault
{
    Take,    // its photos (a damaged one, the wrong count or size): once they change
    Place,   // ROOT/<take> is in the way (a file, a link, files the booth did not
             // write): nothing is written, tried at each look until it is cleared
    Machine, // the machine: nothing is kept, tried again after machine_retry_ms
};

// How one take ended.
struct TakeReport
{
    QString name;
    bool done = false;      // frames and videos written, marker in place
    bool abandoned = false; // a stop came first: what the booth wrote is removed
    QString error;          // why it failed (for a take fault, as in its "erreur.txt")
    TakeFault fault = TakeFault::Take;
    // The same place or machine fault was reported before: no new line for it.
    bool already_said = false;
    // Cameras found moved at this take, one line each for the person watching;
    // a correction goes on being used without a new line until the camera
    // moves again. A camera that cannot be compared is said once on the log.
    QStringList drift_lines;
};

// The booth's output folder of a take holds, once done, this marker (written
// last) and, when it failed, "erreur.txt".
inline const QString take_done_marker = QStringLiteral(".termine");
inline const QString take_error_file = QStringLiteral("erreur.txt");
// A take made while a camera stood elsewhere than at its calibration gets one
// line per such camera in this file, beside its frames.
inline const QString take_drift_file = QStringLiteral("derive.txt");

// Booth mode over one inbox: INBOX/<take>/ photos in, ROOT/<take>/ frames and
// videos out, each take done exactly once. A plain object: the caller decides
// when to look again and how to wait.
class Booth
{
public:
    Booth(BoothSettings settings, ProcessRunner& runner, std::ostream& log);

    // The takes to process at `now`, oldest first: not done, at least one photo
    // per camera (or fewer, unchanged for incomplete_after_ms, to be failed),
    // none changed for the settle time, every one complete (or one still cut
    // short after cut_short_grace_ms, to be failed), and not already failed with
    // these very files; none for machine_retry_ms after a fault of
    // the machine. A take counts as unchanged from its photos' latest change
    // time, but never from later than the look at which the booth first saw
    // them as they are (a camera clock ahead dates them in the future) nor from
    // earlier than the look before it.
    std::vector<TakeFolder> ready_takes(const QDateTime& now);

    // How many takes the last ready_takes left waiting only for the settle
    // time: they will be ready at a later look unless they change.
    int settling_takes() const { return settling; }

    // The takes the last ready_takes left waiting for their photos, each with
    // why ("2 of 4 photos", "a photo still incomplete"), in inbox order.
    const std::vector<std::pair<QString, QString>>& waiting_takes() const { return waiting; }

    // Processes `take` into ROOT/<take>. Only what the booth writes there is
    // ever removed, by name; a folder holding anything else, a file or a link
    // in its place fails the take without touching it. `progress` must be built
    // for this take's run (see run_for) and may carry a stop request.
    TakeReport process(const TakeFolder& take, ProcessingProgress& progress);

    // The run `take` makes, with the calibration as it is read for its shots
    // (see fit_calibration_to_shots; a shot of other proportions is reported by process).
    ProcessingRequest run_for(const TakeFolder& take) const;

private:
    // The take's run; `check_photos` also checks its photos.
    ProcessingPlan plan_for(const TakeFolder& take, bool check_photos) const;
    QString output_of(const QString& take) const;
    // `plan`'s calibration with the corrections in force (settings.on_drift
    // correct), which the take's frames pass starts from.
    void correct_in_force(const TakeFolder& take, ProcessingPlan& plan);
    // By camera, the motion in force, for the pass's drift check.
    std::vector<std::optional<Similarity>> motions_in_force() const;
    // Follows what the frames pass found of each camera (`drift`): the lines
    // said of the take, the corrections kept for the following takes, and
    // `notes`, the take's derive.txt lines; returns why the take is refused
    // (settings.on_drift fail and a camera moved), else an empty string.
    QString follow_drift(const TakeFolder& take, const std::vector<CameraDrift>& drift,
                         TakeReport& report, QStringList& notes);
    QDateTime unchanged_since(const TakeFolder& take, const QDateTime& now);
    TakeReport held(TakeReport report, TakeFault fault, const QString& key);

    // The fingerprint a take had when the booth first saw it so, and since when
    // it counts as unchanged.
    struct Sighting
    {
        QString fingerprint;
        QDateTime since;
    };

    BoothSettings settings;
    ProcessRunner& runner;
    std::ostream& log;
    std::map<QString, Sighting> sightings;
    QDateTime previous_look;
    int settling = 0;
    std::vector<std::pair<QString, QString>> waiting;
    // The place fault last reported for each take, and the machine fault last
    // reported, so that each is said once.
    std::map<QString, QString> place_said;
    QString machine_said;
    bool machine_fault_pending = false;
    QDateTime machine_retry_at;
    // Per camera, the motion corrected at every take since it was found, and
    // whether its shots were last said not to be comparable.
    std::vector<std::optional<CameraDrift>> drift_in_force;
    std::vector<bool> cannot_compare_said;
};
