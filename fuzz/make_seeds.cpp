// Writes the seed corpora of the fuzz targets into the folder given (fuzz/corpus
// in the repository): a few small inputs per target, each of a kind the target
// must handle, so that the fuzzer starts from real structure.
//     make_fuzz_seeds fuzz/corpus

#include "calibration/calibration_file.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

bool write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size())
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

QByteArray encoded(const cv::Mat& image, const char* extension, std::vector<int> parameters = {})
{
    std::vector<std::uint8_t> bytes;
    cv::imencode(extension, image, bytes, parameters);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
}

// A small picture with some structure, so that every block codes something.
cv::Mat texture(int width, int height, int channels)
{
    cv::Mat image(height, width, CV_8UC3, cv::Scalar(30, 90, 200));
    cv::circle(image, cv::Point(width / 3, height / 2), height / 3, cv::Scalar(40, 220, 230), -1);
    cv::line(image, cv::Point(0, height - 1), cv::Point(width - 1, 0), cv::Scalar(255, 0, 0));
    if (channels == 1)
        cv::cvtColor(image, image, cv::COLOR_BGR2GRAY);
    if (channels == 4)
        cv::cvtColor(image, image, cv::COLOR_BGR2BGRA);
    return image;
}

// An APP1 segment right after the start of image holding only the orientation
// tag (0x0112, SHORT), in big- or little-endian TIFF order.
QByteArray with_orientation(const QByteArray& jpeg, int orientation, bool big_endian)
{
    QByteArray tiff =
        big_endian ? QByteArray::fromHex("4d4d002a00000008000101120003000000010000000000000000")
                   : QByteArray::fromHex("49492a000800000001001201030001000000000000000000000000");
    tiff[big_endian ? 19 : 18] = static_cast<char>(orientation);
    QByteArray segment =
        QByteArray::fromHex("ffe1") + QByteArray(2, '\0') + QByteArray("Exif\0\0", 6) + tiff;
    const int length = segment.size() - 2;
    segment[2] = static_cast<char>(length >> 8);
    segment[3] = static_cast<char>(length & 0xFF);
    return jpeg.left(2) + segment + jpeg.mid(2);
}

bool photo_seeds(const QString& folder)
{
    const cv::Mat colour = texture(24, 16, 3);
    const QByteArray jpeg = encoded(colour, ".jpg", {cv::IMWRITE_JPEG_QUALITY, 60});
    bool ok = write(folder + "/baseline.jpg", jpeg) &&
              write(folder + "/progressive.jpg",
                    encoded(colour, ".jpg",
                            {cv::IMWRITE_JPEG_PROGRESSIVE, 1, cv::IMWRITE_JPEG_QUALITY, 60})) &&
              write(folder + "/restart_markers.jpg",
                    encoded(colour, ".jpg",
                            {cv::IMWRITE_JPEG_RST_INTERVAL, 1, cv::IMWRITE_JPEG_QUALITY, 60})) &&
              write(folder + "/grey.jpg", encoded(texture(16, 16, 1), ".jpg")) &&
              write(folder + "/cut_short.jpg", jpeg.left(jpeg.size() * 2 / 3)) &&
              write(folder + "/stray_bytes.jpg", jpeg.left(2) + "junk" + jpeg.mid(2)) &&
              write(folder + "/rgb.png", encoded(colour, ".png")) &&
              write(folder + "/alpha.png", encoded(texture(12, 8, 4), ".png"));
    cv::Mat deep;
    texture(8, 8, 3).convertTo(deep, CV_16UC3, 257);
    ok = ok && write(folder + "/sixteen_bit.png", encoded(deep, ".png"));
    for (int orientation : {1, 3, 6, 8})
        ok = ok && write(folder + QString("/orientation_%1.jpg").arg(orientation),
                         with_orientation(jpeg, orientation, orientation % 2 == 0));
    return ok;
}

// The sticker target reads its parameters from the end of the input (colour,
// width - 1, height - 1, palette or not) and the pixels from the front; the
// clicks come from what is left at the end.
QByteArray sticker_input(const std::vector<std::uint8_t>& pixels, int width, int height,
                         bool palette, bool yellow)
{
    QByteArray input(reinterpret_cast<const char*>(pixels.data()), static_cast<int>(pixels.size()));
    for (int click = 0; click < 6; ++click)
        input += QByteArray::fromHex("0000000000e0ff3f00"); // half-way probabilities
    input += static_cast<char>(palette ? 1 : 0);
    input += static_cast<char>(height - 1);
    input += static_cast<char>(width - 1);
    input += static_cast<char>(yellow ? 1 : 0);
    return input;
}

// Palette picture with squares of palette entry `colour` at the given centres and sides.
std::vector<std::uint8_t> squares(int width, int height, int colour,
                                  const std::vector<cv::Vec3i>& centres_and_sides)
{
    std::vector<std::uint8_t> pixels(width * height, 0);
    for (const cv::Vec3i& square : centres_and_sides) {
        for (int y = square[1] - square[2] / 2; y < square[1] + (square[2] + 1) / 2; ++y)
            for (int x = square[0] - square[2] / 2; x < square[0] + (square[2] + 1) / 2; ++x)
                if (x >= 0 && y >= 0 && x < width && y < height)
                    pixels[y * width + x] = static_cast<std::uint8_t>(colour);
    }
    return pixels;
}

