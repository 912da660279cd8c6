#include "serve/take_catalogue.h"

#include "support/natural_order.h"

#include <algorithm>
#include <map>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool regular_file_at(int folder_fd, const QByteArray& name, struct stat* found = nullptr)
{
    struct stat status{};
    if (fstatat(folder_fd, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode))
        return false;
    if (found)
        *found = status;
    return true;
}

// Every entry name of an open folder (the descriptor stays the caller's).
QList<QByteArray> entry_names(int folder_fd)
{
    QList<QByteArray> names;
    const int own = dup(folder_fd);
    if (own < 0)
        return names;
    DIR* folder = fdopendir(own);
    if (!folder) {
        close(own);
        return names;
    }
    rewinddir(folder);
    while (const dirent* entry = readdir(folder)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << name;
    }
    closedir(folder);
    return names;
}

std::optional<QString> utf8_name(const QByteArray& bytes)
{
    const QString name = QString::fromUtf8(bytes);
    if (name.toUtf8() != bytes)
        return std::nullopt;
    return name;
}

ServedTake read_take(int take_fd, const QString& name, const QDateTime& finished,
                     const TakeFileRules& rules)
{
    ServedTake take;
    take.name = name;
    take.finished = finished;
    std::map<int, QString> frames;
    for (const QByteArray& bytes : entry_names(take_fd)) {
        const std::optional<QString> file = utf8_name(bytes);
        if (!file || !regular_file_at(take_fd, bytes))
            continue;
        if (*file == rules.video)
            take.video = *file;
        else if (*file == rules.boomerang)
            take.boomerang = *file;
        else if (*file == rules.gif)
            take.gif = *file;
        else if (*file == rules.boomerang_gif)
            take.boomerang_gif = *file;
        else if (rules.frame_index) {
            if (const std::optional<int> index = rules.frame_index(*file))
                frames[*index] = *file;
        }
    }
    if (!frames.empty()) {
        // The middle of the cameras present: with every camera, the middle camera.
        auto middle = frames.begin();
        std::advance(middle, frames.size() / 2);
        take.still = middle->second;
    }
    if (rules.all_frames)
        for (const auto& [index, file] : frames)
            take.frames << file;
    return take;
}

} // namespace

bool ServedTake::serves(const QString& file) const
{
    if (file.isEmpty())
        return false;
    return file == video || file == boomerang || file == gif || file == boomerang_gif ||
           file == still || frames.contains(file);
}

std::vector<ServedTake> read_finished_takes(int root_fd, const TakeFileRules& rules)
{
    std::vector<ServedTake> takes;
    const QByteArray marker = rules.done_marker.toUtf8();
    for (const QByteArray& bytes : entry_names(root_fd)) {
        const std::optional<QString> name = utf8_name(bytes);
        if (!name || bytes.startsWith('.'))
            continue;
        const int take_fd =
            openat(root_fd, bytes.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (take_fd < 0)
            continue;
        struct stat status{};
        if (regular_file_at(take_fd, marker, &status)) {
            // In UTC: comparing local times costs a time zone look-up each.
            const QDateTime finished = QDateTime::fromMSecsSinceEpoch(
                qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000, Qt::UTC);
            takes.push_back(read_take(take_fd, *name, finished, rules));
        }
        close(take_fd);
    }
    // Newest first; takes finished in the same millisecond in reverse name order,
    // so that the later-named one (the booth's next) comes first.
    std::sort(takes.begin(), takes.end(), [](const ServedTake& a, const ServedTake& b) {
        if (a.finished != b.finished)
            return a.finished > b.finished;
        return natural_less(b.name, a.name);
    });
    return takes;
}

int open_take_file(int root_fd, const QString& take, const QString& file,
                   const QString& done_marker)
{
    const int take_fd = openat(root_fd, take.toUtf8().constData(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (take_fd < 0)
        return -1;
    int file_fd = -1;
    if (regular_file_at(take_fd, done_marker.toUtf8())) {
        file_fd = openat(take_fd, file.toUtf8().constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat status{};
        if (file_fd >= 0 && (fstat(file_fd, &status) != 0 || !S_ISREG(status.st_mode))) {
            close(file_fd);
            file_fd = -1;
        }
    }
    close(take_fd);
    return file_fd;
}
