#pragma once

#include "calibration/batch_progress.h"
#include "output/process_runner.h"

#include <QSize>
#include <QString>

#include <iosfwd>

struct VideoRequest
{
    QString folder;
    QSize frame_size;
    int frame_count = 0;
    int fps = 24;
    bool boomerang = false;
};

struct VideoExport
{
    bool succeeded = false;
    // Set when a stop request ended the export: the video being written was
    // removed and no further command ran. A video finished before stays.
    bool stopped = false;
    // "output_video.mp4" was encoded, whatever became of the boomerang.
    bool video_written = false;
    // On failure: the last error line ffmpeg wrote, or why it could not start.
    QString error_line;
};

// Encodes the frames into "output_video.mp4" and, when asked and only after a
// successful encode, "output_video_boomerang.mp4". Each command is written to
// `log` before it runs. Blocks until done; call it from a worker thread to keep
// a window responsive.
// `progress` (may be null) counts the frames ffmpeg reports encoded, the
// video's first and then the boomerang's (see video_progress_step); its stop
// request keeps a command from starting, or kills the one running within a
// few tens of milliseconds.
VideoExport export_videos(ProcessRunner& runner, const VideoRequest& request, std::ostream& log,
                          BatchProgress* progress = nullptr);

// How export_videos' frame count reads: the video has frame_count frames, the
// boomerang twice as many, counted after the video's.
struct VideoProgressStep
{
    bool boomerang = false; // which command the count belongs to
    int done = 0;           // frames that command has encoded
    int total = 0;          // frames that command will encode
};

// Where `frames_done` (a progress count of export_videos) stands. The count
// reaches the video's total before the boomerang starts, so a count equal to
// frame_count still reads as the finished video.
VideoProgressStep video_progress_step(const VideoRequest& request, int frames_done);

// The frame number of an ffmpeg progress line ("frame=  123 fps=..."), or -1.
int encoded_frames(const QString& line);
