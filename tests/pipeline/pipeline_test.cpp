// A processing run as both faces see it: how it is prepared, the steps a
// progress display reads and the failure each ending reports, with a scripted
// runner instead of ffmpeg (the ffmpeg check runs a fake one on its own PATH).

#include "cli/video_options.h"
#include "output/ffmpeg_check.h"
#include "output/run_files.h"
#include "pipeline/photo_check.h"
#include "pipeline/processing_plan.h"
#include "pipeline/processing_run.h"
#include "pipeline/run_options.h"
#include "pipeline/written_files.h"
#include "support/file_lock.h"
#include "tests/app/recording_runner.h"
#include "tests/output/shots.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

#include <sstream>

Q_DECLARE_METATYPE(ProcessingFailure)
Q_DECLARE_METATYPE(PlanCheck)
using FedBytes = QList<long long>;
Q_DECLARE_METATYPE(FedBytes)

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
                               : arguments.value(arguments.lastIndexOf("-frames:v") + 1).toInt();
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

// Records how many bytes each command was fed (-1: not fed).
class FeedCounter : public ProcessRunner
{
public:
    QList<long long> fed;

    ProcessResult run(const QString&, const QStringList& arguments,
                      const std::function<void(const QString&)>&,
                      const std::function<bool()>&) override
    {
        fed << -1;
        RecordingRunner::leave_output(arguments);
        return RecordingRunner::succeeded();
    }

    ProcessResult run_fed(const QString&, const QStringList& arguments, const InputSource& input,
                          const std::function<void(const QString&)>&,
                          const std::function<bool()>&) override
    {
        long long bytes = 0;
        for (InputPiece piece = input(); piece.size > 0 || piece.later; piece = input())
            bytes += static_cast<long long>(piece.size);
        fed << bytes;
        RecordingRunner::leave_output(arguments);
        return RecordingRunner::succeeded();
    }
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


// A rig of `cameras` aligned as they stand, from 64 x 48 reference photos.
RigCalibration rig_of(int cameras)
{
    RigCalibration rig;
    for (int k = 0; k < cameras; ++k) {
        CameraCalibration camera;
        camera.reference_photo = QStringLiteral("reference_%1.jpg").arg(k);
        camera.reference_size = QSize(64, 48);
        camera.method = AlignmentMethod::Automatic;
        camera.transform = ImageAlignment{0, 0, 0, 1, true};
        rig.cameras.push_back(camera);
    }
    return rig;
}

QByteArray jpeg_of(QSize size)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    coordinate_image(size).save(&buffer, "jpg", 90);
    return bytes;
}

// Writes camera k's shot of `kind` under `root` and gives its path: "ok" (the
// reference's size), "half" (same proportions, half the size), "square",
// "missing", "empty", "cut" (a JPEG cut short), "text"; "earlier" is a photo
// named as camera k's frame in "out", given through another spelling.
QString write_shot(const QString& root, int k, const QString& kind)
{
    if (kind == "earlier") {
        const QString path = root + "/out/../out/" + frame_file_name(k);
        write_file(path, jpeg_of(QSize(64, 48)));
        return path;
    }
    const QString path = root + "/shot_" + QString::number(k) + ".jpg";
    const QByteArray full = jpeg_of(kind == "half" ? QSize(32, 24)
                                    : kind == "square" ? QSize(48, 48)
                                                       : QSize(64, 48));
    if (kind == "empty")
        write_file(path);
    else if (kind == "cut")
        write_file(path, full.left(full.size() / 2));
    else if (kind == "text")
        write_file(path, "not a photo");
    else if (kind != "missing")
        write_file(path, full);
    return path;
}

