// Sticker detection on any small decoded picture (from 1 x 1, any content),
// then everything its result feeds: identification, reference selection,
// alignment and the frame it gives. The picture is drawn from the input either
// byte by byte or from a palette of sticker colours, so that blobs the rules
// care about are easy to reach.

#include "calibration/alignment.h"
#include "detection/color_thresholds.h"
#include "detection/reference_selection.h"
#include "detection/sticker_components.h"
#include "detection/sticker_triple.h"
#include "output/frame_geometry.h"
#include "output/frame_render.h"

#include <opencv2/core.hpp>

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <sstream>
#include <vector>

namespace {

// The parameters come from the end of the input, the pixels from its front.
cv::Mat picture(FuzzedDataProvider& input)
{
    const int width = input.ConsumeIntegralInRange(1, 96);
    const int height = input.ConsumeIntegralInRange(1, 96);
    const bool from_palette = input.ConsumeBool();
    // Black, yellow, pink, white, the yellow bounds and just outside, grey (BGR).
    static const cv::Vec3b palette[8] = {{0, 0, 0},       {40, 220, 230}, {120, 60, 230},
                                         {255, 255, 255}, {20, 150, 150}, {70, 255, 255},
                                         {19, 150, 150},  {128, 128, 128}};
    const int pixel_bytes = width * height * (from_palette ? 1 : 3);
    std::vector<std::uint8_t> bytes = input.ConsumeBytes<std::uint8_t>(pixel_bytes);
    bytes.resize(pixel_bytes, 0);

    cv::Mat image(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int index = y * width + x;
            image.at<cv::Vec3b>(y, x) =
                from_palette
                    ? palette[bytes[index] % 8]
                    : cv::Vec3b(bytes[3 * index], bytes[3 * index + 1], bytes[3 * index + 2]);
        }
    }
    return image;
}

QImage as_qimage(const cv::Mat& bgr)
{
    QImage image(bgr.cols, bgr.rows, QImage::Format_RGB888);
    for (int y = 0; y < bgr.rows; ++y) {
        for (int x = 0; x < bgr.cols; ++x) {
            const cv::Vec3b pixel = bgr.at<cv::Vec3b>(y, x);
            image.setPixel(x, y, qRgb(pixel[2], pixel[1], pixel[0]));
        }
    }
    return image;
}

// The frame an alignment gives the picture, rendered when small enough to stay fast.
void render(const cv::Mat& bgr, const ImageAlignment& alignment)
{
    const QRect rect = common_frame_rect({QSize(bgr.cols, bgr.rows)}, {alignment}, 0);
    if (rect.isEmpty() || static_cast<double>(rect.width()) * rect.height() > 4e6)
        return;
    render_frame(as_qimage(bgr), alignment, rect);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const StickerColor color = input.ConsumeBool() ? StickerColor::Yellow : StickerColor::Pink;
    const cv::Mat image = picture(input);
    std::ostringstream log;

    const StickerComponents components = find_sticker_components(image, thresholds_for(color));
    // A reference of a photo about this size, so the scale stays within a few times.
    ReferenceTriple reference;
    reference.points = {cv::Point2d(32, 10), cv::Point2d(33, 32), cv::Point2d(32, 54)};
    reference.selected = true;
    ReferenceTriple own;
    select_reference(components, own, log);

    Calibration calibration = Calibration::with_count(2);
    if (const auto identified = identify_sticker_triple(components, log)) {
        estimate_alignment(calibration, 0, identified->triple.indices, identified->triple.centres,
                           reference, log);
        render(image, calibration.alignment(0));
    }
    // Clicks anywhere, even outside the picture.
    double clicks[6];
    for (double& click : clicks)
        click = input.ConsumeFloatingPoint<double>();
    align_manually(calibration, 1,
                   {QPointF(clicks[0], clicks[1]), QPointF(clicks[2], clicks[3]),
                    QPointF(clicks[4], clicks[5])},
                   own.selected ? own : reference, log);
    render(image, calibration.alignment(1));
    return 0;
}
