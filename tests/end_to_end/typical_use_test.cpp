// The typical use, end to end, through the real window: a synthetic rig's
// references, one colour click, a camera clicked by hand, a processing run with
// the real ffmpeg, then the videos checked with ffprobe and the frames measured.

#include "output/video_size.h"
#include "support/process_runner.h"
#include "tests/app/window_driver.h"
#include "tests/support/stdout_capture.h"
#include "tools/make_rig/alignment_residuals.h"
#include "tools/make_rig/rig_writer.h"

#include <opencv2/imgcodecs.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QPointF>
#include <QProcess>
#include <QSlider>
#include <QTemporaryDir>

#include <iostream>
#include <sstream>

namespace {

struct VideoFacts
{
    int frames = -1;
    QSize size;
    QString rate;
};

// Decodes every frame with the real ffprobe; a missing ffprobe fails the test.
VideoFacts probe(const QString& video)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0",
                              "-show_entries", "stream=nb_read_frames,width,height,r_frame_rate",
                              "-of", "default=noprint_wrappers=1", video});
    VideoFacts facts;
    if (!ffprobe.waitForFinished(60000) || ffprobe.exitCode() != 0)
        return facts;
    for (const QString& line : QString::fromUtf8(ffprobe.readAllStandardOutput()).split('\n')) {
        const QString value = line.section('=', 1);
        if (line.startsWith("nb_read_frames="))
            facts.frames = value.toInt();
        else if (line.startsWith("width="))
            facts.size.setWidth(value.toInt());
        else if (line.startsWith("height="))
            facts.size.setHeight(value.toInt());
        else if (line.startsWith("r_frame_rate="))
            facts.rate = value;
    }
    return facts;
}

} // namespace

class TypicalUseTest : public QObject
{
    Q_OBJECT

private slots:
    void calibrate_process_and_measure_data();
    void calibrate_process_and_measure();
};

void TypicalUseTest::calibrate_process_and_measure_data()
{
    QTest::addColumn<QPointF>("sticker_offset"); // middle sticker from the middle camera's centre
    QTest::addColumn<double>("middle_shift");    // off the outer stickers' midpoint
    QTest::addColumn<double>("tilt");            // of the sticker column, degrees
    QTest::addColumn<int>("hidden_camera");      // clicked by hand; -1 for none
    QTest::newRow("centred column, one camera by hand") << QPointF(0, 0) << 0.0 << 0.0 << 1;
    // Where a subject stands rarely is the middle of the picture, and stickers
    // put up by hand are rarely evenly spaced.
    QTest::newRow("off-centre, uneven, tilted column") << QPointF(-350, 220) << 0.18 << -8.0 << -1;
}