// What a plan's problem names, with paths relative to `root`.
QStringList named(const PlanProblem& problem, const QString& root)
{
    const auto relative = [&](QString text) { return text.replace(root + "/", QString()); };
    switch (problem.check) {
    case PlanCheck::None:
        return {};
    case PlanCheck::ShotCount:
        return {QStringLiteral("%1 shots for %2 cameras")
                    .arg(problem.shot_count)
                    .arg(problem.camera_count)};
    case PlanCheck::UnusablePhotos: {
        QStringList photos;
        for (const UnusablePhoto& photo : problem.unusable)
            photos << QStringLiteral("camera %1 %2: %3")
                          .arg(photo.camera)
                          .arg(relative(photo.path), photo.reason);
        return photos;
    }
    case PlanCheck::ShotSize:
        return {relative(shot_size_problem(problem.mismatch))};
    case PlanCheck::ShotAmongEarlierRun:
        return {"shot " + relative(problem.shot)};
    case PlanCheck::Overlay:
        return {"overlay " + relative(problem.shot) + ": " + problem.overlay_reason};
    }
    return {};
}

// Puts `program` (a shell script body) on a PATH of its own as "ffmpeg" while it
// lives; no body leaves the PATH without any ffmpeg.
class FakeFfmpeg
{
public:
    explicit FakeFfmpeg(const QByteArray& body) : saved(qgetenv("PATH"))
    {
        if (!body.isEmpty()) {
            QFile script(bin.path() + "/ffmpeg");
            script.open(QIODevice::WriteOnly);
            script.write("#!/bin/sh\n" + body + "\n");
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        qputenv("PATH", QFile::encodeName(bin.path()));
    }
    ~FakeFfmpeg() { qputenv("PATH", saved); }

private:
    QTemporaryDir bin;
    QByteArray saved;
};

} // namespace

class PipelineTest : public QObject
{
    Q_OBJECT

private slots:
    void steps_read_frames_then_videos_then_gifs();
    void videos_are_fed_the_frames_kept_in_memory_data();
    void videos_are_fed_the_frames_kept_in_memory();
    void each_ending_reports_its_failure_data();
    void each_ending_reports_its_failure();
    void written_files_name_each_video_with_its_duration_data();
    void written_files_name_each_video_with_its_duration();
    void a_run_into_a_folder_another_run_holds_is_refused();

    void plan_stops_at_the_first_check_that_fails_data();
    void plan_stops_at_the_first_check_that_fails();
    void plan_problem_wording_data();
    void plan_problem_wording();
    void video_options_are_refused_outside_their_bounds_data();
    void video_options_are_refused_outside_their_bounds();
    void ffmpeg_check_says_why_ffmpeg_cannot_run_data();
    void ffmpeg_check_says_why_ffmpeg_cannot_run();
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
    // The video, the boomerang's backward half and its join, then both GIFs in
    // one pass over the boomerang GIF's 6 pictures, which counts the 3 + 6 frames
    // of their steps.
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
                               "GIF animé : 3 / 3",
                               "GIF animé : 1 / 6",
                               "GIF animé : 3 / 6",
                               "GIF animé : 4 / 6",
                               "GIF animé : 6 / 6"};
    QCOMPARE(runner.steps, expected);
}

// A run at a reduced size feeds every encode the frames it kept (3 pictures of
// 32 x 24; both GIFs are one command, fed the GIF boomerang's 6); at the
// frames' own size the video reads the frame files and only the GIFs are fed.
void PipelineTest::videos_are_fed_the_frames_kept_in_memory_data()
{
    QTest::addColumn<int>("long_side");
    QTest::addColumn<FedBytes>("fed");
    const long long yuv = 32 * 24 * 3 / 2;
    const long long gif = 32 * 24 * 3;
    const long long full_gif = 64 * 48 * 3;
    QTest::newRow("reduced") << 32 << FedBytes{3 * yuv, 3 * yuv, -1, 6 * gif};
    QTest::newRow("frames' own size") << 0 << FedBytes{-1, -1, -1, 6 * full_gif};
}

