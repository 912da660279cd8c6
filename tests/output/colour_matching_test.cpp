// Colour matching: gains recovered from frames of known gains, the tables that
// apply them, and the reduced frames the estimate is made on.

#include "calibration/drift_check.h"
#include "output/colour_matching.h"
#include "output/frame_geometry.h"
#include "output/frame_render.h"
#include "photo/image_file.h"
#include "shots.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sstream>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int frame_width = 320;
constexpr int frame_height = 240;

double to_linear(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double to_srgb(double v)
{
    return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

// A wall of coloured patches and fine grain in linear light, wider than a frame
// so that each camera can see it from another place.
cv::Mat make_wall(int width, int height, double brightest)
{
    cv::RNG rng(7);
    cv::Mat wall(height, width, CV_32FC3, cv::Scalar(0.2, 0.25, 0.3));
    for (int i = 0; i < 220; ++i) {
        const cv::Point corner(rng.uniform(0, width), rng.uniform(0, height));
        const cv::Size size(rng.uniform(8, 60), rng.uniform(8, 60));
        const cv::Scalar colour(rng.uniform(0.04, brightest), rng.uniform(0.04, brightest),
                                rng.uniform(0.04, brightest));
        cv::rectangle(wall, cv::Rect(corner, size), colour, cv::FILLED);
    }
    cv::Mat grain(wall.size(), CV_32FC3);
    rng.fill(grain, cv::RNG::NORMAL, 0.0, 0.02);
    cv::GaussianBlur(grain, grain, cv::Size(0, 0), 1.5);
    wall += grain;
    return cv::max(wall, 0.01);
}

struct TakeShape
{
    int parallax = 0;     // pixels the wall moves from one camera to the next
    bool subject = false; // a subject in front that hides another part of the wall in each
};

// The frames of `gains.size()` cameras: camera k sees the wall moved by its
// parallax and, in front, the subject moved three times as far; its colours are
// the wall's times its gains (blue, green, red), clipped as a sensor clips them.
std::vector<cv::Mat> make_frames(const std::vector<cv::Vec3d>& gains, const TakeShape& shape,
                                 double brightest = 0.7)
{
    const int count = static_cast<int>(gains.size());
    const int margin = 4 * std::abs(shape.parallax) * count + 8;
    const cv::Mat wall = make_wall(frame_width + 2 * margin, frame_height, brightest);
    std::vector<cv::Mat> frames;
    for (int k = 0; k < count; ++k) {
        const int shift = (k - count / 2) * shape.parallax;
        cv::Mat linear = wall(cv::Rect(margin + shift, 0, frame_width, frame_height)).clone();
        if (shape.subject) {
            const cv::Point centre(frame_width / 2 - 3 * shift, frame_height / 2);
            cv::circle(linear, centre, 50, cv::Scalar(0.05, 0.3, 0.6), cv::FILLED);
            cv::circle(linear, centre, 20, cv::Scalar(0.5, 0.1, 0.2), cv::FILLED);
        }
        cv::Mat frame(linear.size(), CV_8UC3);
        for (int y = 0; y < frame.rows; ++y) {
            for (int x = 0; x < frame.cols; ++x) {
                for (int c = 0; c < 3; ++c) {
                    const double v = std::min(1.0, linear.at<cv::Vec3f>(y, x)[c] * gains[k][c]);
                    frame.at<cv::Vec3b>(y, x)[c] = cv::saturate_cast<uchar>(to_srgb(v) * 255.0);
                }
            }
        }
        frames.push_back(frame);
    }
    return frames;
}

QImage solid_frame(QRgb colour)
{
    QImage frame(4, 2, QImage::Format_RGB32);
    frame.fill(colour);
    return frame;
}

// One camera's frame with its subject, enlarged to a photo's size, for the
// reduced copies' tests.
cv::Mat photo_sized_shot()
{
    cv::Mat shot;
    cv::resize(make_frames({{1, 1, 1}}, {0, true}, 0.8)[0], shot, cv::Size(1600, 1200), 0, 0,
               cv::INTER_CUBIC);
    return shot;
}

// Two cameras: camera 0 turned, scaled and moved onto camera 1, the middle one.
Calibration turned_onto_middle()
{
    Calibration calibration = Calibration::with_count(2);
    calibration.translation_x = {60.0, 0.0};
    calibration.translation_y = {-30.0, 0.0};
    calibration.rotation_deg = {4.0, 0.0};
    calibration.scale = {0.9, 1.0};
    calibration.aligned = {true, true};
    return calibration;
}

} // namespace

class ColourMatchingTest : public QObject
{
    Q_OBJECT

private slots:
    void known_gains_are_recovered_data()
    {
        QTest::addColumn<int>("parallax");
        QTest::addColumn<bool>("subject");
        QTest::addColumn<double>("brightest");
        QTest::newRow("no parallax") << 0 << false << 0.7;
        QTest::newRow("parallax") << 3 << false << 0.7;
        QTest::newRow("subject over another part of the wall") << 3 << true << 0.7;
        // Patches up to 0.95 times gains up to 1.3: the brightest clip in some cameras.
        QTest::newRow("clipped highlights") << 2 << true << 0.95;
    }

    // Camera k's gains times its estimate give the middle camera's gains.
    void known_gains_are_recovered()
    {
        QFETCH(int, parallax);
        QFETCH(bool, subject);
        QFETCH(double, brightest);
        const std::vector<cv::Vec3d> gains{{1.10, 0.92, 1.05}, {0.88, 1.0, 1.12}, {1.0, 1.0, 1.0},
                                           {1.2, 1.3, 1.15},   {0.95, 0.85, 0.9}, {0.8, 0.9, 1.1}};
        const std::vector<cv::Mat> frames = make_frames(gains, {parallax, subject}, brightest);
        // All cameras solved at once, and camera by camera from the middle outwards.
        for (const bool outward : {false, true}) {
            const std::vector<ColourGains> found =
                outward ? estimate_colour_gains_outward(frames) : estimate_colour_gains(frames, 3);
            QCOMPARE(found.size(), gains.size());
            QVERIFY(found[3].identity());
            for (std::size_t k = 0; k < gains.size(); ++k) {
                for (int c = 0; c < 3; ++c) {
                    const double matched = found[k].bgr[c] * gains[k][c] / gains[3][c];
                    if (std::abs(matched - 1.0) > 0.015)
                        QFAIL(qPrintable(QString("%1camera %2 channel %3: %4 of the middle's")
                                             .arg(outward ? "outwards: " : "")
                                             .arg(k)
                                             .arg(c)
                                             .arg(matched)));
                }
            }
        }
    }

    void small_rigs_data()
    {
        QTest::addColumn<int>("cameras");
        QTest::newRow("one camera") << 1;
        QTest::newRow("two cameras") << 2;
    }

    // The middle camera of two is the second; the first is matched to it.
    void small_rigs()
    {
        QFETCH(int, cameras);
        const std::vector<cv::Vec3d> all{{0.9, 1.0, 1.1}, {1.0, 1.0, 1.0}};
        const std::vector<cv::Vec3d> gains(all.end() - cameras, all.end());
        const std::vector<cv::Mat> frames = make_frames(gains, {2, false});
        for (const std::vector<ColourGains>& found :
             {estimate_colour_gains(frames, cameras / 2), estimate_colour_gains_outward(frames)}) {
            QCOMPARE(static_cast<int>(found.size()), cameras);
            QVERIFY(found[cameras / 2].identity());
            if (cameras == 2) {
                QVERIFY(std::abs(found[0].bgr[0] * 0.9 - 1.0) < 0.015);
                QVERIFY(std::abs(found[0].bgr[2] * 1.1 - 1.0) < 0.015);
            }
        }
    }

    // The log's line per camera, and a second where the limits held a gain back.
    void gains_held_at_their_limits_are_said()
    {
        std::vector<ColourGains> gains(3);
        gains[0].bgr = {0.91, 0.97, 1.08};
        gains[1].bgr = {3.88, 4.0, 4.0};
        gains[2].bgr = {0.25, 0.5, 0.6};
        std::ostringstream log;
        log_colour_gains(gains, log);
        QCOMPARE(QString::fromStdString(log.str()),
                 QStringLiteral("Camera 1: colour gains 1.08 0.97 0.91\n"
                                "Camera 2: colour gains 4.00 4.00 3.88\n"
                                "Camera 2: colour gains held at their limits (0.25 to 4), its "
                                "colours only partly matched\n"
                                "Camera 3: colour gains 0.60 0.50 0.25\n"
                                "Camera 3: colour gains held at their limits (0.25 to 4), its "
                                "colours only partly matched\n"));
    }

    void a_blank_frame_keeps_its_colours_data()
    {
        QTest::addColumn<int>("level");
        QTest::newRow("all black") << 0;
        QTest::newRow("all white") << 255;
    }

    // A frame with nothing to compare keeps gains 1, and its neighbours are
    // still matched across it through their next-neighbours.
    void a_blank_frame_keeps_its_colours()
    {
        QFETCH(int, level);
        const std::vector<cv::Vec3d> gains{
            {0.9, 1.1, 1.0}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1.1, 0.9, 1.2}};
        std::vector<cv::Mat> frames = make_frames(gains, {2, false});
        frames[1].setTo(cv::Scalar::all(level));
        frames[3].setTo(cv::Scalar::all(level));
        const std::vector<ColourGains> found = estimate_colour_gains(frames, 2);
        QVERIFY(found[1].identity());
        QVERIFY(found[3].identity());
        for (int c = 0; c < 3; ++c) {
            QVERIFY(std::abs(found[0].bgr[c] * gains[0][c] - 1.0) < 0.015);
            QVERIFY(std::abs(found[4].bgr[c] * gains[4][c] - 1.0) < 0.015);
        }
        const QImage blank = solid_frame(qRgb(level, level, level));
        QImage frame = blank;
        apply_colour_table(colour_table(found[1]), frame);
        QCOMPARE(frame, blank);
    }

    // The gains act in linear light: half the light is not half the sRGB value.
    void tables_apply_gains_in_linear_light_data()
    {
        QTest::addColumn<double>("gain");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("identity") << 1.0 << 128 << 128;
        QTest::newRow("half the light") << 0.5 << 128 << 92;
        QTest::newRow("twice the light") << 2.0 << 128 << 176;
        QTest::newRow("white stays white") << 1.3 << 255 << 255;
        QTest::newRow("black stays black") << 0.7 << 0 << 0;
    }

    void tables_apply_gains_in_linear_light()
    {
        QFETCH(double, gain);
        QFETCH(int, value);
        QFETCH(int, expected);
        ColourGains gains;
        gains.bgr = {gain, gain, gain};
        const ColourTable table = colour_table(gains);
        for (int c = 0; c < 3; ++c)
            QCOMPARE(static_cast<int>(table.bgr[c][value]), expected);
        for (int v = 0; v < 256; ++v) {
            const double linear = std::min(1.0, to_linear(v / 255.0) * gain);
            QVERIFY(std::abs(table.bgr[0][v] - to_srgb(linear) * 255.0) <= 0.5 + 1e-9);
        }
    }

    // Each channel through its own table, the alpha byte kept.
    void each_channel_gets_its_own_gain()
    {
        ColourGains gains;
        gains.bgr = {1.0, 0.5, 2.0};
        QImage frame = solid_frame(qRgb(100, 128, 200));
        apply_colour_table(colour_table(gains), frame);
        const QRgb pixel = frame.pixel(1, 1);
        QCOMPARE(qRed(pixel), 138);
        QCOMPARE(qGreen(pixel), 92);
        QCOMPARE(qBlue(pixel), 200);
        QCOMPARE(qAlpha(pixel), 255);
    }

    // Every byte value of every channel goes through its own channel's table,
    // in place with the alpha byte kept, and into the 3-byte rows the writer
    // takes, however the row splits into the conversion's groups of pixels and
    // whichever way the processor looks the values up.
    void every_value_goes_through_its_channels_table_data()
    {
        QTest::addColumn<double>("blue");
        QTest::addColumn<double>("green");
        QTest::addColumn<double>("red");
        QTest::addColumn<int>("width");
        QTest::newRow("mixed gains") << 1.17 << 0.81 << 0.64 << 255;
        QTest::newRow("the estimate's limits") << 4.0 << 0.25 << 1.0 << 256;
        // Gains whose values from 16 to 31 no single line gives.
        QTest::newRow("a sharp turn near black") << 1.125 << 1.31 << 2.14 << 101;
        QTest::newRow("one group and two") << 1.02 << 0.98 << 1.0 << 34;
        QTest::newRow("no whole group") << 0.9 << 1.1 << 1.2 << 33;
    }

    void every_value_goes_through_its_channels_table()
    {
        QFETCH(double, blue);
        QFETCH(double, green);
        QFETCH(double, red);
        QFETCH(int, width);
        ColourGains gains;
        gains.bgr = {blue, green, red};
        const ColourTable table = colour_table(gains);
        // Rows of every value, shifted from row to row so that each value
        // meets every place in the groups.
        QImage before(width, 24, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < before.height(); ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(before.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const int v = (x + 11 * y) % 256;
                line[x] = qRgba(255 - v, v, (v * 7) % 256, (v * 13) % 256);
            }
        }
        QImage frame = before;
        apply_colour_table(table, frame);
        for (int y = 0; y < before.height(); ++y) {
            for (int v = 0; v < before.width(); ++v) {
                const QRgb was = before.pixel(v, y);
                const QRgb now = frame.pixel(v, y);
                QCOMPARE(qRed(now), int(table.bgr[2][qRed(was)]));
                QCOMPARE(qGreen(now), int(table.bgr[1][qGreen(was)]));
                QCOMPARE(qBlue(now), int(table.bgr[0][qBlue(was)]));
                QCOMPARE(qAlpha(now), qAlpha(was));
            }
        }
        // Each way this processor can look the values up, into rows padded by
        // guard bytes and followed by more: none of them may be written.
        const int row_bytes = 3 * width + 4;
        constexpr uchar guard = 0xa5;
        for (const TableLookup lookup :
             {TableLookup::Scalar, TableLookup::Lines, TableLookup::BytePermutes}) {
            if (!table_lookup_available(lookup, table))
                continue;
            std::vector<uchar> memory(std::size_t(row_bytes) * before.height() + 64, guard);
            QImage converted(memory.data(), width, before.height(), row_bytes,
                             QImage::Format_RGB888);
            convert_through_colour_table(table, before, converted, lookup);
            for (int y = 0; y < before.height(); ++y) {
                const uchar* bytes = memory.data() + std::size_t(y) * row_bytes;
                for (int v = 0; v < before.width(); ++v) {
                    const QRgb now = frame.pixel(v, y);
                    QCOMPARE(int(bytes[3 * v]), qRed(now));
                    QCOMPARE(int(bytes[3 * v + 1]), qGreen(now));
                    QCOMPARE(int(bytes[3 * v + 2]), qBlue(now));
                }
                for (int b = 3 * width; b < row_bytes; ++b)
                    QCOMPARE(int(bytes[b]), int(guard));
            }
            for (std::size_t b = std::size_t(row_bytes) * before.height(); b < memory.size(); ++b)
                QCOMPARE(int(memory[b]), int(guard));
        }
    }

    // Every gain the estimate may give has its table as lines: else the
    // frames of such a camera would fall back to the slowest conversion.
    void every_gain_within_the_limits_has_its_lines()
    {
        for (double gain = 0.25; gain <= 4.0; gain *= 1.002) {
            ColourGains gains;
            gains.bgr = {gain, 1.0, gain};
            const ColourTable table = colour_table(gains);
            if (!table.lines[0].fit)
                QFAIL(qPrintable(QString("no lines for gain %1").arg(gain, 0, 'f', 4)));
            QVERIFY(table.lines[1].fit);
        }
    }

    // The table applied band by band as the frame is warped gives the frame the
    // warp and then the table give: the bands meet where they should, whatever
    // the turn, and a transparent shot still comes out opaque.
    void the_table_in_the_render_gives_the_separate_pass_data()
    {
        QTest::addColumn<int>("turn");
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<int>("height");
        QTest::newRow("upright") << int(QImageIOHandler::TransformationNone) << false << 157;
        QTest::newRow("a quarter turn")
            << int(QImageIOHandler::TransformationRotate90) << false << 96;
        QTest::newRow("mirrored and flipped")
            << int(QImageIOHandler::TransformationRotate180) << false << 33;
        QTest::newRow("transparent") << int(QImageIOHandler::TransformationNone) << true << 70;
    }

    void the_table_in_the_render_gives_the_separate_pass()
    {
        QFETCH(int, turn);
        QFETCH(bool, transparent);
        QFETCH(int, height);
        cv::Mat noise(180, 260, CV_8UC4);
        cv::RNG(11).fill(noise, cv::RNG::UNIFORM, 0, 256);
        cv::GaussianBlur(noise, noise, cv::Size(3, 3), 0);
        QImage stored(noise.cols, noise.rows, QImage::Format_ARGB32);
        for (int y = 0; y < noise.rows; ++y)
            std::memcpy(stored.scanLine(y), noise.ptr(y), 4 * static_cast<std::size_t>(noise.cols));
        stored = stored.convertToFormat(transparent ? QImage::Format_ARGB32_Premultiplied
                                                    : QImage::Format_RGB32);
        const auto orientation = static_cast<QImageIOHandler::Transformations>(turn);
        const ImageAlignment alignment{-6.3, 4.1, 2.5, 1.04, true};
        ColourGains gains;
        gains.bgr = {1.21, 0.93, 0.78};
        const ColourTable table = colour_table(gains);

        QImage separate(150, height, QImage::Format_RGB32);
        render_frame_into(stored, orientation, alignment, QPoint(7, 5), separate);
        apply_colour_table(table, separate);
        QImage folded(150, height, QImage::Format_RGB32);
        render_matched_frame_into(stored, orientation, alignment, QPoint(7, 5), folded, table);

        QCOMPARE(folded.format(), QImage::Format_RGB888);
        int differing = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < folded.width(); ++x) {
                const QRgb a = separate.pixel(x, y);
                const QRgb b = folded.pixel(x, y);
                const int worst =
                    std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b))});
                QVERIFY2(worst <= 1, qPrintable(QString("(%1, %2)").arg(x).arg(y)));
                QCOMPARE(qAlpha(b), 255);
                differing += worst > 0;
            }
        }
        QVERIFY(differing <= folded.width());
    }

    void reduced_frames_show_what_the_frames_show_data()
    {
        QTest::addColumn<int>("orientation");
        // Whether the drift check decoded its copy already.
        QTest::addColumn<bool>("shared");
        // Whether the frames pass makes it from the shot decoded in full.
        QTest::addColumn<bool>("in_pass");
        QTest::newRow("upright") << 1 << false << false;
        QTest::newRow("stored turned, EXIF orientation 6") << 6 << false << false;
        QTest::newRow("stored upside down, EXIF orientation 3") << 3 << false << false;
        QTest::newRow("turned, the check's copy") << 6 << true << false;
        QTest::newRow("upright, in the pass") << 1 << false << true;
        QTest::newRow("turned, in the pass") << 6 << false << true;
        QTest::newRow("mirrored, in the pass") << 2 << false << true;
        QTest::newRow("upside down, in the pass") << 3 << false << true;
    }

    // The reduced frame is the frame written at full size, reduced: same place,
    // same turn, same colours.
    void reduced_frames_show_what_the_frames_show()
    {
        QFETCH(int, orientation);
        QFETCH(bool, shared);
        QFETCH(bool, in_pass);
        QTemporaryDir folder;
        const cv::Mat shot = photo_sized_shot();
        const QString path = folder.filePath("shot.jpg");
        const QImage stored(shot.data, shot.cols, shot.rows, static_cast<int>(shot.step),
                            QImage::Format_BGR888);
        QVERIFY(write_jpeg_with_orientation(path, stored, 95, orientation));
        const QImage upright = read_oriented_image(path);
        QVERIFY(!upright.isNull());

        const Calibration calibration = turned_onto_middle();
        ReducedShots copies;
        if (shared) {
            const int check = drift_reduction(upright.size());
            copies.shots = {read_reduced_photo(path, check), read_reduced_photo(path, check)};
            // Cut short now, the file would decode to nothing: the copies must serve.
            QFile cut(path);
            QVERIFY(cut.resize(cut.size() / 2));
        }
        const QRect rect =
            common_frame_rect({upright.size(), upright.size()},
                              {calibration.alignment(0), calibration.alignment(1)}, 1);
        // The frames pass makes its own from the shot decoded in full.
        QImage decoded;
        const std::optional<QImageIOHandler::Transformations> turn =
            in_pass ? read_stored_image(path, decoded) : std::nullopt;
        QCOMPARE(turn.has_value(), in_pass);
        const ReducedFrameShape shape = reduced_frame_shape(rect, 160);
        const std::vector<cv::Mat> reduced =
            in_pass ? std::vector<cv::Mat>{reduced_aligned_frame(decoded, *turn,
                                                                 calibration.alignment(0), shape),
                                           reduced_aligned_frame(decoded, *turn,
                                                                 calibration.alignment(1), shape)}
                    : reduced_aligned_frames({path, path}, calibration, 160,
                                             shared ? &copies : nullptr);
        QCOMPARE(reduced.size(), std::size_t(2));
        QCOMPARE(reduced[0].size(), cv::Size(shape.size.width(), shape.size.height()));
        for (int k = 0; k < 2; ++k) {
            const QImage full = render_frame(upright.convertToFormat(QImage::Format_RGB32),
                                             calibration.alignment(k), rect);
            const cv::Mat bgra(full.height(), full.width(), CV_8UC4,
                               const_cast<uchar*>(full.constBits()),
                               static_cast<size_t>(full.bytesPerLine()));
            cv::Mat expected;
            cv::cvtColor(bgra, expected, cv::COLOR_BGRA2BGR);
            cv::resize(expected, expected, reduced[k].size(), 0, 0, cv::INTER_AREA);
            const double difference = cv::norm(expected, reduced[k], cv::NORM_L1) /
                                      static_cast<double>(expected.total() * 3);
            if (difference > 4.0)
                QFAIL(qPrintable(QString("camera %1: %2 apart").arg(k).arg(difference)));
        }
    }

    void stripes_a_row_apart_average_out_data()
    {
        QTest::addColumn<int>("turn");
        QTest::addColumn<QSize>("size"); // blocks of 8 rows, then of 4
        const int turned = static_cast<int>(QImageIOHandler::TransformationRotate90);
        QTest::newRow("upright") << 0 << QSize(1283, 963);
        QTest::newRow("turned") << turned << QSize(1283, 963);
        QTest::newRow("small, upright") << 0 << QSize(643, 483);
        QTest::newRow("small, turned") << turned << QSize(643, 483);
    }

    // The shot is reduced over some of its rows only: rows of one colour
    // and the other in turn must still give their mean, on an odd size too.
    void stripes_a_row_apart_average_out()
    {
        QFETCH(int, turn);
        QFETCH(QSize, size);
        const auto transformations = static_cast<QImageIOHandler::Transformations>(turn);
        QImage stored(size, QImage::Format_RGB32);
        for (int y = 0; y < stored.height(); ++y) {
            const QRgb colour = y % 2 ? qRgb(200, 40, 90) : qRgb(40, 160, 220);
            std::fill_n(reinterpret_cast<QRgb*>(stored.scanLine(y)), stored.width(), colour);
        }
        const QSize upright = turn ? stored.size().transposed() : stored.size();
        ImageAlignment identity;
        identity.scale = 1.0;
        identity.aligned = true;
        const ReducedFrameShape shape = reduced_frame_shape(QRect(QPoint(0, 0), upright));
        const cv::Mat reduced = reduced_aligned_frame(stored, transformations, identity, shape);
        QCOMPARE(reduced.size(), cv::Size(shape.size.width(), shape.size.height()));
        const cv::Scalar mean =
            cv::mean(reduced(cv::Rect(2, 2, reduced.cols - 4, reduced.rows - 4)));
        QVERIFY2(std::abs(mean[0] - 155.0) <= 2.0 && std::abs(mean[1] - 100.0) <= 2.0 &&
                     std::abs(mean[2] - 120.0) <= 2.0,
                 qPrintable(QString("%1 %2 %3").arg(mean[0]).arg(mean[1]).arg(mean[2])));
    }

    void the_estimate_does_not_depend_on_the_copy_shared_data()
    {
        // The reduction of the copy shared, 0 for the check's own.
        QTest::addColumn<int>("shared");
        QTest::newRow("the check's copy") << 0;
        QTest::newRow("a finer copy") << 1;
        QTest::newRow("a coarser copy") << 8;
    }

    // The window may run without the drift check's copies and the command line
    // with them: both must give the same reduced frames, so the same gains and
    // the same frames.
    void the_estimate_does_not_depend_on_the_copy_shared()
    {
        QFETCH(int, shared);
        QTemporaryDir folder;
        const cv::Mat shot = photo_sized_shot();
        const QString path = folder.filePath("shot.jpg");
        QVERIFY(cv::imwrite(path.toStdString(), shot, {cv::IMWRITE_JPEG_QUALITY, 95}));
        const Calibration calibration = turned_onto_middle();
        const int reduction = shared ? shared : drift_reduction(QSize(shot.cols, shot.rows));
        ReducedShots copies;
        copies.shots = {read_reduced_photo(path, reduction), read_reduced_photo(path, reduction)};

        const std::vector<cv::Mat> alone = reduced_aligned_frames({path, path}, calibration);
        const std::vector<cv::Mat> beside =
            reduced_aligned_frames({path, path}, calibration, 0, &copies);
        QCOMPARE(alone.size(), std::size_t(2));
        QCOMPARE(beside.size(), std::size_t(2));
        for (int k = 0; k < 2; ++k) {
            QCOMPARE(beside[k].size(), alone[k].size());
            QCOMPARE(cv::norm(beside[k], alone[k], cv::NORM_INF), 0.0);
        }
    }

    // A shot that cannot be read gives no reduced frames (the frame pass says why).
    void an_unreadable_shot_gives_no_reduced_frames()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath("shot.jpg");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a photo") > 0);
        file.close();
        Calibration calibration = Calibration::with_count(1);
        calibration.scale = {1.0};
        calibration.aligned = {true};
        QVERIFY(reduced_aligned_frames({path}, calibration).empty());
    }
};

QTEST_GUILESS_MAIN(ColourMatchingTest)
#include "colour_matching_test.moc"
