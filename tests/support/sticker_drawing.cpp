#include "tests/support/sticker_drawing.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cmath>

cv::Scalar sticker_bgr(StickerColor color)
{
    // Mid-range within both presets so that compression and chroma subsampling
    // keep the disc interiors inside.
    return color == StickerColor::Yellow ? cv::Scalar(40, 210, 225) : cv::Scalar(110, 40, 225);
}

cv::Mat draw_background(cv::Size size, unsigned seed)
{
    cv::RNG rng(seed);
    // Smooth blotches: a coarse random grid blown up, then a few shapes and fine noise.
    cv::Mat coarse(std::max(2, size.height / 40), std::max(2, size.width / 40), CV_8UC3);
    rng.fill(coarse, cv::RNG::UNIFORM, cv::Scalar(70, 60, 20), cv::Scalar(210, 160, 100));
    cv::Mat image;
    cv::resize(coarse, image, size, 0, 0, cv::INTER_LINEAR);

    for (int i = 0; i < 16; ++i) {
        const cv::Point a(rng.uniform(0, size.width), rng.uniform(0, size.height));
        const cv::Point b(rng.uniform(0, size.width), rng.uniform(0, size.height));
        const cv::Scalar colour(rng.uniform(40, 230), rng.uniform(40, 170), rng.uniform(0, 100));
        if (i % 2 == 0)
            cv::rectangle(image, a, b, colour, cv::FILLED);
        else
            cv::line(image, a, b, colour, 1 + i / 2);
    }

    cv::Mat noise(size, CV_8UC3);
    rng.fill(noise, cv::RNG::UNIFORM, cv::Scalar::all(0), cv::Scalar::all(17));
    image += noise;
    return image;
}

void draw_stickers(cv::Mat& bgr, const std::vector<cv::Point2d>& centres, double radius,
                   StickerColor color)
{
    const cv::Scalar s = sticker_bgr(color);
    const cv::Vec3b colour(static_cast<uchar>(s[0]), static_cast<uchar>(s[1]),
                           static_cast<uchar>(s[2]));
    for (const cv::Point2d& centre : centres) {
        const int x0 = std::max(0, static_cast<int>(std::floor(centre.x - radius)));
        const int x1 = std::min(bgr.cols - 1, static_cast<int>(std::ceil(centre.x + radius)));
        const int y0 = std::max(0, static_cast<int>(std::floor(centre.y - radius)));
        const int y1 = std::min(bgr.rows - 1, static_cast<int>(std::ceil(centre.y + radius)));
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                const double dx = x - centre.x;
                const double dy = y - centre.y;
                if (dx * dx + dy * dy <= radius * radius)
                    bgr.at<cv::Vec3b>(y, x) = colour;
            }
        }
    }
}

cv::Mat draw_sticker_photo(cv::Size size, const std::vector<cv::Point2d>& centres, double radius,
                           StickerColor color, unsigned seed)
{
    cv::Mat image = draw_background(size, seed);
    draw_stickers(image, centres, radius, color);
    return image;
}

namespace {

// A minimal EXIF block (big-endian TIFF, one IFD entry) holding orientation 6.
// Qt's JPEG writer turns the pixels instead of tagging them, so it cannot make
// such a file.
// `field_type` 0 and `count_high` 3 give the entry fuzzing found: a count of
// 0x03000001 and no valid type, which Qt rejects and OpenCV reads as 6.
QByteArray exif_orientation_6(char field_type = 0x03, char count_high = 0x00)
{
    const char bytes[] = {
        '\xFF', '\xE1', 0x00, 0x22,                                     // APP1, length 34
        'E',    'x',    'i',  'f',        0x00,       0x00,             // EXIF identifier
        'M',    'M',    0x00, 0x2A,       0x00,       0x00, 0x00, 0x08, // TIFF header, IFD0 at 8
        0x00,   0x01,                                                   // one entry
        0x01,   0x12,   0x00, field_type, count_high, 0x00, 0x00, 0x01,
        0x00,   0x06,   0x00, 0x00, // orientation
        0x00,   0x00,   0x00, 0x00, // no further IFD
    };
    return QByteArray(bytes, sizeof bytes);
}

} // namespace

QString write_photo(const QString& folder, const QString& file_name, const cv::Mat& bgr,
                    StoredOrientation orientation)
{
    const bool jpeg = !file_name.endsWith(".png", Qt::CaseInsensitive);
    if (orientation != StoredOrientation::Upright && !jpeg)
        return {};

    cv::Mat stored = bgr;
    if (orientation == StoredOrientation::Rotated90)
        cv::rotate(bgr, stored, cv::ROTATE_90_COUNTERCLOCKWISE);
    std::vector<uchar> encoded;
    if (!cv::imencode(jpeg ? ".jpg" : ".png", stored, encoded, {cv::IMWRITE_JPEG_QUALITY, 95}))
        return {};
    QByteArray data(reinterpret_cast<const char*>(encoded.data()), int(encoded.size()));
    if (orientation == StoredOrientation::Rotated90)
        data.insert(2, exif_orientation_6()); // right after SOI
    if (orientation == StoredOrientation::InvalidTag)
        data.insert(2, exif_orientation_6(0x00, 0x03));

    // Through QFile so that any folder name works, as the program reads it.
    const QString path = QDir(folder).filePath(file_name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return {};
    return path;
}