void PipelineTest::videos_are_fed_the_frames_kept_in_memory()
{
    QFETCH(int, long_side);
    QTemporaryDir folder;
    ProcessingRequest request = request_for(folder.path(), 3, 3);
    request.boomerang = true;
    request.gif = true;
    request.long_side = long_side;
    FeedCounter runner;
    std::ostringstream log;
    const ProcessingOutcome outcome = run_processing(runner, request, log);
    QCOMPARE(outcome.failure(), ProcessingFailure::None);
    QTEST(runner.fed, "fed");
}

void PipelineTest::each_ending_reports_its_failure_data()
{
    QTest::addColumn<int>("shots");
    // Shot 1: "text" is refused from its header, before any frame; "cut" fails
    // to decode while the video is already being encoded from the first frames.
    QTest::addColumn<QString>("broken");
    QTest::addColumn<bool>("ffmpeg_fails");
    QTest::addColumn<bool>("stop_at_once");
    QTest::addColumn<ProcessingFailure>("failure");
    QTest::addColumn<int>("frames_left");
    QTest::addColumn<int>("commands");

    QTest::newRow("done") << 3 << QString() << false << false << ProcessingFailure::None << 3 << 1;
    QTest::newRow("one shot too many")
        << 4 << QString() << false << false << ProcessingFailure::WrongShotCount << 0 << 0;
    QTest::newRow("one shot missing")
        << 2 << QString() << false << false << ProcessingFailure::WrongShotCount << 0 << 0;
    QTest::newRow("unreadable shot")
        << 3 << QString("text") << false << false << ProcessingFailure::UnreadableShot << 0 << 0;
    QTest::newRow("shot cut short, video under way")
        << 3 << QString("cut") << false << false << ProcessingFailure::UnreadableShot << 0 << 1;
    // A failed run takes back its frames too.
    QTest::newRow("ffmpeg fails") << 3 << QString() << true << false << ProcessingFailure::VideoFailed
                                  << 0 << 1;
    QTest::newRow("stopped before any frame")
        << 3 << QString() << false << true << ProcessingFailure::FramesStopped << 0 << 0;
}

void PipelineTest::each_ending_reports_its_failure()
{
    QFETCH(int, shots);
    QFETCH(QString, broken);
    QFETCH(bool, ffmpeg_fails);
    QFETCH(bool, stop_at_once);
    QFETCH(ProcessingFailure, failure);
    QFETCH(int, frames_left);
    QFETCH(int, commands);

    QTemporaryDir folder;
    ProcessingRequest request = request_for(folder.path(), shots, 3);
    // Reduced, the video starts on the first frames; without colour matching,
    // the frames step is the first to decode the shots whole.
    if (broken == "cut") {
        request.long_side = 32;
        request.colour_match = false;
    }
    if (broken == "text") {
        QVERIFY(write_file(request.shots[1], "not a photo"));
    } else if (broken == "cut") {
        QFile shot(request.shots[1]);
        QVERIFY(shot.open(QIODevice::ReadWrite));
        QVERIFY(shot.resize(shot.size() - 16));
    }
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
    if (!broken.isEmpty())
        QCOMPARE(outcome.failed_file(), request.shots[1]);
    if (failure != ProcessingFailure::None)
        QCOMPARE(QDir(request.folder).entryList({"output_video*"}, QDir::Files | QDir::Hidden),
                 QStringList());
}

