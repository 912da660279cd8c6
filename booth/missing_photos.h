#pragma once

#include <QString>
#include <QStringList>

// The probable file names of the photos missing from a take of `cameras`
// cameras whose photos are named `names` (file names, no folder): when every
// name reads PREFIX<number>SUFFIX with one prefix, one suffix and one way of
// writing the number ("cam_07.jpg", "IMG_0012.JPG", "cam7.png"), the numbers
// absent from their run, written the same way; a run complete from 0 or 1 lacks
// its last ones, a run from 2 on its first. Empty when the names follow no such
// pattern or their gaps do not account for the photos missing.
QStringList probable_missing_photos(const QStringList& names, int cameras);
