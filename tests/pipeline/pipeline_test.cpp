// A processing run as both faces see it: the steps a progress display reads and
// the failure each ending reports, with a scripted runner instead of ffmpeg.

#include "output/run_files.h"
#include "pipeline/processing_run.h"
#include "pipeline/written_files.h"
#include "tests/app/recording_runner.h"
#include "tests/output/shots.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sstream>

Q_DECLARE_METATYPE(ProcessingFailure)

namespace {

// Counts what a progress display would have shown at each frame and encoded
// frame, with ffmpeg's progress lines of each kind of command: encodes report
// frames encoded, GIFs frames passed to the palette, joins nothing.
class StepRecorder : public ProcessRunner
{
public:
    explicit StepRecorder(ProcessingProgress& progress) : progress(progress) {}

    QStringList steps;

    ProcessResult run(const QString&, const QStringList& arguments,
                      const std::function<void(const QString&)>& on_error_line,
                      const std::function<bool()>&) override
    {
        steps << progress.step().text();
        const int frames = arguments.contains(QStringLiteral("concat"))
                               ? 0
                               : arguments.value(arguments.indexOf("-frames:v") + 1).toInt();
        const bool gif = arguments.contains(QStringLiteral("-loop"));
        for (int f = 1; f <= frames; ++f) {
            on_error_line(gif ? QStringLiteral("[Parsed_showinfo_2 @ 0x5] n: %1 pts:").arg(f - 1)
                              : QStringLiteral("frame=%1 fps=0").arg(f));
            steps << progress.step().text();
        }
        RecordingRunner::leave_output(arguments);
        return RecordingRunner::succeeded();
    }

private:
    ProcessingProgress& progress;
};

ProcessingRequest request_for(const QString& folder, int shots, int cameras)
{
    ProcessingRequest request;
    request.shots = write_shots(folder, shots, QSize(64, 48));
    request.calibration = identity_calibration(cameras);
    request.folder = folder + "/out";
    QDir().mkpath(request.folder);
    return request;
}

} // namespace

class PipelineTest : public QObject
{
    Q_OBJECT

private slots:
    void steps_read_frames_then_videos_then_gifs();
    void each_ending_reports_its_failure_data();
    void each_ending_reports_its_failure();
    void written_files_name_each_video_with_its_duration_data();
    void written_files_name_each_video_with_its_duration();
};

void PipelineTest::steps_read_frames_then_videos_then_gifs()
{
    QTemporaryDir folder;
    ProcessingRequest request = request_for(folder.path(), 3, 3);
    request.boomerang = true;
    request.gif = true;
    ProcessingProgress progress(request);
    QCOMPARE(progress.step().text(), QStringLiteral("Écriture des images : 0 / 3"));

    StepRecorder runner(progress);
    std::ostringstream log;
    const ProcessingOutcome outcome = run_processing(runner, request, log, &progress);
    QCOMPARE(outcome.failure(), ProcessingFailure::None);
    // The video, the boomerang's backward half and its join, the GIF, the GIF boomerang.
    const QStringList expected{"Encodage de la vidéo : 0 / 3",
                               "Encodage de la vidéo : 1 / 3",
                               "Encodage de la vidéo : 2 / 3",
                               "Encodage de la vidéo : 3 / 3",
                               "Encodage de la vidéo : 3 / 3",
                               "Effet boomerang : 1 / 3",
                               "Effet boomerang : 2 / 3",
                               "Effet boomerang : 3 / 3",
                               "Effet boomerang : 3 / 3",
                               "Effet boomerang : 3 / 3",
                               "GIF animé : 1 / 3",
                               "GIF animé : 2 / 3",
                               "GIF animé : 3 / 3",
                               "GIF animé : 3 / 3",
                               "GIF animé : 1 / 6",
                               "GIF animé : 2 / 6",
                               "GIF animé : 3 / 6",
                               "GIF animé : 4 / 6",
                               "GIF animé : 5 / 6",
                               "GIF animé : 6 / 6"};
    QCOMPARE(runner.steps, expected);
}

