#pragma once

#include "calibration/calibration.h"
#include "output/aligned_images.h"
#include "output/video_export.h"
#include "pipeline/run_options.h"
#include "pipeline/run_step.h"
#include "support/batch_progress.h"

#include <QStringList>

#include <atomic>
#include <limits>
#include <iosfwd>

class ProcessRunner;

// What a processing run needs: one shot per camera in camera order, the rig's
// calibration, the output folder (it must exist) and the video options.
struct ProcessingRequest
{
    QStringList shots;
    Calibration calibration;
    QString folder;
    // JPEG quality of the frames, 0 to 100
    int quality = quality_for_compression(default_compression);
    int fps = default_fps;
    bool boomerang = default_boomerang;
    // The long side of the videos in pixels (see video_size); the frames keep theirs.
    int long_side = default_long_side;
    bool gif = default_gif;
    // Each frame's colour and exposure matched to the middle camera's.
    bool colour_match = default_colour_match;
    // Laid over the videos, the GIFs and the still (the plan checks its file).
    VideoOverlay overlay;
    // The videos' shape (see clip_rect), centred on the sticker column at
    // `sticker_column_x`, reference pixels, which the plan takes from the rig
    // (not a number: the frames' centre).
    ClipAspect aspect = ClipAspect::Original;
    double sticker_column_x = std::numeric_limits<double>::quiet_NaN();
    // How long the videos play.
    ClipLength length;
    // Also "output_still.jpg", the middle camera's frame as the videos show it.
    bool still = false;
    // Frames made between each pair of neighbouring cameras for the videos and
    // GIFs ("Images intermédiaires"); the frame files stay the cameras' own.
    int between = default_between;
    // Shown each shot as the frames pass decodes it (the drift check); may be
    // null, else the caller keeps it alive for the run.
    DecodedShotCheck* shot_check = nullptr;
};

// How a processing run ended, first failure first.
enum class ProcessingFailure
{
    None,
    WrongShotCount,  // not one shot per camera: nothing written
    OutputFolder,    // the folder holds what stops the run, or the swap failed
    UnreadableShot,  // a shot could not be read: nothing written
    ShotRefused,     // the shot check refused a shot: nothing written
    ShotAmongFrames, // a frame would overwrite a shot: nothing written
    UnwritableFrame, // a frame could not be written
    FramesStopped,   // stopped while writing frames
    EmptyFrames,     // the aligned frames have nothing to show
    VideoStopped,    // stopped while encoding
    VideoFailed,     // ffmpeg failed
};
// Whatever the failure, nothing of the run is left in its folder and an earlier
// run there stays as it was.

struct ProcessingOutcome
{
    // Not one shot per camera: nothing was tried.
    bool wrong_shot_count = false;
    // Why the folder stopped the run, or the new run could not replace the
    // earlier one, as a French sentence naming the file.
    QString folder_problem;
    // Another run holds the output folder (folder_problem says so): nothing in
    // it is this run's, and it may be tried again once that run ends.
    bool folder_busy = false;
    AlignedImages frames;
    VideoExport video;

    ProcessingFailure failure() const;
    QString folder; // the request's output folder

    // The file a failure is about (a shot, a frame or the video ffmpeg was
    // making), when it is about one.
    QString failed_file() const;
};

// Progress of a processing run: frames first, then the videos. Safe to use from
// any thread.
class ProcessingProgress
{
public:
    explicit ProcessingProgress(const ProcessingRequest& request);

    RunStep step() const;
    void request_stop();
    bool stop_requested() const { return frames.stop_requested(); }

    BatchProgress frames;
    BatchProgress video;
    // Set once the frames are written and the videos start.
    std::atomic<bool> encoding{false};

private:
    int shot_count = 0;
    VideoRequest video_request;
};

// Writes the aligned frames of `request`, then the video and, when asked, the
// boomerang and the GIFs, into the staging folder inside its folder (where a
// killed run's leftovers are cleared first). Only once every file is complete
// do they replace the earlier run's files in the folder; a failed or stopped run
// takes back all it wrote. The videos are encoded from the frames reduced in
// memory as they were written (at the frames' own size the video reads the frame
// files). The ffmpeg commands and their diagnostic lines go to
// `log`. Blocks until done; run it on a worker thread to keep a window responsive.
ProcessingOutcome run_processing(ProcessRunner& runner, const ProcessingRequest& request,
                                 std::ostream& log, ProcessingProgress* progress = nullptr);

// One French sentence saying why the run failed, naming the file when it is about
// one ("'shot_3.jpg' : photo illisible ou incomplète"); empty when it did not fail.
QString failure_message(const ProcessingOutcome& outcome);
