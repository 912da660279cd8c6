// Frame rendering and the parallel frame writer: a scene point lands where its
// alignment says, to a fraction of a pixel; no frame reaches beyond its shot;
// the frames written are those of warping each upright shot into the common
// rectangle, whatever the orientation, the number of workers or a stop.

#include "calibration/alignment.h"
#include "output/aligned_images.h"
#include "output/frame_geometry.h"
#include "output/frame_render.h"
#include "output/run_files.h"
#include "output/video_frames.h"
#include "photo/image_file.h"
#include "support/batch_progress.h"
#include "tests/output/shots.h"
#include "tests/support/file_size_limit.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <array>
#include <cmath>
#include <cstring>
#include <thread>

Q_DECLARE_METATYPE(ImageAlignment)
using Alignments = std::vector<ImageAlignment>;
Q_DECLARE_METATYPE(Alignments)

namespace {

// Every pixel differs from its neighbours, so a sample taken one pixel off shows.
QImage texture(QSize size, int seed)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const uint hash =
                (uint(x) * 73856093u) ^ (uint(y) * 19349663u) ^ (uint(seed) * 83492791u);
            image.setPixel(x, y, qRgb(hash & 0xff, (hash >> 8) & 0xff, (hash >> 16) & 0xff));
        }
    }
    return image;
}

// Smooth colour waves: sampling a fraction of a pixel off changes a value by a
// fraction of a level, so two correct resamplings agree closely.
QImage smooth_texture(QSize size, int seed)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const double u = x * (0.11 + 0.01 * seed), v = y * 0.07;
            image.setPixel(x, y,
                           qRgb(int(128 + 100 * std::sin(u + v)),
                                int(128 + 100 * std::cos(u - 0.5 * v)),
                                int(128 + 100 * std::sin(0.3 * u + v + seed))));
        }
    }
    return image;
}

// Dark blurred spots (Gaussian, sigma 2.5 px) centred on `spots`, on white.
QImage spotted(QSize size, const std::vector<QPointF>& spots)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            double ink = 0.0;
            for (const QPointF& spot : spots) {
                const double dx = x - spot.x(), dy = y - spot.y();
                ink += std::exp(-(dx * dx + dy * dy) / (2 * 2.5 * 2.5));
            }
            const int level = 255 - int(std::lround(255 * std::min(ink, 1.0)));
            image.setPixel(x, y, qRgb(level, level, level));
        }
    }
    return image;
}

// The ink-weighted centre of the frame around `near`, in frame pixels.
QPointF spot_centre(const QImage& frame, QPointF near, int reach)
{
    double sum = 0.0, sx = 0.0, sy = 0.0;
    for (int y = qFloor(near.y()) - reach; y <= qCeil(near.y()) + reach; ++y) {
        for (int x = qFloor(near.x()) - reach; x <= qCeil(near.x()) + reach; ++x) {
            if (!frame.rect().contains(x, y))
                return {-1e9, -1e9};
            const double ink = 255 - qRed(frame.pixel(x, y));
            sum += ink;
            sx += ink * x;
            sy += ink * y;
        }
    }
    return {sx / sum, sy / sum};
}

// What the writer must produce for one input: the upright picture, warped
// into the common rectangle.
QImage reference_frame(const QImage& input, const ImageAlignment& alignment, const QRect& rect)
{
    return render_frame(input, alignment, rect);
}

