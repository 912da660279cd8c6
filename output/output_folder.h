#pragma once

#include <QString>
#include <QStringList>

// What a processing run finds in, and clears from, its output folder before it
// writes: the frames "output_img_*.jpg" and videos "output_video*" of an earlier
// run would otherwise mix with the new ones (a longer earlier run's last frames
// would even join the new video).

// The names of the files of an earlier run in `folder`, sorted; other files and
// folders are not listed.
QStringList earlier_run_files(const QString& folder);

// The first of `paths` that is one of `names` in `folder` (the same file, even
// through another spelling of its path), or an empty string.
QString path_among(const QStringList& paths, const QString& folder, const QStringList& names);

// Removes `names` from `folder` and nothing else. Gives the paths that could not
// be removed.
QStringList remove_files(const QString& folder, const QStringList& names);

// Creates `folder` and the folders above it that are missing. Returns an empty
// string when it exists, otherwise the system's reason ("Not a directory" for a
// file in the way, "Permission denied", ...).
QString make_folder(const QString& folder);
