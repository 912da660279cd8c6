#pragma once

#include "calibration/calibration.h"
#include "photo/reduced_photo.h"

#include <opencv2/core.hpp>

#include <QImage>
#include <QStringList>

#include <array>
#include <iosfwd>
#include <vector>

// Cameras of one rig differ a little in colour and exposure, which nobody sees
// in one photo but which flickers in a video. Each camera gets one gain per
// channel in linear light (the sRGB curve undone, multiplied, redone) that
// brings its frame to the middle camera's colours, estimated from the take
// itself (automatic exposure changes from take to take).

// One camera's gains in linear light, blue, green, red.
struct ColourGains
{
    std::array<double, 3> bgr{1.0, 1.0, 1.0};

    bool identity() const { return bgr[0] == 1.0 && bgr[1] == 1.0 && bgr[2] == 1.0; }
};

// The gains as a look-up table on 8-bit sRGB values, one per channel (blue,
// green, red); an identity table for identity gains, so such frames keep their bytes.
struct ColourTable
{
    std::array<std::array<uchar, 256>, 3> bgr;
    bool identity = true;
};
ColourTable colour_table(const ColourGains& gains);

// Applies `table` to the colour bytes of `frame` (RGB32 or ARGB32_Premultiplied).
void apply_colour_table(const ColourTable& table, QImage& frame);

// The same on rows [first, last) only: the frame's render applies it to each
// band while the band is still in the cache.
void apply_colour_table(const ColourTable& table, QImage& frame, int first, int last);

// The gains that bring each of `frames` (aligned frames of one take, 8-bit BGR,
// one size, reduced copies are enough) to the colours of frame `middle`, which
// keeps gains 1. Each frame is compared with its neighbours and next-neighbours
// through the dense flow between them, on pixels where the flow holds both ways
// and neither frame is clipped, near black or at its border, leaving out pixels
// whose colour ratio strays from the pair's; all gains are then solved at once,
// by weighted least squares on the logarithms. A camera with nothing to compare
// (a frame all black or all white, a rig of one camera) keeps gains 1.
std::vector<ColourGains> estimate_colour_gains(const std::vector<cv::Mat>& frames, int middle);

// The frames write_aligned_images would write, reduced to about `long_side`
// pixels on their long side, as 8-bit BGR, each shot decoded at a reduced size
// (a JPEG at 1/2, 1/4 or 1/8 by the decoder's own scaling), or taken from
// `shared` where the drift check decoded it already. Empty when a shot cannot
// be read or the frames would be empty; the frame pass reports why.
constexpr int reduced_frame_long_side = 192;
std::vector<cv::Mat> reduced_aligned_frames(const QStringList& shots,
                                            const Calibration& calibration,
                                            int long_side = reduced_frame_long_side,
                                            const ReducedShots* shared = nullptr);

// Reduced frames of `shots`, their gains against the middle camera (count / 2),
// and one line per camera on `log` ("Camera 4: colour gains 1.08 0.97 0.91":
// cameras counted from 0 as the other lines of the log count them, gains red,
// green, blue). One table per camera; every one the identity when the shots
// cannot be read.
std::vector<ColourTable> match_shot_colours(const QStringList& shots,
                                            const Calibration& calibration, std::ostream& log,
                                            const ReducedShots* shared = nullptr);