void PipelineTest::written_files_name_each_video_with_its_duration_data()
{
    QTest::addColumn<bool>("boomerang");
    QTest::addColumn<bool>("gif");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("between");
    QTest::addColumn<QStringList>("written"); // what the export reports
    // "name pictures seconds", seconds to 1/100
    QTest::addColumn<QStringList>("videos");
    const QStringList all{"output_video.mp4", "output_video_boomerang.mp4", "output_video.gif",
                          "output_video_boomerang.gif"};
    QTest::newRow("every step")
        << true << true << 5 << 0 << all
        << QStringList{"output_video.mp4 5 0.21", "output_video_boomerang.mp4 10 0.42",
                       "output_video.gif 5 0.21", "output_video_boomerang.gif 10 0.42"};
    QTest::newRow("every step, 3 in-between frames")
        << true << true << 5 << 3 << all
        << QStringList{"output_video.mp4 17 0.71", "output_video_boomerang.mp4 34 1.42",
                       "output_video.gif 17 0.71", "output_video_boomerang.gif 34 1.42"};
    QTest::newRow("video only") << false << false << 12 << 0 << QStringList{all.first()}
                                << QStringList{"output_video.mp4 12 0.50"};
    QTest::newRow("video only, 1 in-between frame")
        << false << false << 12 << 1 << QStringList{all.first()}
        << QStringList{"output_video.mp4 23 0.96"};
    QTest::newRow("one frame has nothing between") << false << false << 1 << 2
                                                   << QStringList{all.first()}
                                                   << QStringList{"output_video.mp4 1 0.04"};
    QTest::newRow("boomerang failed or stopped")
        << true << true << 5 << 0 << QStringList{all.first()}
        << QStringList{"output_video.mp4 5 0.21"};
    QTest::newRow("no video") << true << false << 5 << 2 << QStringList{} << QStringList{};
    QTest::newRow("no frame") << false << false << 0 << 0 << QStringList{} << QStringList{};
}

void PipelineTest::written_files_name_each_video_with_its_duration()
{
    QFETCH(bool, boomerang);
    QFETCH(bool, gif);
    QFETCH(int, frames);
    QFETCH(int, between);
    QFETCH(QStringList, written);
    QFETCH(QStringList, videos);
    ProcessingRequest request;
    request.fps = 24;
    request.between = between;
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
        described << video.file_name + " " + QString::number(video.pictures) + " " +
                         QString::number(video.seconds, 'f', 2);
    QCOMPARE(described, videos);
}

// While one run holds its output folder, a second one into it is refused before
// it touches the first one's staged files. A lock file that no live run holds,
// whatever it says (empty as a power cut leaves it, or naming this very
// process), is taken, and a finished run leaves no lock behind.
void PipelineTest::a_run_into_a_folder_another_run_holds_is_refused()
{
    QTemporaryDir folder;
    const ProcessingRequest request = request_for(folder.path(), 3, 3);
    const QString lock_path = request.folder + "/" + run_lock_file_name;
    const QString staged = request.folder + "/" + staging_folder_name + "/output_img_0.jpg";
    QVERIFY(QDir().mkpath(request.folder + "/" + staging_folder_name));
    QVERIFY(write_file(staged, "the other run's frame"));
    {
        ExclusiveFileLock other(lock_path);
        QCOMPARE(other.try_lock(), ExclusiveFileLock::Outcome::Taken);
        RecordingRunner runner;
        std::ostringstream log;
        const ProcessingOutcome outcome = run_processing(runner, request, log);
        QCOMPARE(outcome.failure(), ProcessingFailure::OutputFolder);
        QVERIFY(outcome.folder_busy);
        QCOMPARE(failure_message(outcome),
                 QString("'%1' : un autre traitement écrit déjà dans ce dossier ; attendez "
                         "qu'il finisse ou choisissez un autre dossier")
                     .arg(request.folder));
        QCOMPARE(runner.calls.size(), 0);
        QFile kept(staged);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("the other run's frame"));
    }
    QVERIFY(!QFileInfo::exists(lock_path));

    const QByteArray this_process = QByteArray::number(QCoreApplication::applicationPid());
    for (const QByteArray& left : {QByteArray(), this_process}) {
        QVERIFY(write_file(lock_path, left));
        RecordingRunner runner;
        std::ostringstream log;
        const ProcessingOutcome outcome = run_processing(runner, request, log);
        QCOMPARE(outcome.failure(), ProcessingFailure::None);
        QVERIFY(!outcome.folder_busy);
        QVERIFY(!QFileInfo::exists(lock_path));
        QCOMPARE(QDir(request.folder).entryList({"output_img_*"}, QDir::Files).size(), 3);
    }
}

