#pragma once

#include <QString>
#include <QStringList>

// What a processing run finds in, and replaces in, its output folder: only the
// names in run_files count as a run's; every other file and every folder stays.

// The names of the files of an earlier run in `folder` (frames and videos by
// their exact names, never a folder), sorted.
QStringList earlier_run_files(const QString& folder);

// The first of `paths` that is one of `names` in `folder` (the same file, even
// through another spelling of its path), or an empty string.
QString path_among(const QStringList& paths, const QString& folder, const QStringList& names);

// Removes `names` from `folder` and nothing else (a symbolic link as a link,
// never a folder). Gives the paths that could not be removed.
QStringList remove_files(const QString& folder, const QStringList& names);

// Creates `folder` and the folders above it that are missing. Returns an empty
// string when it exists, otherwise the system's reason ("Not a directory" for a
// file in the way, "Permission denied", ...). `created` (may be null) receives
// the folders it made, the deepest first.
QString make_folder(const QString& folder, QStringList* created = nullptr);

// Removes what a run killed before it finished left in `folder`: its hidden
// partial videos, by their exact names, and its staging folder with the run
// files and temporary files in it.
// Returns an empty string, or one French sentence naming what stands in the way
// (a staging folder holding other files is left as it is).
QString clear_run_leftovers(const QString& folder);

// The entries of the staging folder `staging`, parted into a run's own (plain
// files themselves, never a link, a folder or a device, named like a run's file
// or leftover: is_run_file, is_run_leftover) and everything else, which is the
// user's. Names, sorted; both empty when `staging` is no folder.
struct StagingEntries
{
    QStringList own;
    QStringList foreign;
};
StagingEntries staging_entries(const QString& staging);

// Removes the staging folder `staging` with the run's own files in it (see
// staging_entries), by their exact names, then the folder itself (never recursively). Returns an
// empty string, or a French sentence naming what stays.
QString clear_staging(const QString& staging);

// Moves `names`, complete in `staging`, into `folder` in place of the earlier
// run's files (those that the new run does not replace are removed), then
// removes `staging`. Nothing is changed in `folder` when a name is taken by a
// folder or an earlier file cannot be removed. Returns an empty string, or a
// French sentence saying why the run could not replace the earlier one.
QString replace_run(const QString& folder, const QString& staging, const QStringList& names);
