#pragma once

#include <QByteArray>
#include <QString>

// Every file the program delivers appears under its final name only once it is
// complete, so that a crash, a kill or a full disk never leaves a truncated
// file where a player, a kiosk or the next run would take it for a good one.

// Writes `content` to `path` under a temporary name in the same folder, flushes
// it to the disk and renames it over `path`. On failure nothing is left and
// `path` keeps what it held. Returns an empty string on success, otherwise the
// system's reason.
QString write_file_atomically(const QString& path, const QByteArray& content);

// The hidden name under which another program writes what becomes the file
// `name`, keeping its suffix: "output_video.mp4" gives ".output_video.partial.mp4".
QString partial_file_name(const QString& name);

// Where another program (ffmpeg) writes what becomes `path`: a hidden name in
// the same folder that keeps the suffix, from which the format is guessed.
// "DIR/output_video.mp4" gives "DIR/.output_video.partial.mp4".
QString partial_path(const QString& path);

// Renames the finished `partial` file over `path` in one step (the previous
// `path`, if any, is replaced). Returns an empty string on success, otherwise
// the system's reason; `partial` is then removed.
QString finish_partial_file(const QString& partial, const QString& path);