// `image` as a file of `format` holds it.
QByteArray encoded(const QImage& image, const char* format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// Someone else's file and a frame of an earlier, longer run: no run touches them.
const QStringList foreign_files{"notes.txt", "output_img_12.jpg"};

// What an output folder holding foreign_files and `extra` must list once `frames` are left.
QStringList entries_after(int frames, const QStringList& extra = {})
{
    QStringList names = frame_names(frames) + foreign_files + extra;
    names.sort();
    return names;
}

double to_linear(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// `image` as a camera with linear-light gains `gains` (blue, green, red) would show it.
QImage with_gains(const QImage& image, const std::array<double, 3>& gains)
{
    QImage shown = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < shown.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(shown.scanLine(y));
        for (int x = 0; x < shown.width(); ++x) {
            int bgr[3] = {qBlue(line[x]), qGreen(line[x]), qRed(line[x])};
            for (int c = 0; c < 3; ++c) {
                const double v = std::min(1.0, to_linear(bgr[c] / 255.0) * gains[c]);
                const double srgb = v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
                bgr[c] = int(std::lround(srgb * 255.0));
            }
            line[x] = qRgb(bgr[2], bgr[1], bgr[0]);
        }
    }
    return shown;
}

// The gains of the shots colours_matched_in_the_pass writes; the middle one is 1.
const std::vector<std::array<double, 3>> shot_gains{{1.08, 0.95, 1.0}, {0.9, 1.05, 1.1},
                                                    {0.96, 1.04, 0.9}, {1.0, 1.0, 1.0},
                                                    {1.1, 1.06, 0.92}, {0.94, 0.9, 1.06},
                                                    {1.05, 0.93, 0.97}};

// Seven shots of one scene through those gains, as JPEG files in `folder`.
QStringList shots_with_gains(const QString& folder)
{
    QImage scene = smooth_texture(QSize(320, 240), 2);
    QPainter painter(&scene);
    for (int i = 0; i < 12; ++i)
        painter.fillRect(20 + 23 * i, 30 + (i * 37) % 150, 18, 40,
                         QColor::fromHsv(i * 31 % 360, 140, 120 + 8 * i));
    painter.end();
    QStringList paths;
    for (std::size_t k = 0; k < shot_gains.size(); ++k) {
        paths << folder + "/shot_" + QString::number(k) + ".jpg";
        with_gains(scene, shot_gains[k]).save(paths.back(), nullptr, 95);
    }
    return paths;
}

QByteArray file_bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int workers()
{
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// Set in the environment of this program run again as a child that writes
// frames under a file-size limit of that many bytes, as a full disk would cut them.
const char* const file_size_limit_variable = "FRAMES_TEST_FILE_SIZE_LIMIT";

// The child: arguments are the output folder, then the inputs. Prints the
// number of frames written, the file reported unwritable and why, one per line.
int write_frames_under_file_size_limit(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() < 2)
        return 2;
    if (!limit_file_size(qEnvironmentVariable(file_size_limit_variable).toLongLong()))
        return 3;
    const QStringList inputs = arguments.mid(1);
    const AlignedImages result = write_aligned_images(
        inputs, identity_calibration(static_cast<int>(inputs.size())), arguments[0], 80);
    QTextStream(stdout) << result.frame_count << '\n'
                        << result.unwritable_output << '\n'
                        << result.unwritable_reason << '\n';
    return 0;
}

} // namespace

class FramesTest : public QObject
{
    Q_OBJECT

private slots:
    // Spots drawn at known sub-pixel places land where the alignment takes them.
    void known_points_land_where_they_belong_data()
    {
        QTest::addColumn<ImageAlignment>("alignment");
        QTest::addRow("sub-pixel shift") << ImageAlignment{3.3, -2.6, 0, 1, true};
        QTest::addRow("turned clockwise, enlarged") << ImageAlignment{-20.25, 10.5, 4, 1.07, true};
        QTest::addRow("turned back, reduced") << ImageAlignment{15.7, -8.1, -3.5, 0.93, true};
        QTest::addRow("quarter turn") << ImageAlignment{240.5, 0.25, 90, 1, true};
    }

    void known_points_land_where_they_belong()
    {
        QFETCH(ImageAlignment, alignment);
        const QSize size(240, 180);
        std::vector<QPointF> spots;
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 4; ++i)
                spots.emplace_back(50.3 + 45.17 * i, 45.6 + 44.71 * j);
        const QRect rect = common_frame_rect({size}, {alignment}, 0);
        const QImage frame = render_frame(spotted(size, spots), alignment, rect);
        QCOMPARE(frame.size(), rect.size());

