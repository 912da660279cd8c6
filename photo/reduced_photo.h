#pragma once

#include <QImage>
#include <QImageIOHandler>
#include <QString>

#include <vector>

// A check made on a take before its frames are written (the window's drift
// check, which asks before the run) looks at its shots decoded at 1/2, 1/4 or
// 1/8 of their size by libjpeg's own scaling, which makes no pixel at full
// size; the runs of `process` and the booth check each shot in the frames pass
// instead. A shot is decoded so once per
// take and the copy kept for any other look at it: the frames are then the
// only full-size decode.

struct ReducedPhoto
{
    QString path;
    // As stored (before the EXIF turn), RGB32 or ARGB32_Premultiplied, each
    // side the photo's divided by `reduction`, rounded up.
    QImage stored;
    QImageIOHandler::Transformations turn = QImageIOHandler::TransformationNone;
    int reduction = 1;

    bool empty() const { return stored.isNull(); }
};

// `path` decoded reduced by `reduction` (1, 2, 4 or 8). Empty when the photo
// is unreadable as the frames would find it: missing, a JPEG cut short or
// reported damaged by the decoder, a PNG that fails its checks.
ReducedPhoto read_reduced_photo(const QString& path, int reduction);

// `stored` turned upright by `turn`, the way Qt's reader (and read_oriented_image)
// turns a photo: mirror and flip first, then a quarter turn clockwise.
QImage upright_image(const QImage& stored, QImageIOHandler::Transformations turn);

// One take's reduced shots, by camera; an empty entry for a camera whose shot
// nobody decoded (or could).
struct ReducedShots
{
    std::vector<ReducedPhoto> shots;

    // Camera `camera`'s copy of `path` when it was decoded reduced by
    // `reduction` at most (a finer copy serves a coarser need), else null.
    const ReducedPhoto* find(int camera, const QString& path, int reduction) const;
};
