#pragma once

#include "booth/take_folder.h"
#include "calibration/rig_calibration.h"
#include "pipeline/processing_run.h"

#include <QDateTime>
#include <QString>

#include <iosfwd>
#include <vector>

class ProcessRunner;

// What the booth is set to: where takes arrive, where their output goes, how
// long a take must stay unchanged before it counts as complete, the rig's
// calibration, and the video options of every run (in `run`, whose shots, folder
// and calibration each take sets).
struct BoothSettings
{
    QString inbox;
    QString root;
    qint64 settle_ms = 2000;
    RigCalibration rig;
    ProcessingRequest run;
};

// How long a take with all its photos waits, unchanged, for one of them that
// is still cut short before it is failed. Transfers from cameras stall for a few
// seconds at times, and --settle is chosen for the gap between two photos, not
// for a stall inside one: at least 30 s, and ten settle times for a rig set to
// settle slowly, leave a live transfer room to resume. A photo still growing
// changes, which starts the wait again, so it is never failed.
qint64 cut_short_grace_ms(qint64 settle_ms);

// How one take ended.
struct TakeReport
{
    QString name;
    bool done = false;      // frames and videos written, marker in place
    bool abandoned = false; // a stop came first: its output folder is removed
    QString error;          // why it failed, as written to its "erreur.txt"
};

// The booth's output folder of a take holds, once done, this marker (written
// last) and, when it failed, "erreur.txt".
inline const QString take_done_marker = QStringLiteral(".termine");
inline const QString take_error_file = QStringLiteral("erreur.txt");

// Booth mode over one inbox: INBOX/<take>/ photos in, ROOT/<take>/ frames and
// videos out, each take done exactly once. A plain object: the caller decides
// when to look again and how to wait.
class Booth
{
public:
    Booth(BoothSettings settings, ProcessRunner& runner, std::ostream& log);

    // The takes to process at `now`, oldest first: not done, at least one photo
    // per camera, none changed for the settle time, every one complete (or one
    // still cut short after cut_short_grace_ms, to be failed), and not already
    // failed with these very files.
    std::vector<TakeFolder> ready_takes(const QDateTime& now) const;

    // Processes `take` into ROOT/<take> after removing whatever an earlier,
    // interrupted or failed, attempt left there. `progress` must be built for
    // this take's run (see run_for) and may carry a stop request.
    TakeReport process(const TakeFolder& take, ProcessingProgress& progress);

    // The run `take` makes, with the calibration as it is read for its shots
    // (see fit_calibration_to_shots; a shot of other proportions is reported by process).
    ProcessingRequest run_for(const TakeFolder& take) const;

private:
    QString output_of(const QString& take) const;

    BoothSettings settings;
    ProcessRunner& runner;
    std::ostream& log;
};