// The checks of a run's preparation, in the order they run: each row's shots
// would also fail every later check, so a check that ran out of turn shows.
void PipelineTest::plan_stops_at_the_first_check_that_fails_data()
{
    QTest::addColumn<QStringList>("shots");       // one kind per camera, see write_shot
    QTest::addColumn<bool>("check_photos");
    QTest::addColumn<QStringList>("in_folder");   // in "out" beforehand; "name/" a folder
    QTest::addColumn<PlanCheck>("check");
    QTest::addColumn<QStringList>("named");
    QTest::addColumn<QStringList>("earlier_run");
    QTest::addColumn<QString>("scales");          // the fitted calibration's, when ready

    const QStringList none;
    QTest::newRow("one shot short, another missing")
        << QStringList{"ok", "missing"} << true << none << PlanCheck::ShotCount
        << QStringList{"2 shots for 3 cameras"} << none << "";
    QTest::newRow("one shot too many")
        << QStringList{"ok", "ok", "ok", "ok"} << true << none << PlanCheck::ShotCount
        << QStringList{"4 shots for 3 cameras"} << none << "";
    const QList<QPair<QString, QString>> problems{
        {"missing", "fichier introuvable"},
        {"empty", "fichier vide"},
        {"cut", "photo JPEG incomplète (coupée avant la fin)"},
        {"text", "ce n'est pas une photo JPEG ou PNG lisible"}};
    for (const auto& problem : problems)
        QTest::newRow(qPrintable(problem.first + " photo, before an earlier run's shot"))
            << QStringList{"ok", problem.first, "earlier"} << true << none
            << PlanCheck::UnusablePhotos
            << QStringList{"camera 1 shot_1.jpg: " + problem.second} << none << "";
    QTest::newRow("every bad photo, before other proportions")
        << QStringList{"cut", "square", "missing"} << true << none << PlanCheck::UnusablePhotos
        << QStringList{"camera 0 shot_0.jpg: photo JPEG incomplète (coupée avant la fin)",
                       "camera 2 shot_2.jpg: fichier introuvable"}
        << none << "";
    // The window leaves the verdict on the photos to the run itself.
    QTest::newRow("photos unchecked unless asked")
        << QStringList{"ok", "missing", "empty"} << false << none << PlanCheck::None << none
        << none << "1 1 1";
    QTest::newRow("other proportions, before an earlier run's shot")
        << QStringList{"ok", "square", "earlier"} << true << none << PlanCheck::ShotSize
        << QStringList{"'shot_1.jpg' : la photo mesure 48 × 48 pixels, l'étalon de la caméra 2 "
                       "64 × 48 : les proportions diffèrent, le calibrage ne s'y applique pas"}
        << none << "";
    QTest::newRow("same proportions, half the size")
        << QStringList{"ok", "half", "ok"} << true << none << PlanCheck::None << none << none
        << "1 2 1";
    QTest::newRow("a shot among the earlier run's files")
        << QStringList{"ok", "earlier", "ok"} << true << QStringList{"output_video.mp4"}
        << PlanCheck::ShotAmongEarlierRun << QStringList{"shot out/../out/output_img_1.jpg"}
        << QStringList{"output_img_1.jpg", "output_video.mp4"} << "";
    QTest::newRow("the earlier run's files exactly")
        << QStringList{"ok", "ok", "ok"} << true
        << QStringList{"output_img_0.jpg", "output_img_07.jpg", "output_img_2.JPG", "notes.txt",
                       "output_video.mp4", "output_video.mp4.backup", "output_img_1.jpg/"}
        << PlanCheck::None << none << QStringList{"output_img_0.jpg", "output_video.mp4"}
        << "1 1 1";
    QTest::newRow("folder not made yet")
        << QStringList{"ok", "ok", "ok"} << true << QStringList{"-"} << PlanCheck::None << none
        << none << "1 1 1";
}

