#pragma once

#include "calibration/calibration.h"

#include <QSize>
#include <QString>
#include <QStringList>

// What a batch of aligned frames came to.
struct AlignedImages
{
    // Even width and height shared by every frame written; (16777214, 16777214)
    // when there were no images. A side of 0 means some image has nothing left
    // to show (an unaligned entry, a scale of 0): then no file is written.
    QSize common_size;
    // Number of frames written ("output_img_0.jpg" onwards).
    int frame_count = 0;
    // Set when an input could not be read; nothing was written then.
    QString unreadable_input;
    // Set when a file in the output folder could not be written (or read back);
    // the run stopped there and frame_count tells how many frames exist.
    QString unwritable_output;
};

// Aligns input k with entry k of `calibration`, crops every frame to the common
// even size and writes them as "output_img_<k>.jpg" into `folder` at JPEG
// `quality` (0 to 100). Every input is checked to be readable before anything is written.
// Inputs are read with their EXIF orientation applied. `inputs` must hold at
// least calibration.image_count paths; with fewer, nothing is written and the
// common size is (0, 0). Only "output_img_*" files of this run's indices are touched.
AlignedImages write_aligned_images(const QStringList& inputs, const Calibration& calibration,
                                   const QString& folder, int quality);
