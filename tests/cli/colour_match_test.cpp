// Colour matching through the real executable, `process` and `watch`, on a
// generated parallax rig whose cameras differ in colour and exposure: on (the
// default) brings every frame to its true colours and leaves the middle
// camera's frame as it was; off writes the frames of a run without it.

#include "calibration/calibration_construction.h"
#include "calibration/calibration_file.h"
#include "output/aligned_images.h"
#include "output/run_files.h"
#include "quorvane_process.h"
#include "tests/support/file_bytes.h"
#include "tools/make_rig/rig_writer.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sstream>

namespace {

const int camera_count = 3;
const int middle = camera_count / 2;

// The mean of each channel over a picture.
std::array<double, 3> mean_colour(const QImage& image)
{
    std::array<double, 3> sum{0, 0, 0};
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            sum[0] += qRed(line[x]);
            sum[1] += qGreen(line[x]);
            sum[2] += qBlue(line[x]);
        }
    }
    for (double& s : sum)
        s /= static_cast<double>(rgb.width()) * rgb.height();
    return sum;
}

// The largest difference of a channel's mean between two pictures, in 8-bit levels.
double colour_distance(const QImage& a, const QImage& b)
{
    const std::array<double, 3> ma = mean_colour(a);
    const std::array<double, 3> mb = mean_colour(b);
    double largest = 0.0;
    for (int c = 0; c < 3; ++c)
        largest = std::max(largest, std::abs(ma[c] - mb[c]));
    return largest;
}

QString frame_in(const QString& folder, int k)
{
    return folder + "/" + frame_file_name(k);
}

// A frame's bytes but for the resolution in its JFIF header, which follows the
// screen of the process that wrote it (none for the commands).
QByteArray frame_bytes(const QString& path)
{
    QByteArray bytes = read_bytes(path);
    if (bytes.size() > 18 && bytes.mid(6, 5) == QByteArray("JFIF\0", 5))
        bytes.replace(14, 4, QByteArray(4, '\0'));
    return bytes;
}

} // namespace

class ColourMatchTest : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QString calibration;
    QStringList shots;
    QString truth_frames; // the frames of the shots without colour differences
    QString plain_frames; // the frames written with the colours as shot

    // The frames in `folder` for a run with colour matching `on` or not.
    void verify_frames(const QString& folder, bool on)
    {
        for (int k = 0; k < camera_count; ++k) {
            const QByteArray written = frame_bytes(frame_in(folder, k));
            QVERIFY(!written.isEmpty());
            // The middle camera's frame, and every frame with matching off, as without it.
            if (!on || k == middle) {
                QVERIFY2(written == frame_bytes(frame_in(plain_frames, k)), qPrintable(folder));
                continue;
            }
            const QImage truth(frame_in(truth_frames, k));
            const double as_shot = colour_distance(QImage(frame_in(plain_frames, k)), truth);
            const double matched = colour_distance(QImage::fromData(written), truth);
            QVERIFY2(as_shot > 3.0, qPrintable(QString("camera %1 differs by only %2")
                                                   .arg(k)
                                                   .arg(as_shot)));
            QVERIFY2(matched < 1.5, qPrintable(QString("camera %1: %2 levels from its true "
                                                       "colours, %3 as shot")
                                                   .arg(k)
                                                   .arg(matched)
                                                   .arg(as_shot)));
        }
    }

    // One gains line per camera in camera order when `on`, none otherwise.
    static void verify_log(const QString& out, bool on)
    {
        const QRegularExpression line("^Camera (\\d+): colour gains (\\d+\\.\\d\\d) "
                                      "(\\d+\\.\\d\\d) (\\d+\\.\\d\\d)$",
                                      QRegularExpression::MultilineOption);
        QStringList cameras;
        for (auto match = line.globalMatch(out); match.hasNext();)
            cameras << match.next().captured(1);
        const QStringList expected = on ? QStringList{"1", "2", "3"} : QStringList();
        QCOMPARE(cameras, expected);
        if (on)
            QVERIFY2(out.contains("Camera 2: colour gains 1.00 1.00 1.00\n"), qPrintable(out));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        const QString folder = work.filePath("rig");
        RigOptions options;
        options.cameras = camera_count;
        options.width = 640;
        options.height = 480;
        options.parallax = true;
        options.arc_deg = 8.0; // neighbours 4 degrees apart, as in a bullet-time rig
        options.colour_spread = 0.12;
        options.exposure_spread = 0.4;
        std::ostringstream log;
        const RigWriteResult written = write_rig(options, folder, log);
        QVERIFY2(written.ok(), written.error.c_str());
        QStringList references;
        QStringList truth_shots;
        for (int k = 0; k < camera_count; ++k) {
            references << QDir(folder).filePath(reference_file_name(k));
            shots << QDir(folder).filePath(parallax_shot_file_name(k, 0, 1));
            truth_shots << QDir(folder).filePath(truth_shot_file_name(k, 0, 1));
        }
        ReferenceTriple reference;
        const RigCalibration rig =
            construct_rig_calibration(references, StickerColor::Yellow, reference, log);
        QVERIFY(rig.calibration().all_aligned());
        calibration = work.filePath("rig.qvcal");
        QCOMPARE(write_calibration_file(calibration, rig), QString());

        // The default compression, as the commands write the frames.
        truth_frames = work.filePath("truth");
        plain_frames = work.filePath("plain");
        QVERIFY(QDir().mkpath(truth_frames) && QDir().mkpath(plain_frames));
        QCOMPARE(write_aligned_images(truth_shots, rig.calibration(), truth_frames, 50).frame_count,
                 camera_count);
        QCOMPARE(write_aligned_images(shots, rig.calibration(), plain_frames, 50).frame_count,
                 camera_count);
    }

    void process_data()
    {
        QTest::addColumn<QStringList>("option");
        QTest::addColumn<bool>("on");
        QTest::newRow("by default") << QStringList() << true;
        QTest::newRow("on") << QStringList{"--colour-match", "on"} << true;
        QTest::newRow("off") << QStringList{"--colour-match", "off"} << false;
    }

    void process()
    {
        QFETCH(QStringList, option);
        QFETCH(bool, on);
        const QString output = work.filePath("process " + QString(QTest::currentDataTag()));
        const QuorvaneRun run = run_quorvane(
            QStringList{"process", "--calibration", calibration, "--output", output} + option +
            shots);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exit_code, 0);
        verify_log(run.out, on);
        verify_frames(output, on);
    }

    void watch_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("on") << "on";
        QTest::newRow("off") << "off";
    }

    void watch()
    {
        QFETCH(QString, value);
        const QString inbox = work.filePath("inbox " + value);
        const QString root = work.filePath("root " + value);
        QVERIFY(QDir().mkpath(inbox + "/take"));
        for (int k = 0; k < camera_count; ++k)
            QVERIFY(QFile::copy(shots[k], inbox + QString("/take/cam%1.jpg").arg(k + 1)));
        const QuorvaneRun run =
            run_quorvane({"watch", "--calibration", calibration, "--output", root, "--settle", "0",
                          "--once", "--colour-match", value, inbox});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exit_code, 0);
        verify_log(run.out, value == "on");
        verify_frames(root + "/take", value == "on");
    }
};

QTEST_GUILESS_MAIN(ColourMatchTest)
#include "colour_match_test.moc"
