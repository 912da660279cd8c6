#pragma once

#include <QString>

// An exclusive lock on a file, held through the kernel (flock) for as long as
// the holder runs: whatever a killed or crashed holder leaves in the file, or
// a process that later gets its number, holds nothing, so such a file never
// blocks anyone. Other processes that take the same file are refused while it
// is held. Linux only, as the program.
class ExclusiveFileLock
{
public:
    enum class Outcome
    {
        Taken,
        HeldElsewhere, // a live process holds it
        Unavailable, // the file cannot be made (a folder missing or read-only, a link of that name)
    };

    explicit ExclusiveFileLock(QString path);
    // Lets go, removing the file if it is still the one taken.
    ~ExclusiveFileLock();
    ExclusiveFileLock(const ExclusiveFileLock&) = delete;
    ExclusiveFileLock& operator=(const ExclusiveFileLock&) = delete;

    Outcome try_lock();

private:
    QString path;
    int descriptor = -1;
};