void PipelineTest::each_ending_reports_its_failure_data()
{
    QTest::addColumn<int>("shots");
    QTest::addColumn<bool>("unreadable");
    QTest::addColumn<bool>("ffmpeg_fails");
    QTest::addColumn<bool>("stop_at_once");
    QTest::addColumn<ProcessingFailure>("failure");
    QTest::addColumn<int>("frames_left");
    QTest::addColumn<int>("commands");

    QTest::newRow("done") << 3 << false << false << false << ProcessingFailure::None << 3 << 1;
    QTest::newRow("one shot too many")
        << 4 << false << false << false << ProcessingFailure::WrongShotCount << 0 << 0;
    QTest::newRow("one shot missing")
        << 2 << false << false << false << ProcessingFailure::WrongShotCount << 0 << 0;
    QTest::newRow("unreadable shot")
        << 3 << true << false << false << ProcessingFailure::UnreadableShot << 0 << 0;
    // A failed run takes back its frames too.
    QTest::newRow("ffmpeg fails") << 3 << false << true << false << ProcessingFailure::VideoFailed
                                  << 0 << 1;
    QTest::newRow("stopped before any frame")
        << 3 << false << false << true << ProcessingFailure::FramesStopped << 0 << 0;
}

void PipelineTest::each_ending_reports_its_failure()
{
    QFETCH(int, shots);
    QFETCH(bool, unreadable);
    QFETCH(bool, ffmpeg_fails);
    QFETCH(bool, stop_at_once);
    QFETCH(ProcessingFailure, failure);
    QFETCH(int, frames_left);
    QFETCH(int, commands);

    QTemporaryDir folder;
    const ProcessingRequest request = request_for(folder.path(), shots, 3);
    if (unreadable)
        QVERIFY(write_file(request.shots[1], "not a photo"));
    RecordingRunner runner;
    if (ffmpeg_fails)
        runner.result.exit_code = 1;
    ProcessingProgress progress(request);
    if (stop_at_once)
        progress.request_stop();

    std::ostringstream log;
    const ProcessingOutcome outcome = run_processing(runner, request, log, &progress);
    QCOMPARE(outcome.failure(), failure);
    QCOMPARE(QDir(request.folder).entryList({"output_img_*"}, QDir::Files).size(), frames_left);
    QVERIFY(!QFileInfo::exists(request.folder + "/" + staging_folder_name));
    QCOMPARE(runner.calls.size(), commands);
    if (unreadable)
        QCOMPARE(outcome.failed_file(), request.shots[1]);
}

void PipelineTest::written_files_name_each_video_with_its_duration_data()
{
    QTest::addColumn<bool>("boomerang");
    QTest::addColumn<bool>("gif");
    QTest::addColumn<int>("frames");
    QTest::addColumn<QStringList>("written"); // what the export reports
    QTest::addColumn<QStringList>("videos");  // "name seconds", seconds to 1/100
    const QStringList all{"output_video.mp4", "output_video_boomerang.mp4", "output_video.gif",
                          "output_video_boomerang.gif"};
    QTest::newRow("every step") << true << true << 5 << all
                                << QStringList{
                                       "output_video.mp4 0.21", "output_video_boomerang.mp4 0.42",
                                       "output_video.gif 0.21", "output_video_boomerang.gif 0.42"};
    QTest::newRow("video only") << false << false << 12 << QStringList{all.first()}
                                << QStringList{"output_video.mp4 0.50"};
    QTest::newRow("boomerang failed or stopped")
        << true << true << 5 << QStringList{all.first()} << QStringList{"output_video.mp4 0.21"};
    QTest::newRow("no video") << true << false << 5 << QStringList{} << QStringList{};
    QTest::newRow("no frame") << false << false << 0 << QStringList{} << QStringList{};
}

void PipelineTest::written_files_name_each_video_with_its_duration()
{
    QFETCH(bool, boomerang);
    QFETCH(bool, gif);
    QFETCH(int, frames);
    QFETCH(QStringList, written);
    QFETCH(QStringList, videos);
    ProcessingRequest request;
    request.fps = 24;
    request.boomerang = boomerang;
    request.gif = gif;
    ProcessingOutcome outcome;
    outcome.frames.frame_count = frames;
    outcome.frames.common_size = QSize(640, 480);
    outcome.video.written = written;

    const WrittenFiles files = written_files(request, outcome);
    QCOMPARE(files.frame_count, frames);
    QCOMPARE(files.frame_size, frames > 0 ? QSize(640, 480) : QSize());
    QStringList described;
    for (const WrittenVideo& video : files.videos)
        described << video.file_name + " " + QString::number(video.seconds, 'f', 2);
    QCOMPARE(described, videos);
}

QTEST_GUILESS_MAIN(PipelineTest)
#include "pipeline_test.moc"
