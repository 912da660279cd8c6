#pragma once

#include "output/clip_length.h"
#include "output/video_frames.h"
#include "output/video_overlay.h"
#include "output/video_size.h"
#include "support/batch_progress.h"
#include "support/process_runner.h"

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <iosfwd>
#include <vector>

// The videos to make of the frames "output_img_0.jpg" to
// "output_img_<frame_count - 1>.jpg" of `folder`, all of `frame_size`.
struct VideoRequest
{
    QString folder;
    QSize frame_size;
    int frame_count = 0;
    int fps = 24;
    bool boomerang = false;
    // The long side of the videos in pixels (see video_size); the frames keep theirs.
    int long_side = original_video_size;
    bool gif = false;
    // The part of the frames the videos and the still show (see clip_rect),
    // in frame pixels; empty for the whole frame.
    QRect clip{};
    // Laid over every picture of the videos, the GIFs and the still; its file
    // is checked by the plan (see overlay_problem).
    VideoOverlay overlay{};
    // How long the videos play (see clip_play); a GIF loops, so it only holds.
    ClipLength length{};
    // Also "output_still.jpg": frame `still_frame` (the middle camera's when
    // -1), cut and overlaid as the videos, at the cut's full size.
    bool still = false;
    int still_frame = -1;
    // The frames kept reduced in memory while they were written (may be null):
    // the steps whose pictures it holds, whole, are fed from it and decode no
    // frame file.
    const VideoFrames* kept = nullptr;
    // Frames made between each pair of neighbouring frames, 0 to 3: every video
    // and GIF plays frame_count + (frame_count - 1) * between pictures (see
    // video_sequence). They are made from `kept`, which must hold the video's
    // pictures; the frame files stay the cameras' own.
    int between = 0;
    // Set while the frames are still being written into `kept` and the folder
    // (`frame_count` is then the count being written): the video is fed each
    // picture as it arrives, so that its encode overlaps the frames' writing,
    // and every later step waits for the frames' end. A frame that never comes
    // fails the export.
    FrameArrival* arriving = nullptr;
};

// The steps of an export, in the order they run.
enum class VideoStep
{
    InBetween,    // the in-between frames, made in memory for all that follow
    Video,        // "output_video.mp4"
    Boomerang,    // "output_video_boomerang.mp4": forwards, then backwards
    Gif,          // "output_video.gif"
    GifBoomerang, // "output_video_boomerang.gif"
    Still,        // "output_still.jpg"
};

// One step a request asks for: the file it writes into the folder (none for the
// in-between frames), the pictures its progress counts (those it makes or
// encodes) and the pictures the file plays.
struct PlannedVideoStep
{
    VideoStep step = VideoStep::Video;
    QString file_name;
    int frames = 0;
    int played = 0;
};

// The steps `request` runs: the in-between frames when asked (and there is a
// pair of frames), always the video, the boomerang when asked, then the GIF
// and, with the boomerang, its GIF, and the still when asked.
std::vector<PlannedVideoStep> video_steps(const VideoRequest& request);

struct VideoExport
{
    bool succeeded = false;
    // Set when a stop request ended the export: the file being written was
    // removed and no further step ran. Files finished before stay.
    bool stopped = false;
    // The files written, in the order of the steps.
    QStringList written;
    // The file of the step that failed or was stopped: not written, and what the
    // step had begun of it removed.
    QString unfinished;
    // On failure: the first line of ffmpeg's error output that gives a reason
    // (the system's, an "Error ..." or "Invalid ..." line) and its last line,
    // or why it could not start.
    QString error_line;
    // The folder that ran out of room when that made the step fail (the
    // temporary folder for the boomerang's work files), or an empty string.
    QString full_folder;

    bool video_written() const;
};

// Runs the steps of `request` one after the other; a step starts only after the
// previous one succeeded. On a runner that runs two commands at once, the GIFs,
// when fed from memory, are encoded beside the videos instead of after them;
// the outcome is the same as one after the other (a failed step ends the steps
// after it on either side and takes back one already finished). Both GIFs of a
// boomerang fed from memory are made by one command with one palette. Each
// command is written to `log` ("Running: ...") before it runs. A step whose pictures `request.kept` holds writes them raw to
// ffmpeg in the order it plays them; the others read the frame files, holding no
// more than a few frames in memory. The boomerang reuses the video's stream as
// its first half: it encodes the frames once more, in reverse order (from
// memory, or through links in a temporary folder; a scaled video keeps its
// scaled frames there as raw files for this), with the video's settings, and
// joins both halves without re-encoding. Blocks until
// done; call it from a worker thread to keep a window responsive.
// `progress` (may be null) counts the frames of each step in turn (see
// video_progress_step); a finished step counts all its frames. Its stop request
// keeps a step from starting, or kills the command running within a few tens of
// milliseconds.
VideoExport export_videos(ProcessRunner& runner, const VideoRequest& request, std::ostream& log,
                          BatchProgress* progress = nullptr);

// Where a progress count of export_videos stands.
struct VideoProgressStep
{
    VideoStep step = VideoStep::Video;
    int done = 0;  // frames this step has handled
    int total = 0; // frames it handles in all
};

// The step that `frames_done` falls in. A step's last frame still reads as that
// step, finished, until the next one counts its first.
VideoProgressStep video_progress_step(const VideoRequest& request, int frames_done);
