#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// One take in the booth's inbox: a folder the capture software fills with one
// photo per camera.
struct TakeFolder
{
    QString name; // the folder's name, also the name of its output folder
    // Its JPEG and PNG files, in camera order (the natural order of their names).
    QStringList photos;
    // When the last of them changed (invalid without photos).
    QDateTime last_change;
    // Names, sizes and change times of the photos: different as soon as one of
    // them is added, removed or rewritten.
    QString fingerprint;
};

// Reads the take folder at `path` (its photos only; hidden files are ignored).
TakeFolder read_take_folder(const QString& path);

// True when every photo is whole (see photo_complete): a JPEG that reaches its
// end-of-image marker, a PNG its IEND chunk. Reads only a few kilobytes of each.
bool photos_complete(const TakeFolder& take);
