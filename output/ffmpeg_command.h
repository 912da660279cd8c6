#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

// One ffmpeg invocation: the words handed to the program, no shell involved.
struct FfmpegCommand
{
    QString program = QStringLiteral("ffmpeg");
    QStringList arguments;
    // The file the command writes (also the last argument).
    QString output_file;

    // The invocation as one readable line, for the diagnostic output.
    QString display_line() const;
};

// The classic one-line forms of the two commands, quoted as a shell would need
// them. For 24 fps, 900 x 652 and the folder /data/run1, the video command is
// (on one line):
//   ffmpeg -r 24 -f image2 -s 900x652 -i "/data/run1/output_img_%d.jpg"
//          -vcodec libx264 -crf 25 -pix_fmt yuv420p "/data/run1/output_video.mp4"
// and the boomerang command:
//   ffmpeg -i "/data/run1/output_video.mp4"
//          -filter_complex "[0:v]reverse,fifo[r];[0:v][r] concat=n=2:v=1 [v]"
//          -map "[v]" "/data/run1/output_video_boomerang.mp4"
QString video_command_line(int fps, QSize size, const QString& folder);
QString boomerang_command_line(const QString& folder);

// What actually runs: the same words, plus "-y" (replace an older video) and, for
// the video, "-frames:v <frame_count>" so that frames of an earlier, longer run
// in the same folder never join the new video. Both go before the output file.
// A '%' in the folder is doubled in the frame pattern, as ffmpeg reads it.
FfmpegCommand video_command(int fps, QSize size, const QString& folder, int frame_count);
FfmpegCommand boomerang_command(const QString& folder);