void TypicalUseTest::calibrate_process_and_measure()
{
    QFETCH(QPointF, sticker_offset);
    QFETCH(double, middle_shift);
    QFETCH(double, tilt);
    QFETCH(int, hidden_camera);
    QTemporaryDir rig_folder;
    QTemporaryDir output;
    RigOptions options; // five cameras, 1600 x 1200
    options.seed = 7;
    options.clutter = hidden_camera >= 0;
    options.hidden_camera = hidden_camera;
    options.sticker_offset = {sticker_offset.x(), sticker_offset.y()};
    options.middle_shift = middle_shift;
    options.sticker_tilt_deg = tilt;
    std::ostringstream rig_log;
    const RigWriteResult rig = write_rig(options, rig_folder.path(), rig_log);
    QVERIFY2(rig.ok(), rig.error.c_str());
    const RigGroundTruth& truth = rig.truth;

    QStringList references;
    QStringList shots;
    for (int camera = 0; camera < options.cameras; ++camera) {
        references << rig_folder.filePath(reference_file_name(camera));
        shots << rig_folder.filePath(shot_file_name(camera));
    }

    ChildProcessRunner ffmpeg;
    WindowDriver driver;
    driver.open(references, &ffmpeg);
    QCOMPARE(driver.instruction(), QString("Cliquez sur un pixel d'un des repères"));

    StdoutCapture log;
    // A click on the middle camera's top sticker picks the colour and calibrates.
    const cv::Point2d top = truth.stickers[truth.middle_camera][0];
    driver.click(top.x, top.y);
    const QStringList warned =
        hidden_camera >= 0 ? QStringList{"warning: Attention"} : QStringList{};
    QCOMPARE(driver.dialogs.boxes(), warned);

    // The camera whose stickers are hidden is clicked by hand, bottom first.
    if (hidden_camera >= 0) {
        QCOMPARE(driver.instruction(), driver.sticker_prompt(1, hidden_camera));
        for (int sticker : {2, 0, 1}) {
            const cv::Point2d centre = truth.stickers[hidden_camera][sticker];
            driver.click(std::round(centre.x), std::round(centre.y));
        }
    }
    QVERIFY(driver.calibrated());

    driver.widget<QCheckBox>("checkBox_boomerang")->setChecked(true);
    driver.widget<QCheckBox>("checkBox_gif")->setChecked(true);
    driver.widget<QComboBox>("comboBox_video_size")->setCurrentText("1280 px");
    driver.widget<QSlider>("slider_fps")->setValue(10);
    driver.widget<QSlider>("slider_compression")->setValue(10);
    driver.process(shots, output.path());
    QCOMPARE(driver.dialogs.boxes(), warned + QStringList{"information: Traitement terminé"});

    QStringList expected_files;
    for (int k = 0; k < options.cameras; ++k)
        expected_files << QString("output_img_%1.jpg").arg(k);
    expected_files << "output_video.gif"
                   << "output_video.mp4"
                   << "output_video_boomerang.gif"
                   << "output_video_boomerang.mp4";
    QCOMPARE(QDir(output.path()).entryList(QDir::Files, QDir::Name), expected_files);

    std::vector<cv::Mat> frames;
    for (int k = 0; k < options.cameras; ++k) {
        frames.push_back(
            cv::imread(output.filePath(QString("output_img_%1.jpg").arg(k)).toStdString()));
        QVERIFY(!frames.back().empty());
        QCOMPARE(frames.back().size(), frames.front().size());
    }
    const QSize common(frames.front().cols, frames.front().rows);
    QVERIFY(common.width() % 2 == 0 && common.height() % 2 == 0);
    // Cameras move at most a few per cent: most of the picture survives the crop.
    QVERIFY(common.width() > options.width * 0.8 && common.height() > options.height * 0.8);

    // The frames keep their size; the videos have a long side of 1280 px, the GIFs 800.
    const VideoFacts video = probe(output.filePath("output_video.mp4"));
    QCOMPARE(video.frames, options.cameras);
    QCOMPARE(video.size, video_size(common, 1280));
    QCOMPARE(video.size.width(), 1280);
    QCOMPARE(video.rate, QString("10/1"));
    const VideoFacts boomerang = probe(output.filePath("output_video_boomerang.mp4"));
    QCOMPARE(boomerang.frames, 2 * options.cameras);
    QCOMPARE(boomerang.size, video.size);
    const VideoFacts gif = probe(output.filePath("output_video_boomerang.gif"));
    QCOMPARE(gif.frames, 2 * options.cameras);
    QCOMPARE(gif.size.width(), 800);

    const AlignmentResiduals residuals =
        measure_alignment(frames, truth.middle_camera, 0.6, truth.marker_spacing / 2);
    std::cerr << "alignment residuals over " << residuals.distances.size() << " markers: median "
              << residuals.median << " px, maximum " << residuals.maximum << " px" << std::endl;
    QVERIFY(residuals.distances.size() >= 4 * 20);
    QVERIFY2(residuals.median <= 0.5, "median residual above 0.5 px");
    QVERIFY2(residuals.maximum <= 1.5, "largest residual above 1.5 px");
}

QTEST_MAIN(TypicalUseTest)
#include "typical_use_test.moc"
