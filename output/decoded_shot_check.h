#pragma once

#include "calibration/calibration.h"

#include <QImage>
#include <QImageIOHandler>

#include <optional>

// A look at each shot as the frames pass decodes it, before its frame is made:
// a check that would otherwise decode every shot again (the drift check) takes
// its copy from there, and may change how that one frame is aligned.
class DecodedShotCheck
{
public:
    virtual ~DecodedShotCheck() = default;

    // Camera `camera`'s shot, decoded in full (`stored`, as stored before
    // `turn`). Returns the alignment its frame is made with (`planned`, or one
    // corrected), or nothing to refuse the run: no frame of it is then left.
    // Called on the pass's workers, for several cameras at once.
    virtual std::optional<ImageAlignment> check_shot(int camera, const QImage& stored,
                                                     QImageIOHandler::Transformations turn,
                                                     const ImageAlignment& planned) = 0;
};