void PipelineTest::plan_stops_at_the_first_check_that_fails()
{
    QFETCH(QStringList, shots);
    QFETCH(bool, check_photos);
    QFETCH(QStringList, in_folder);
    QFETCH(PlanCheck, check);
    QFETCH(QStringList, named);
    QFETCH(QStringList, earlier_run);
    QFETCH(QString, scales);

    QTemporaryDir root;
    const QString folder = root.path() + "/out";
    const bool made = in_folder != QStringList{"-"};
    if (made)
        QVERIFY(QDir().mkpath(folder));
    for (const QString& name : in_folder)
        if (made)
            QVERIFY(name.endsWith('/') ? QDir(folder).mkdir(name) : write_file(folder + "/" + name));
    QStringList paths;
    for (int k = 0; k < shots.size(); ++k)
        paths << write_shot(root.path(), k, shots[k]);
    const QStringList before = made ? folder_entries(folder) : QStringList();
    ProcessingRequest options;
    options.fps = 12;
    options.gif = true;

    std::ostringstream log;
    const ProcessingPlan plan =
        plan_processing(rig_of(3), paths, folder, options, check_photos, log);
    QCOMPARE(plan.problem.check, check);
    QCOMPARE(plan.ready(), check == PlanCheck::None);
    QCOMPARE(::named(plan.problem, root.path()), named);
    QCOMPARE(plan.earlier_run, earlier_run);
    // The plan only looks: nothing in the folder changes, a missing one stays missing.
    QCOMPARE(made ? folder_entries(folder) : QStringList(), before);
    QCOMPARE(QFileInfo::exists(folder), made);

    QCOMPARE(plan.request.shots, paths);
    QCOMPARE(plan.request.folder, folder);
    QCOMPARE(plan.request.fps, 12);
    QVERIFY(plan.request.gif);
    if (!plan.ready())
        return;
    QStringList fitted;
    for (const double scale : plan.request.calibration.scale)
        fitted << QString::number(scale);
    QCOMPARE(fitted.join(' '), scales);
    QCOMPARE(QString::fromStdString(log.str()),
             scales == "1 2 1"
                 ? QString("Camera 2: shot 32x24, reference 64x48, alignment scaled by 0.5\n")
                 : QString());
}

// The command line's video options at their bounds: compression P% gives the
// frames a JPEG quality of 100 - P, and a value outside is refused, never clamped.
void PipelineTest::video_options_are_refused_outside_their_bounds_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("fps");
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("long_side");

    const QString fps = "--fps attend un nombre entier d'images par seconde entre 1 et 60";
    const QString compression = "--compression attend un pourcentage entier entre 0 et 100";
    const QString size = "--video-size attend original, 3840, 1920 ou 1280";
    QTest::newRow("defaults") << QStringList{} << "" << 24 << 50 << 0;
    QTest::newRow("slowest, most compressed")
        << QStringList{"--fps", "1", "--compression", "100%"} << "" << 1 << 0 << 0;
    QTest::newRow("fastest, uncompressed")
        << QStringList{"--fps", "60", "--compression", "0"} << "" << 60 << 100 << 0;
    QTest::newRow("compression 30") << QStringList{"--compression=30"} << "" << 24 << 70 << 0;
    QTest::newRow("frame rate 0") << QStringList{"--fps", "0"} << fps << -1 << -1 << -1;
    QTest::newRow("frame rate 61") << QStringList{"--fps", "61"} << fps << -1 << -1 << -1;
    QTest::newRow("frame rate 24.5") << QStringList{"--fps", "24.5"} << fps << -1 << -1 << -1;
    QTest::newRow("compression -1") << QStringList{"--compression=-1"} << compression << -1 << -1
                                    << -1;
    QTest::newRow("compression 101%") << QStringList{"--compression", "101%"} << compression << -1
                                      << -1 << -1;
    QTest::newRow("4K") << QStringList{"--video-size", "3840"} << "" << 24 << 50 << 3840;
    QTest::newRow("720p") << QStringList{"--video-size", "1280"} << "" << 24 << 50 << 1280;
    QTest::newRow("original by name") << QStringList{"--video-size", "original"} << "" << 24
                                      << 50 << 0;
    QTest::newRow("original as 0") << QStringList{"--video-size", "0"} << size << -1 << -1 << -1;
    QTest::newRow("size not offered") << QStringList{"--video-size", "2560"} << size << -1 << -1
                                      << -1;
    QTest::newRow("size spelt otherwise") << QStringList{"--video-size", "01920"} << size << -1
                                          << -1 << -1;
}

