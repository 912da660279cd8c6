#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// Which files of a take's output folder the sharing page may hand out, by exact
// name, and the marker that says the take is finished. The caller gives the
// names the booth and a run write (the server knows no file of its own).
struct TakeFileRules
{
    QString done_marker;
    QString video;
    QString boomerang;
    QString gif;
    QString boomerang_gif;
    // The camera index of a frame's name, nothing for any other name.
    std::function<std::optional<int>(const QString&)> frame_index;
    bool all_frames = false; // every frame, not only the still
};

// A finished take as the server shows it: only files present as regular files
// (never a link) directly in its folder.
struct ServedTake
{
    QString name;        // the folder's name in ROOT
    QDateTime finished;  // when its marker was written
    QString video;       // each empty when the take has none
    QString boomerang;
    QString gif;
    QString boomerang_gif;
    QString still;       // the middle camera's frame
    QStringList frames;  // with all_frames, every frame in camera order; else empty

    // The video the gallery loops: the boomerang when there is one.
    QString gallery_video() const { return boomerang.isEmpty() ? video : boomerang; }
    // True for a name this take hands out.
    bool serves(const QString& file) const;
};

// The finished takes of the folder open as `root_fd`: its subfolders (not
// links, not hidden) holding the marker as a regular file, newest first. Names
// that are not UTF-8 are left out, as no URL could name them back exactly.
std::vector<ServedTake> read_finished_takes(int root_fd, const TakeFileRules& rules);

// Opens `file` of take `take` inside `root_fd` for reading, following no link at
// any step, only while the take is still finished and the file a regular file.
// Returns the descriptor (the caller closes it) or -1.
int open_take_file(int root_fd, const QString& take, const QString& file,
                   const QString& done_marker);
