// Frame rendering and the parallel frame writer: the frames written must be
// the pixels of decoding, transforming, cutting to the inner rectangle and then
// to the common size, whatever the orientation, the number of workers or a stop.

#include "calibration/batch_progress.h"
#include "output/aligned_images.h"
#include "output/crop.h"
#include "output/frame_geometry.h"
#include "output/frame_render.h"
#include "output/image_file.h"
#include "tests/output/shots.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <thread>

Q_DECLARE_METATYPE(ImageAlignment)

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

// What the writer must produce for one input: the whole pipeline, step by step.
QImage reference_frame(const QImage& input, const ImageAlignment& alignment, QSize common)
{
    const FrameGeometry geometry = frame_geometry(input.size(), alignment);
    return crop_centered(render_frame(input, geometry, alignment), common.width(), common.height());
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
    // Past the limit, write() fails with EFBIG instead of the signal killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = qEnvironmentVariable(file_size_limit_variable).toULongLong();
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
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
    // Cutting the common size straight out of the transformed picture gives
    // the pixels of the full inner frame cut down afterwards.
    void common_cut_equals_inner_frame_cut_data()
    {
        QTest::addColumn<QSize>("input");
        QTest::addColumn<ImageAlignment>("alignment");
        QTest::addColumn<QSize>("shrink"); // the common size is the inner size less this

        const auto row = [](const char* name, QSize input, ImageAlignment alignment, QSize shrink) {
            QTest::newRow(name) << input << alignment << shrink;
        };
        row("identity, odd size", {101, 81}, {0, 0, 0, 1, true}, {1, 1});
        row("shift right, up", {120, 90}, {10.7, -3.2, 0, 1, true}, {3, 2});
        row("shift left, down", {121, 91}, {-5.5, 7.9, 0, 1, true}, {0, 1});
        row("small rotation", {151, 99}, {2.3, -1.1, 3.7, 1, true}, {5, 6});
        row("negative rotation, enlarged", {151, 99}, {-4.0, 6.6, -12.5, 1.23, true}, {8, 3});
        row("rotation, reduced", {140, 100}, {0, 0, 1.5, 0.83, true}, {1, 0});
        row("scale only", {99, 77}, {0, 0, 0, 0.9, true}, {2, 2});
        row("quarter turn", {90, 61}, {0, 0, 90, 1, true}, {0, 0});
        row("half turn", {90, 60}, {1, 1, 180, 1, true}, {3, 3});
        row("three-quarter turn, enlarged", {64, 47}, {0, -2, -90, 1.05, true}, {1, 2});
        row("45 deg", {100, 80}, {0, 0, 45, 1.1, true}, {4, 4});
    }

    void common_cut_equals_inner_frame_cut()
    {
        QFETCH(QSize, input);
        QFETCH(ImageAlignment, alignment);
        QFETCH(QSize, shrink);
        const QImage picture = texture(input, 1);
        const FrameGeometry geometry = frame_geometry(input, alignment);
        QVERIFY(!geometry.inner.isEmpty());
        const QSize common = geometry.inner - shrink;

        QImage frame(common, QImage::Format_RGB888);
        render_frame_into(upright_pixels(picture), geometry, alignment, frame);
        QCOMPARE(frame, reference_frame(picture, alignment, common));
    }

    // The transform is Qt's nearest-pixel QImage::transformed, computed per
    // pixel: the same box, the same turns exactly, and elsewhere at most one
    // source pixel off where a pixel centre falls near a pixel edge.
    void agrees_with_qt_transformed_data()
    {
        QTest::addColumn<QSize>("input");
        QTest::addColumn<double>("degrees");
        QTest::addColumn<double>("scale");
        QTest::addColumn<bool>("exact");
        QTest::newRow("identity") << QSize(101, 80) << 0.0 << 1.0 << true;
        QTest::newRow("quarter turn") << QSize(101, 80) << 90.0 << 1.0 << true;
        QTest::newRow("half turn") << QSize(101, 80) << 180.0 << 1.0 << true;
        QTest::newRow("three-quarter turn") << QSize(101, 80) << -90.0 << 1.0 << true;
        QTest::newRow("scale only") << QSize(101, 80) << 0.0 << 1.07 << false;
        QTest::newRow("small rotation") << QSize(150, 120) << 2.5 << 1.0 << false;
        QTest::newRow("rotation, reduced") << QSize(150, 120) << -7.0 << 0.93 << false;
        QTest::newRow("45 deg, enlarged") << QSize(120, 90) << 45.0 << 1.2 << false;
    }

    void agrees_with_qt_transformed()
    {
        QFETCH(QSize, input);
        QFETCH(double, degrees);
        QFETCH(double, scale);
        QFETCH(bool, exact);
        const QImage picture = coordinate_image(input);
        const ImageAlignment alignment{0, 0, degrees, scale, true};
        const FrameGeometry geometry = frame_geometry(input, alignment);
        const QImage transformed =
            picture.convertToFormat(QImage::Format_RGB888)
                .transformed(alignment_transform(alignment), Qt::FastTransformation);
        QCOMPARE(geometry.transformed, transformed.size());

        const QImage ours = render_frame(picture, geometry, alignment);
        const QImage qt =
            crop_centered(transformed, geometry.inner.width(), geometry.inner.height());
        QCOMPARE(ours.size(), qt.size());
        int same = 0;
        for (int y = 0; y < ours.height(); ++y) {
            for (int x = 0; x < ours.width(); ++x) {
                const QRgb a = ours.pixel(x, y);
                const QRgb b = qt.pixel(x, y);
                if ((a & 0xffffff) == (b & 0xffffff)) {
                    ++same;
                    continue;
                }
                QVERIFY2(!exact, qPrintable(QString("(%1, %2)").arg(x).arg(y)));
                QVERIFY2(qBlue(a) == 255 && qBlue(b) == 255 && qAbs(qRed(a) - qRed(b)) <= 1 &&
                             qAbs(qGreen(a) - qGreen(b)) <= 1,
                         qPrintable(QString("(%1, %2)").arg(x).arg(y)));
            }
        }
        QVERIFY2(same >= 0.97 * ours.width() * ours.height(), qPrintable(QString::number(same)));
    }

    // Against QImageReader's own automatic transform, for the eight EXIF orientations.
    void upright_pixels_follow_exif_orientation()
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
            const UprightPixels view = upright_pixels(stored, *turn);
            QCOMPARE(view.size, upright.size());
            for (int y = 0; y < upright.height(); ++y) {
                for (int x = 0; x < upright.width(); ++x) {
                    const QRgb pixel = *reinterpret_cast<const QRgb*>(
                        view.origin + x * view.step_x + y * view.step_y);
                    QCOMPARE(pixel, upright.pixel(x, y));
                }
            }
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
            QVERIFY(
                write_jpeg_with_orientation(paths.back(), texture(QSize(83, 61), turn), 95, turn));
        }
        QImage transparent(QSize(81, 63), QImage::Format_ARGB32);
        transparent.fill(Qt::transparent);
        QPainter painter(&transparent);
        painter.drawImage(10, 10, texture(QSize(50, 40), 9));
        painter.fillRect(20, 20, 30, 30, QColor(255, 0, 0, 100));
        painter.end();
        paths << inputs.filePath("transparent.png") << inputs.filePath("grey.jpg");
        alignments.push_back({3, 3, 2, 1, true});
        alignments.push_back({-1, 0, -2, 1.02, true});
        QVERIFY(transparent.save(paths[8]));
        QVERIFY(
            texture(QSize(80, 62), 10).convertToFormat(QImage::Format_Grayscale8).save(paths[9]));

        const int quality = 90;
        BatchProgress progress;
        const AlignedImages result =
            write_aligned_images(paths, calibration_of(alignments), out.path(), quality, &progress);
        QCOMPARE(result.frame_count, paths.size());
        QVERIFY(!result.stopped);
        QCOMPARE(progress.done(), paths.size());
        QCOMPARE(folder_entries(out.path()), frame_names(paths.size()));
        for (int k = 0; k < paths.size(); ++k) {
            const QImage expected = QImage::fromData(encoded(
                reference_frame(read_oriented_image(paths[k]), alignments[k], result.common_size),
                "jpg", quality));
            const QImage written(out.filePath("output_img_" + QString::number(k) + ".jpg"));
            QCOMPARE(written.size(), result.common_size);
            QVERIFY2(written == expected, qPrintable(paths[k]));
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
