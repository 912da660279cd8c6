#pragma once

#include "calibration/calibration.h"

#include <QSize>
#include <QString>
#include <QStringList>

// What a batch of aligned frames came to.
struct AlignedImages
{
    // Even width and height shared by every frame written; (16777214, 16777214)
    // when there were no images.
    QSize common_size;
    // Number of frames written ("output_img_0.jpg" onwards).
    int frame_count = 0;
    // Set when an input could not be read; nothing was written then.
    QString unreadable_input;
};

// Aligns input k with entry k of `calibration`, crops every frame to the common
// even size and writes them as "output_img_<k>.jpg" into `folder` at JPEG
// `quality` (0 to 100). Every input is checked to be readable before anything is written.
AlignedImages write_aligned_images(const QStringList& inputs, const Calibration& calibration,
                                   const QString& folder, int quality);
