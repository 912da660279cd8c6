#include "support/file_lock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The file `descriptor` has open is still the one named `name`: not removed
// or replaced since it was opened.
bool still_named(int descriptor, const QByteArray& name)
{
    struct stat opened;
    struct stat named;
    return fstat(descriptor, &opened) == 0 && lstat(name.constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

ExclusiveFileLock::ExclusiveFileLock(QString path) : path(std::move(path)) {}

ExclusiveFileLock::Outcome ExclusiveFileLock::try_lock()
{
    if (descriptor >= 0)
        return Outcome::Taken;
    const QByteArray name = QFile::encodeName(path);
    // A holder that lets go removes the file: one opened just before is then
    // no longer the file of that name, and the next try opens the new one.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int opened =
            ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (opened < 0)
            return Outcome::Unavailable;
        if (flock(opened, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(opened);
            return error == EWOULDBLOCK ? Outcome::HeldElsewhere : Outcome::Unavailable;
        }
        if (still_named(opened, name)) {
            descriptor = opened;
            return Outcome::Taken;
        }
        ::close(opened);
    }
    return Outcome::HeldElsewhere;
}

ExclusiveFileLock::~ExclusiveFileLock()
{
    if (descriptor < 0)
        return;
    // Removed while still held, so that no one takes it in between; never a
    // file that has since taken its name.
    const QByteArray name = QFile::encodeName(path);
    if (still_named(descriptor, name))
        ::unlink(name.constData());
    ::close(descriptor);
}