        const Similarity similarity = alignment_similarity(alignment);
        double worst = 0.0;
        for (const QPointF& spot : spots) {
            const cv::Point2d at = apply(similarity, {spot.x(), spot.y()});
            const QPointF wanted(at.x - rect.x(), at.y - rect.y());
            const QPointF found = spot_centre(frame, wanted, 9);
            worst = std::max(worst, std::hypot(found.x() - wanted.x(), found.y() - wanted.y()));
        }
        QVERIFY2(worst < 0.05, qPrintable(QString::number(worst)));
    }

    // A picture with a green rim: a frame shows the rim only along its own
    // edges (where the shot's edge may cross a corner), never a band of
    // repeated rim pixels from beyond the shot.
    void frames_stay_inside_their_shots_data()
    {
        QTest::addColumn<Alignments>("alignments");
        const ImageAlignment identity{0, 0, 0, 1, true};
        QTest::addRow("turned either way")
            << Alignments{{12.4, -9.5, 3, 1, true}, identity, {-10.2, 8.8, -2.5, 1, true}};
        QTest::addRow("scaled above and below 1")
            << Alignments{{-8.1, -6.3, 0, 1.06, true}, identity, {6.4, 4.9, 0, 0.95, true}};
        QTest::addRow("turned and scaled, shifted")
            << Alignments{{30.5, -12, 5, 0.94, true}, identity, {-25.25, 14, -4, 1.07, true}};
    }

    void frames_stay_inside_their_shots()
    {
        QFETCH(Alignments, alignments);
        const QSize size(200, 150);
        QImage shot(size, QImage::Format_RGB32);
        shot.fill(Qt::white);
        QPainter painter(&shot);
        painter.setPen(Qt::green);
        painter.drawRect(0, 0, size.width() - 1, size.height() - 1);
        painter.end();

        const QRect rect =
            common_frame_rect(std::vector<QSize>(alignments.size(), size), alignments, 1);
        QVERIFY(rect.width() > 150 && rect.height() > 100);
        for (const ImageAlignment& alignment : alignments) {
            const QImage frame = render_frame(shot, alignment, rect);
            for (int y = 0; y < frame.height(); ++y) {
                for (int x = 0; x < frame.width(); ++x) {
                    const int inside =
                        std::min({x, y, frame.width() - 1 - x, frame.height() - 1 - y});
                    const QRgb pixel = frame.pixel(x, y);
                    if (inside >= 2)
                        QVERIFY2(qRed(pixel) > 200 && qBlue(pixel) > 200,
                                 qPrintable(QString("(%1, %2)").arg(x).arg(y)));
                }
            }
        }
    }

    // Decoded as stored and turned by the warp, or turned by Qt on reading:
    // the same pixels, for the eight EXIF orientations.
    void exif_orientation_is_part_of_the_warp()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("turned.jpg");
        for (int orientation = 1; orientation <= 8; ++orientation) {
            QVERIFY(write_jpeg_with_orientation(path, texture(QSize(7, 4), 2), 90, orientation));
            QImage stored;
            const std::optional<QImageIOHandler::Transformations> turn =
                read_stored_image(path, stored);
            QVERIFY(turn);
            const QImage upright = read_oriented_image(path).convertToFormat(QImage::Format_RGB32);
            // Turned and mirrored for real, or the comparison below proves nothing.
            QCOMPARE(upright.size(), orientation >= 5 ? QSize(4, 7) : QSize(7, 4));
            QCOMPARE(upright == stored, orientation == 1);
            QImage frame(upright.size(), QImage::Format_RGB32);
            render_frame_into(stored, *turn, {0, 0, 0, 1, true}, QPoint(0, 0), frame);
            QCOMPARE(frame, upright);
        }
    }

    // The whole writer against the pipeline done by hand, through the same
    // JPEG encoder: every EXIF orientation, a transparent PNG, a greyscale
    // JPEG, shifts and turns of both signs, odd sizes.
    void written_frames_equal_the_step_by_step_pipeline()
    {
        QTemporaryDir inputs, out;
        QStringList paths;
        std::vector<ImageAlignment> alignments;
        for (int turn = 1; turn <= 8; ++turn) {
            paths << inputs.filePath(QString("turned_%1.jpg").arg(turn));
            alignments.push_back(
                {turn % 3 - 1.5, 2.7 - turn, 1.3 * turn - 4.0, 0.97 + 0.01 * turn, true});
            QVERIFY(write_jpeg_with_orientation(paths.back(), smooth_texture(QSize(83, 61), turn),
                                                95, turn));
        }
        QImage transparent(QSize(81, 63), QImage::Format_ARGB32);
        transparent.fill(Qt::transparent);
        QPainter painter(&transparent);
        painter.drawImage(10, 10, smooth_texture(QSize(50, 40), 9));
        painter.fillRect(20, 20, 30, 30, QColor(255, 0, 0, 100));
        painter.end();
        paths << inputs.filePath("transparent.png") << inputs.filePath("grey.jpg");
        alignments.push_back({3, 3, 2, 1, true});
        alignments.push_back({-1, 0, -2, 1.02, true});
        QVERIFY(transparent.save(paths[8]));
        QVERIFY(smooth_texture(QSize(80, 62), 10)
                    .convertToFormat(QImage::Format_Grayscale8)
                    .save(paths[9]));

        const int quality = 90;
        BatchProgress progress;
        const AlignedImages result =
            write_aligned_images(paths, calibration_of(alignments), out.path(), quality, &progress);
        QCOMPARE(result.frame_count, paths.size());
        QVERIFY(!result.stopped);
        QCOMPARE(progress.done(), paths.size());
        QCOMPARE(folder_entries(out.path()), frame_names(paths.size()));
        std::vector<QSize> sizes;
        for (const QString& path : paths)
            sizes.push_back(read_oriented_image(path).size());
        const QRect rect = common_frame_rect(sizes, alignments, paths.size() / 2);
        QCOMPARE(result.common_size, rect.size());
        for (int k = 0; k < paths.size(); ++k) {
            const QImage expected = QImage::fromData(
                encoded(reference_frame(read_oriented_image(paths[k]), alignments[k], rect), "jpg",
                        quality));
            const QImage written(out.filePath("output_img_" + QString::number(k) + ".jpg"));
            QCOMPARE(written.size(), result.common_size);
            // Turning the stored pixels inside the warp rounds the sampling
            // positions a little differently than warping the turned picture.
            int worst = 0;
            for (int y = 0; y < written.height(); ++y)
                for (int x = 0; x < written.width(); ++x) {
                    const QRgb a = written.pixel(x, y), b = expected.pixel(x, y);
                    worst =
                        std::max({worst, std::abs(qRed(a) - qRed(b)),
                                  std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
                }
            QVERIFY2(worst <= 6, qPrintable(paths[k] + ": " + QString::number(worst)));
        }
    }

    void stop_finishes_the_images_in_hand_data()
    {
        QTest::addColumn<int>("stop_at"); // images done when the stop is asked; 0: before the run
        QTest::newRow("before the run") << 0;
        QTest::newRow("after one image") << 1;
        QTest::newRow("after three images") << 3;
        QTest::newRow("after the last image") << 10;
    }

    void stop_finishes_the_images_in_hand()
    {
        QFETCH(int, stop_at);
        QTemporaryDir inputs, out;
        const int count = 10;
        const QStringList shots = write_shots(inputs.path(), count, QSize(41, 31));
        for (const QString& name : foreign_files)
            QVERIFY(write_file(out.filePath(name)));
        StoppingProgress progress(stop_at);
        if (stop_at == 0)
            progress.request_stop();

        const AlignedImages result =
            write_aligned_images(shots, identity_calibration(count), out.path(), 80, &progress);
        QCOMPARE(result.common_size, QSize(40, 30));
        QVERIFY(result.unreadable_input.isEmpty() && result.unwritable_output.isEmpty());
        // Each worker finishes the image it holds; what is written starts at 0.
        QVERIFY2(result.frame_count >= stop_at &&
                     result.frame_count <= std::min(count, stop_at + workers() - 1),
                 qPrintable(QString::number(result.frame_count)));
        QCOMPARE(result.stopped, result.frame_count < count);
        QCOMPARE(progress.done(), result.frame_count);
        QCOMPARE(folder_entries(out.path()), entries_after(result.frame_count));
    }

    // A failure met by one worker leaves what a run in index order would have
    // left at it, whatever the other workers had done meanwhile.
    void late_failures_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("broken");
        QTest::addColumn<int>("frames_left");
        QTest::newRow("undecodable body") << "corrupt" << 5 << 0;
        QTest::newRow("undecodable first input") << "corrupt" << 0 << 0;
        QTest::newRow("frame file cannot be written") << "blocked" << 3 << 3;
        QTest::newRow("first frame cannot be written") << "blocked" << 0 << 0;
        QTest::newRow("output folder missing") << "no folder" << 0 << 0;
    }

    void late_failures()
    {
        QFETCH(QString, how);
        QFETCH(int, broken);
        QFETCH(int, frames_left);
        QTemporaryDir inputs, out;
        const int count = 8;
        QStringList shots = write_shots(inputs.path(), count, QSize(40, 30));
        for (const QString& name : foreign_files)
            QVERIFY(write_file(out.filePath(name)));
        const QString folder = how == "no folder" ? out.filePath("no/such") : out.path();
        const QString blocker = "output_img_" + QString::number(broken) + ".jpg";
        if (how == "corrupt") {
            // A sound header, so the size is known, over data that cannot decode.
            QByteArray png = encoded(texture(QSize(40, 30), 3), "png");
            for (int i = png.indexOf("IDAT") + 8; i < png.size() - 20; ++i)
                png[i] = 0x55;
            shots[broken] = inputs.filePath("corrupt.png");
            QVERIFY(write_file(shots[broken], png));
            QCOMPARE(read_oriented_size(shots[broken]), QSize(40, 30));
        } else if (how == "blocked") {
            QVERIFY(QDir(out.path()).mkdir(blocker));
        }

        const AlignedImages result =
            write_aligned_images(shots, identity_calibration(count), folder, 80);
        QCOMPARE(result.frame_count, frames_left);
        QVERIFY(!result.stopped);
        QCOMPARE(result.unreadable_input, how == "corrupt" ? shots[broken] : QString());
        QCOMPARE(result.unwritable_output, how == "corrupt" ? QString() : folder + "/" + blocker);
        QCOMPARE(
            folder_entries(out.path()),
            entries_after(frames_left, how == "blocked" ? QStringList{blocker} : QStringList{}));
    }

    // Colours matched in the pass: each camera's gains come from the shot the
    // pass decodes, the frames and their video copies carry exactly the tables
    // of the gains reported (the frame's bytes with the table applied to them),
    // and without matching the frames are the plain render's bytes.
    void colours_matched_in_the_pass()
    {
        QTemporaryDir inputs, out, again, plain;
        const QStringList shots = shots_with_gains(inputs.path());
        const int count = shots.size();
        const Calibration calibration = identity_calibration(count);
        const int quality = 90;

        std::vector<ColourGains> gains;
        const AlignedImages matched =
            write_aligned_images(shots, calibration, out.path(), quality, nullptr, nullptr, {}, &gains);
        QCOMPARE(matched.frame_count, count);
        QCOMPARE(static_cast<int>(gains.size()), count);
        QVERIFY(gains[count / 2].identity());
        for (int k = 0; k < count; ++k) {
            for (int c = 0; c < 3; ++c) {
                const double left = gains[k].bgr[c] * shot_gains[k][c];
                QVERIFY2(std::abs(left - 1.0) < 0.02,
                         qPrintable(QString("camera %1 channel %2: %3").arg(k).arg(c).arg(left)));
            }
        }

        std::vector<ColourTable> tables;
        for (const ColourGains& found : gains)
            tables.push_back(colour_table(found));
        // A scaled video and a GIF: both kept copies are made from the frame.
        const auto video_frames = [] {
            VideoFrames kept;
            kept.long_side = 200;
            kept.gif = true;
            return kept;
        };
        VideoFrames kept = video_frames();
        QCOMPARE(write_aligned_images(shots, calibration, again.path(), quality, nullptr, &kept,
                                      tables)
                     .frame_count,
                 count);
        QVERIFY(kept.video.kept() && kept.gif_frames.kept());
        QCOMPARE(write_aligned_images(shots, calibration, plain.path(), quality).frame_count, count);
        const QRect rect(QPoint(0, 0), matched.common_size);
        VideoFrames expected = video_frames();
        prepare_video_frames(expected, rect.size(), count);
        for (int k = 0; k < count; ++k) {
            const QString name = frame_file_name(k);
            QCOMPARE(file_bytes(out.path() + "/" + name), file_bytes(again.path() + "/" + name));
            const QImage shot = read_oriented_image(shots[k]);
            QImage frame = reference_frame(shot, calibration.alignment(k), rect);
            QCOMPARE(file_bytes(plain.path() + "/" + name), encoded(frame, "jpg", quality));
            apply_colour_table(tables[k], frame);
            QCOMPARE(file_bytes(again.path() + "/" + name), encoded(frame, "jpg", quality));
            keep_video_frame(expected, k,
                             cv::Mat(frame.height(), frame.width(), CV_8UC4, frame.bits(),
                                     static_cast<std::size_t>(frame.bytesPerLine())));
            for (const auto& [made, wanted] :
                 {std::pair{&kept.video, &expected.video}, {&kept.gif_frames, &expected.gif_frames}})
                QVERIFY(cv::norm(made->pictures[k], wanted->pictures[k], cv::NORM_INF) == 0);
        }
    }

    // Cameras taken from the middle outwards wait for the gains of those
    // nearer the middle: one that fails must not leave them waiting, and the
    // run leaves what a run in index order leaves, frames from 0 only.
    void colour_matching_failures_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("broken");
        QTest::newRow("middle shot undecodable") << "corrupt" << 3;
        QTest::newRow("first shot out undecodable") << "corrupt" << 4;
        QTest::newRow("second shot out undecodable") << "corrupt" << 2;
        QTest::newRow("last shot in outward order undecodable") << "corrupt" << 0;
        QTest::newRow("frame next to the middle cannot be written") << "blocked" << 4;
        QTest::newRow("stopped after two frames") << "stopped" << 2;
    }

    void colour_matching_failures()
    {
        QFETCH(QString, how);
        QFETCH(int, broken);
        QTemporaryDir inputs, out;
        QStringList shots = shots_with_gains(inputs.path());
        const int count = shots.size();
        for (const QString& name : foreign_files)
            QVERIFY(write_file(out.filePath(name)));
        const QString blocker = frame_file_name(broken);
        if (how == "corrupt") {
            QByteArray png = encoded(texture(QSize(320, 240), 3), "png");
            for (int i = png.indexOf("IDAT") + 8; i < png.size() - 20; ++i)
                png[i] = 0x55;
            shots[broken] = inputs.filePath("corrupt.png");
            QVERIFY(write_file(shots[broken], png));
        } else if (how == "blocked") {
            QVERIFY(QDir(out.path()).mkdir(blocker));
        }
        StoppingProgress progress(how == "stopped" ? broken : count + 1);

        std::vector<ColourGains> gains{ColourGains{}};
        const AlignedImages result = write_aligned_images(
            shots, identity_calibration(count), out.path(), 80, &progress, nullptr, {}, &gains);
        QVERIFY(result.frame_count < count || how == "stopped");
        QCOMPARE(result.unreadable_input, how == "corrupt" ? shots[broken] : QString());
        QCOMPARE(result.unreadable_camera, how == "corrupt" ? broken : -1);
        QCOMPARE(result.unwritable_output, how == "blocked" ? out.filePath(blocker) : QString());
        QCOMPARE(result.stopped, how == "stopped" && result.frame_count < count);
        if (how == "corrupt")
            QCOMPARE(result.frame_count, 0);
        else if (how == "blocked")
            QVERIFY(result.frame_count <= broken);
        // Gains only for a pass that estimated every camera's.
        QCOMPARE(gains.size(), result.frame_count == count ? std::size_t(count) : std::size_t(0));
        QCOMPARE(folder_entries(out.path()),
                 entries_after(result.frame_count,
                               how == "blocked" ? QStringList{blocker} : QStringList{}));
    }

    // A frame the disk cannot take whole, whether the last flush or an earlier
    // write fails, is reported; it and every later frame of the run are removed.
    void frame_cut_short_data()
    {
        QTest::addColumn<int>("broken");
        QTest::addColumn<int>("kept_percent"); // of the broken frame's bytes the limit lets through
        QTest::newRow("first frame, all but its last bytes") << 0 << 99;
        QTest::newRow("middle frame, all but its last bytes") << 3 << 99;
        QTest::newRow("middle frame, half of it") << 3 << 50;
        QTest::newRow("last frame, half of it") << 5 << 50;
    }

    void frame_cut_short()
    {
        QFETCH(int, broken);
        QFETCH(int, kept_percent);
        QTemporaryDir inputs, whole, out;
        // Flat shots encode small; the noisy one makes the only frame past the limit.
        const int count = 6;
        const QSize size(480, 360);
        QStringList shots = write_shots(inputs.path(), count, size);
        shots[broken] = inputs.filePath("noise.jpg");
        QVERIFY(write_file(shots[broken], encoded(texture(size, 7), "jpg", 95)));
        for (const QString& name : foreign_files)
            QVERIFY(write_file(out.filePath(name)));

        const AlignedImages unlimited =
            write_aligned_images(shots, identity_calibration(count), whole.path(), 80);
        QCOMPARE(unlimited.frame_count, count);
        QVector<qint64> sizes;
        for (const QString& name : frame_names(count))
            sizes << QFileInfo(whole.filePath(name)).size();
        const qint64 limit = sizes[broken] * kept_percent / 100;
        for (int k = 0; k < count; ++k)
            QVERIFY2(k == broken ? sizes[k] > limit : sizes[k] < limit,
                     qPrintable(QString::number(k)));

        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(file_size_limit_variable, QString::number(limit));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), QStringList{out.path()} + shots);
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split('\n');
        QCOMPARE(lines.value(0), QString::number(broken));
        QCOMPARE(lines.value(1), out.filePath(frame_names(count)[broken]));
        QCOMPARE(lines.value(2), QString::fromLocal8Bit(std::strerror(EFBIG)));

        QCOMPARE(folder_entries(out.path()), entries_after(broken));
        for (int k = 0; k < broken; ++k) {
            const QString name = frame_names(count)[k];
            QCOMPARE(QFileInfo(out.filePath(name)).size(), sizes[k]);
        }
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(file_size_limit_variable))
        return write_frames_under_file_size_limit(argc, argv);
    QCoreApplication app(argc, argv);
    FramesTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "frames_test.moc"