void PipelineTest::video_options_are_refused_outside_their_bounds()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QFETCH(int, fps);
    QFETCH(int, quality);
    QFETCH(int, long_side);

    QCommandLineParser parser;
    add_video_options(parser);
    QVERIFY(parser.parse(QStringList{"quorvane"} + arguments));
    ProcessingRequest request;
    request.fps = request.quality = request.long_side = -1;
    QCOMPARE(read_video_options(parser, request), error);
    QCOMPARE(request.fps, fps);
    QCOMPARE(request.quality, quality);
    QCOMPARE(request.long_side, long_side);
    // The window and the booth start from the same defaults.
    QCOMPARE(ProcessingRequest().quality, 50);
    QCOMPARE(ProcessingRequest().fps, 24);
    QCOMPARE(ProcessingRequest().long_side, original_video_size);
}

void PipelineTest::ffmpeg_check_says_why_ffmpeg_cannot_run_data()
{
    QTest::addColumn<QByteArray>("script"); // empty: no ffmpeg on PATH
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("line");

    QTest::newRow("runs") << QByteArray("[ \"$*\" = -version ] || exit 9") << "" << "";
    QTest::newRow("missing") << QByteArray() << "not found on PATH"
                             << "ffmpeg could not be started: not found on PATH";
    QTest::newRow("exits with 3") << QByteArray("exit 3") << "exit code 3"
                                  << "ffmpeg ended with exit code 3";
    QTest::newRow("crashes") << QByteArray("kill -SEGV $$") << "crashed" << "ffmpeg crashed";
}

void PipelineTest::ffmpeg_check_says_why_ffmpeg_cannot_run()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, reason);
    QFETCH(QString, line);

    const FfmpegProblem problem = [&] {
        FakeFfmpeg ffmpeg(script);
        ChildProcessRunner runner;
        return ffmpeg_problem(runner);
    }();
    QCOMPARE(problem.none(), reason.isEmpty());
    QCOMPARE(problem.reason(), reason);
    QCOMPARE(problem.line(), line);
}

void PipelineTest::plan_problem_wording_data()
{
    QTest::addColumn<int>("shots");
    QTest::addColumn<int>("cameras");
    QTest::addColumn<QString>("text");
    QTest::newRow("one shot") << 1 << 2 << "1 photo pour 2 caméras";
    QTest::newRow("one camera") << 3 << 1 << "3 photos pour 1 caméra";
    QTest::newRow("no shot") << 0 << 4 << "0 photo pour 4 caméras";
}

// The one wording the window, the command line and the booth frame.
void PipelineTest::plan_problem_wording()
{
    QFETCH(int, shots);
    QFETCH(int, cameras);
    QFETCH(QString, text);
    PlanProblem problem;
    problem.check = PlanCheck::ShotCount;
    problem.shot_count = shots;
    problem.camera_count = cameras;
    QCOMPARE(plan_problem_text(problem), text);
    QVERIFY(plan_problem_text(PlanProblem()).isEmpty());
}

QTEST_GUILESS_MAIN(PipelineTest)
#include "pipeline_test.moc"