bool sticker_seeds(const QString& folder)
{
    std::vector<std::uint8_t> noise(48 * 48 * 3);
    cv::RNG random(7);
    for (std::uint8_t& byte : noise)
        byte = static_cast<std::uint8_t>(random.uniform(0, 256));
    return write(folder + "/three_yellow.bin",
                 sticker_input(squares(64, 64, 1, {{32, 10, 5}, {33, 32, 5}, {32, 54, 5}}), 64, 64,
                               true, true)) &&
           write(folder + "/five_by_area.bin",
                 sticker_input(
                     squares(64, 96, 1,
                             {{30, 8, 6}, {31, 40, 6}, {30, 80, 6}, {5, 5, 2}, {60, 60, 3}}),
                     64, 96, true, true)) &&
           write(folder + "/three_pink_turned.bin",
                 sticker_input(squares(48, 48, 2, {{10, 10, 4}, {24, 24, 4}, {38, 38, 4}}), 48, 48,
                               true, false)) &&
           write(folder + "/single_pixel.bin", sticker_input({1}, 1, 1, true, true)) &&
           write(folder + "/one_row.bin",
                 sticker_input(squares(96, 1, 1, {{10, 0, 3}, {50, 0, 3}, {90, 0, 3}}), 96, 1, true,
                               true)) &&
           write(folder + "/noise.bin", sticker_input(noise, 48, 48, false, true));
}

CameraCalibration camera(const char* photo, QSize size, AlignmentMethod method,
                         ImageAlignment transform, double top_y)
{
    CameraCalibration entry;
    entry.reference_photo = QString::fromUtf8(photo);
    entry.reference_size = size;
    entry.method = method;
    if (method != AlignmentMethod::NotAligned) {
        entry.transform = transform;
        entry.stickers = {cv::Point2d(400.5, top_y), cv::Point2d(401, 300),
                          cv::Point2d(399.25, 450)};
    }
    return entry;
}

bool calibration_seeds(const QString& folder)
{
    RigCalibration rig;
    rig.cameras = {
        camera("/photos/ref_0.jpg", QSize(800, 600), AlignmentMethod::Automatic,
               {3.5, -2.25, 1.5, 1.02, true}, 150),
        camera("/photos/réf 1.jpg", QSize(800, 600), AlignmentMethod::Manual,
               {0.1, 0.2, -0.3, 0.999, true}, 151),
        camera("/photos/ref_2.jpg", QSize(), AlignmentMethod::NotAligned, {}, 0),
    };
    rig.reference_stickers = {cv::Point2d(400, 150), cv::Point2d(400, 300), cv::Point2d(400, 450)};
    const QByteArray three = calibration_json(rig);

    RigCalibration single;
    single.cameras = {
        camera("ref.png", QSize(1, 1), AlignmentMethod::Automatic, {0, 0, 0, 1, true}, 150)};
    single.sticker_color = StickerColor::Pink;
    return write(folder + "/three_cameras.qvcal", three) &&
           write(folder + "/one_camera_pink.qvcal", calibration_json(single)) &&
           write(folder + "/cut_short.qvcal", three.left(three.size() / 2));
}

// One command's arguments after its name, each ended by a NUL, as the
// command-line target splits its input.
QByteArray argument_list(const QStringList& arguments)
{
    QByteArray bytes;
    for (const QString& argument : arguments)
        bytes += argument.toUtf8() + '\0';
    bytes.chop(1);
    return bytes;
}

bool command_line_seeds(const QString& folder)
{
    const QList<QPair<QString, QStringList>> seeds{
        {"calibrate",
         {"--color", "pink", "--points", "2=101.5,40,100,240.25,99,440", "--points",
          "1=1e3,-0.5,3,4,5,6", "--output", "rig.qvcal", "ref_0.jpg", "réf 1.jpg", "ref_2.jpg"}},
        {"process",
         {"--calibration", "rig.qvcal", "--output", "sortie", "--fps", "12", "--compression", "30%",
          "--boomerang", "--gif", "--video-size", "1280", "shot_0.jpg", "shot_1.jpg"}},
        {"watch",
         {"--calibration=rig.qvcal", "--output=racine", "--settle", "0.5", "--once", "--fps=60",
          "--video-size=original", "arrivée"}},
        {"help", {"-h"}},
        {"version", {"--version"}},
        {"usage_errors",
         {"--points", "x=1,2", "--fps", "61", "--boomerang=yes", "-xyz", "--", "--output"}},
    };
    for (const auto& seed : seeds) {
        if (!write(folder + "/" + seed.first + ".args", argument_list(seed.second)))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER\n", argv[0]);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString photos = root + "/photo_reading";
    const QString stickers = root + "/sticker_detection";
    const QString calibrations = root + "/calibration_file";
    const QString command_lines = root + "/command_line";
    if (!QDir().mkpath(photos) || !QDir().mkpath(stickers) || !QDir().mkpath(calibrations) ||
        !QDir().mkpath(command_lines))
        return 1;
    return photo_seeds(photos) && sticker_seeds(stickers) && calibration_seeds(calibrations) &&
                   command_line_seeds(command_lines)
               ? 0
               : 1;
}
