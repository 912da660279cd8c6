#pragma once

#include "calibration/calibration.h"
#include "output/colour_table.h"
#include "photo/reduced_photo.h"

#include <opencv2/core.hpp>

#include <QImage>
#include <QImageIOHandler>
#include <QRect>
#include <QStringList>

#include <array>
#include <iosfwd>
#include <memory>
#include <optional>
#include <vector>

// Cameras of one rig differ a little in colour and exposure, which nobody sees
// in one photo but which flickers in a video. Each camera gets one gain per
// channel in linear light (the sRGB curve undone, multiplied, redone) that
// brings its frame to the middle camera's colours, estimated from the take
// itself (automatic exposure changes from take to take).

// The gains that bring each of `frames` (aligned frames of one take, 8-bit BGR,
// one size, reduced copies are enough) to the colours of frame `middle`, which
// keeps gains 1. Each frame is compared with its neighbours and next-neighbours
// through the dense flow between them, on pixels where the flow holds both ways
// and neither frame is clipped, near black or at its border, leaving out pixels
// whose colour ratio strays from the pair's; all gains are then solved at once,
// by weighted least squares on the logarithms. A camera with nothing to compare
// (a frame all black or all white, a rig of one camera) keeps gains 1.
std::vector<ColourGains> estimate_colour_gains(const std::vector<cv::Mat>& frames, int middle);

// The long side of the reduced frames the gains are estimated on, for frames
// whose long side is `frame_long_side`: a 24th of it, from 128 to 192 pixels.
// Smaller copies cost less in proportion to their pixels but find the gains
// less closely: on parallax rigs of 12 cameras the worst frame's ΔE is 0.4-0.5
// from 192 px copies of 6000 x 4000 frames, as from 250 px ones, 0.7-0.8 from
// 128 px copies of 1600 x 1200 frames, but 0.9 from 96 px and 1.0 from 64 px.
int reduced_frame_long_side(int frame_long_side);

// The gains estimated camera by camera while the frames are written, from
// the middle camera outwards (outward_order): each camera is compared, as
// estimate_colour_gains compares them, with its neighbour and next-neighbour on
// the middle's side, whose gains are fixed by then, and its own gains are their
// weighted least squares, the middle camera keeping gains 1. A camera none of
// whose pairs found anything keeps gains 1 and carries no chain further; its
// outer neighbour's next-neighbour pair goes past it. Safe to call from several
// threads, one camera each; the gains do not depend on which thread finishes first.
class OutwardColourGains
{
public:
    explicit OutwardColourGains(int count);
    ~OutwardColourGains();

    // The middle camera (count / 2), then outwards to camera 0, then outwards
    // on the other side: m, m - 1, ..., 0, m + 1, ..., count - 1. Each camera
    // still comes after those it builds on, and frame 0 half way through the
    // pass, so a video fed in camera order starts while the other half is written.
    static std::vector<int> outward_order(int count);

    // Camera `camera`'s gains from its reduced aligned frame (8-bit BGR, the
    // same size for every camera). Waits for the gains of the cameras it is
    // compared with; empty when one of them gave up (then this one gives up too).
    std::optional<ColourGains> estimate(int camera, const cv::Mat& frame);

    // Camera `camera` has no frame (its shot could not be read): the cameras
    // waiting for it give up instead of waiting for ever.
    void give_up(int camera);

    // Every camera's gains, in camera order, once every camera has its gains; else empty.
    std::vector<ColourGains> gains() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The same run on frames at hand, one camera after the other in outward order.
std::vector<ColourGains> estimate_colour_gains_outward(const std::vector<cv::Mat>& frames);

// Where the reduced aligned frames come from within the frames' rectangle
// `frame_rect` (reference pixels): the rectangle shrunk by `reduction` to `size`.
// `long_side`: that of `size`, or 0 for reduced_frame_long_side of the frames.
struct ReducedFrameShape
{
    QPoint origin;
    double reduction = 1.0;
    QSize size;
    int long_side = 0;
};
ReducedFrameShape reduced_frame_shape(const QRect& frame_rect, int long_side = 0);

// The reduced aligned frame (8-bit BGR) of a shot decoded in full (`stored`,
// renderable(), shown turned by `turn`), for an alignment made on the upright
// picture: the shot reduced in one pass by the largest power of two that keeps
// the shape's long side or more (each block's mean, over every fourth of its
// rows), then warped onto `shape`. Costs a fraction of a reduced decode of its own.
cv::Mat reduced_aligned_frame(const QImage& stored, QImageIOHandler::Transformations turn,
                              const ImageAlignment& alignment, const ReducedFrameShape& shape);

// One line per camera on `log` ("Camera 4: colour gains 1.08 0.97 0.91":
// cameras counted from 1 as the other lines of the log count them, gains red,
// green, blue), and a second for a camera whose gains the estimate's limits
// held back ("Camera 4: colour gains held at their limits (0.25 to 4), its
// colours only partly matched").
void log_colour_gains(const std::vector<ColourGains>& gains, std::ostream& log);

// The frames write_aligned_images would write, reduced to about `long_side`
// pixels on their long side (0: reduced_frame_long_side of theirs), as 8-bit
// BGR, each shot decoded at a reduced size (a JPEG at 1/2, 1/4 or 1/8 by the
// decoder's own scaling), or taken from `shared` where the drift check decoded
// it already. Empty when a shot cannot be read or the frames would be empty;
// the frame pass reports why.
std::vector<cv::Mat> reduced_aligned_frames(const QStringList& shots,
                                            const Calibration& calibration, int long_side = 0,
                                            const ReducedShots* shared = nullptr);

// Reduced frames of `shots`, their gains against the middle camera (count / 2),
// and their lines on `log` (log_colour_gains). One table per camera; every one
// the identity when the shots cannot be read.
std::vector<ColourTable> match_shot_colours(const QStringList& shots,
                                            const Calibration& calibration, std::ostream& log,
                                            const ReducedShots* shared = nullptr);
