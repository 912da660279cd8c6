#pragma once

#include "output/process_runner.h"

#include <QSize>
#include <QString>

#include <functional>
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
    // On failure: the last error line ffmpeg wrote, or why it could not start.
    QString error_line;
};

// Encodes the frames into "output_video.mp4" and, when asked and only after a
// successful encode, "output_video_boomerang.mp4". Each command is written to
// `log` before it runs.
VideoExport export_videos(ProcessRunner& runner, const VideoRequest& request, std::ostream& log);
