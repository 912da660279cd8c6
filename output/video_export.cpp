#include "output/video_export.h"

#include "output/clip_length.h"
#include "output/ffmpeg_command.h"
#include "output/in_between_pictures.h"
#include "output/run_files.h"
#include "support/atomic_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>

namespace {

enum class Ending
{
    Succeeded,
    Failed,
    Stopped,
};

const QString in_betweens_need_kept =
    QStringLiteral("the in-between frames need the video's pictures kept in memory");
const QString frames_not_written = QStringLiteral("the frames were not all written");

// No step has failed.
constexpr std::size_t no_step = std::size_t(-1);

bool stop_requested(const BatchProgress* progress)
{
    return progress && progress->stop_requested();
}

// Reads a frame count from one line of ffmpeg's error output, or -1.
using FrameCounter = std::function<int(const QString&)>;

// ffmpeg reports a file it could not finish (a full disk cutting the end of an
// MP4 short) with one of these lines, and still exits with 0.
bool is_output_error(const QString& line)
{
    return line.startsWith(QLatin1String("Error writing trailer of ")) ||
           line.startsWith(QLatin1String("Error closing file "));
}

// The system's reasons (strerror's texts) a line of ffmpeg may end with.
const QStringList& system_reasons()
{
    static const QStringList reasons = [] {
        QStringList texts;
        for (int error = 1; error < 134; ++error) {
            const QString text = QString::fromLocal8Bit(std::strerror(error));
            if (!text.startsWith(QLatin1String("Unknown error")))
                texts << text;
        }
        return texts;
    }();
    return reasons;
}

// A line that says why ffmpeg failed, unlike its closing "Conversion failed!".
bool carries_reason(const QString& line)
{
    if (line.contains(QLatin1String("Error")) || line.contains(QLatin1String("Invalid")))
        return true;
    return std::any_of(system_reasons().begin(), system_reasons().end(),
                       [&](const QString& reason) { return line.contains(reason); });
}

bool is_full_disk(const QString& line)
{
    return line.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))) ||
           line.contains(QString::fromLocal8Bit(std::strerror(EDQUOT)));
}

// The state of one export: where it writes, what it has counted, how it failed.
class Export
{
public:
    // `log_lock` guards `log`, and `in_betweens` and `first_unfinished` (the
    // index of the first step that did not succeed on either side) are shared
    // with the export running beside this one: a step after that one stops as
    // on a stop request.
    Export(ProcessRunner& runner, const VideoRequest& request, std::ostream& log,
           std::mutex& log_lock, BatchProgress* progress, InBetweenPictures& in_betweens,
           const std::atomic<std::size_t>& first_unfinished)
        : runner(runner), request(request), log(log), log_lock(log_lock), progress(progress),
          folder(QFileInfo(request.folder).absoluteFilePath()), first_unfinished(first_unfinished),
          in_betweens(in_betweens)
    {
        // The plan checked the file; its size places it on each picture.
        if (request.overlay.wanted())
            overlay_size = QImageReader(request.overlay.file).size();
    }

    // Runs `step`, step `index` of the export.
    Ending run(const PlannedVideoStep& step, std::size_t index)
    {
        step_index = index;
        step_frames = step.frames;
        step_counted = 0;
        began = false;
        frames_short = false;
        if (step.step == VideoStep::InBetween)
            return make_in_betweens();
        const EncodeSettings video = settings(video_size(shown(), request.long_side));
        const EncodeSettings gif = settings(gif_size(shown(), request.long_side));
        const int hold = hold_frames(request.length, request.fps);
        const PictureOrder forward = forward_order(request.frame_count, request.between, hold);
        // ffmpeg writes under a hidden name beside the file, renamed once it is
        // finished: a kill or a full disk never leaves a video cut short under
        // the name a player or the next step would take.
        const QString finished = folder + "/" + step.file_name;
        const QString output = partial_path(finished);
        Ending ending = Ending::Failed;
        // Pictures still arriving are checked as they come.
        const KeptFrames* video_frames = step.step == VideoStep::Video && frames_arriving
                                             ? kept_video()
                                             : kept(kept_video(), video.output_size);
        const KeptFrames* gif_frames = kept(kept_gif(), gif.output_size);
        switch (step.step) {
        case VideoStep::InBetween: // made above
            break;
        case VideoStep::Video: {
            // Played more than once, the pass is encoded once in the work folder
            // and its stream joined to itself.
            const bool repeated = play().video_repeats > 1;
            const int frames = int(forward.size());
            if (repeated && !work_folder())
                break;
            const QString encoded = repeated ? work_file("forward.mp4") : output;
            if (video_frames) {
                ending =
                    run_logged(raw_mp4_command(video, frames, encoded), encoded_frames, {},
                               frames_arriving ? fed_on_arrival(*video_frames, forward)
                                               : fed(*video_frames, in_betweens.video, forward));
            } else if (!from_files() || !frames_in_order("forward_", forward)) {
                ending = Ending::Failed;
            } else if (keeps_scaled_copies(video)) {
                ending = work_folder()
                             ? run_logged(mp4_command(video, forward_pattern(hold), frames, encoded,
                                                      work_pattern("scaled_", "yuv")),
                                          encoded_frames, work->path())
                             : Ending::Failed;
            } else {
                ending = run_logged(mp4_command(video, forward_pattern(hold), frames, encoded),
                                    encoded_frames);
            }
            if (ending == Ending::Succeeded && repeated)
                ending =
                    joined({"forward.mp4"}, {frames}, play().video_repeats, "video.txt", output);
            break;
        }
        case VideoStep::Gif:
        case VideoStep::GifBoomerang: {
            const PictureOrder order = gif_order(request.frame_count, request.between, hold,
                                                 step.step == VideoStep::GifBoomerang);
            const QString prefix = step.step == VideoStep::Gif ? QStringLiteral("gif_")
                                                               : QStringLiteral("there_and_back_");
            if (gif_frames && step.step == VideoStep::GifBoomerang && boomerang_gif_made) {
                // Made with the forward GIF, and counted there: only renamed here.
                boomerang_gif_partial.clear();
                boomerang_gif_made = false;
                step_counted = step_frames;
                if (stopping()) {
                    QFile::remove(output);
                    ending = Ending::Stopped;
                } else {
                    ending = Ending::Succeeded;
                }
                break;
            }
            if (gif_frames && step.step == VideoStep::Gif && request.boomerang) {
                ending = both_gifs(gif, int(order.size()), output);
                break;
            }
            if (gif_frames) {
                ending = run_logged(raw_gif_command(gif, int(order.size()), output),
                                    filtered_frames, {}, fed(*gif_frames, in_betweens.gif, order));
                break;
            }
            const bool in_order = int(order.size()) == request.frame_count;
            ending = from_files() && (in_order || linked_frames(prefix, order))
                         ? run_logged(gif_command(gif,
                                                  in_order ? frame_pattern(folder)
                                                           : work_pattern(prefix, "jpg"),
                                                  int(order.size()), output),
                                      filtered_frames)
                         : Ending::Failed;
            break;
        }
        case VideoStep::Boomerang:
            ending = boomerang(video, output, video_frames, forward);
            break;
        case VideoStep::Still:
            ending = still(output);
            break;
        }
        if (ending == Ending::Succeeded) {
            const QString reason = finish_partial_file(output, finished);
            if (!reason.isEmpty()) {
                error_line = "cannot rename " + output + " to " + finished + ": " + reason;
                ending = Ending::Failed;
            }
        }
        if (ending == Ending::Failed || (ending == Ending::Stopped && began)) {
            // Cut short, or left by an earlier run and no longer matching the frames.
            QFile::remove(output);
            QFile::remove(finished);
            if (!boomerang_gif_partial.isEmpty()) {
                QFile::remove(boomerang_gif_partial);
                boomerang_gif_partial.clear();
                boomerang_gif_made = false;
            }
        } else if (ending == Ending::Succeeded) {
            for (; progress && step_counted < step_frames; ++step_counted)
                progress->image_done();
        }
        return ending;
    }

    // Whether the GIF steps are fed whole from the kept pictures (and the
    // in-between frames, once made): they then read no frame file and need no
    // work folder.
    bool gifs_from_memory() const
    {
        return kept(kept_gif(), settings(gif_size(shown(), request.long_side)).output_size);
    }

    // Whether the GIFs' pictures are being kept at their size while the frames
    // are written, so that their steps can be fed from memory once the frames
    // are all there.
    bool gifs_kept_ahead() const
    {
        return kept_ahead(kept_gif(), settings(gif_size(shown(), request.long_side)).output_size);
    }

    // Whether the video step, fed from memory, can start before the frames'
    // end: its pictures are kept at its size, with no in-between frames.
    bool video_overlaps_frames() const
    {
        return kept_ahead(kept_video(),
                          settings(video_size(shown(), request.long_side)).output_size);
    }

    ~Export()
    {
        // A boomerang GIF made ahead whose step never came to finish it.
        if (!boomerang_gif_partial.isEmpty())
            QFile::remove(boomerang_gif_partial);
    }

    QString error_line;
    // The folder that ran out of room, when that is why the step failed.
    QString full_folder;
    // Set while the video step may start before the frames are all written.
    bool frames_arriving = false;

private:
    bool stopping() const
    {
        return stop_requested(progress) || first_unfinished.load() < step_index;
    }

    // Both GIFs of the boomerang in one command: the forward one into `output`
    // and the other under its own partial name, which its step then finishes.
    // Progress counts both steps' frames as the pictures go by.
    Ending both_gifs(const EncodeSettings& gif, int forward_frames, const QString& output)
    {
        const int hold = hold_frames(request.length, request.fps);
        const PictureOrder order = gif_order(request.frame_count, request.between, hold, true);
        const int there_and_back = int(order.size());
        const QString other = partial_path(folder + "/" + boomerang_gif_file_name);
        step_frames = forward_frames + there_and_back;
        const int counted = step_frames;
        const FrameCounter counter = [counted, there_and_back](const QString& line) {
            const int passed = filtered_frames(line);
            return passed < 0 ? -1 : int(std::int64_t(passed) * counted / there_and_back);
        };
        boomerang_gif_partial = other;
        const Ending ending =
            run_logged(raw_gifs_command(gif, forward_frames, there_and_back, output, other),
                       counter, {}, fed(*kept_gif(), in_betweens.gif, order));
        boomerang_gif_made = ending == Ending::Succeeded;
        return ending;
    }

    // The pictures of `order` as the frames step keeps them, each once it has
    // arrived: a frame that never comes ends the input short (see frames_short).
    InputSource fed_on_arrival(const KeptFrames& frames, PictureOrder order)
    {
        const std::size_t bytes = raw_frame_bytes(frames.size, frames.layout);
        return [this, &frames, order = std::move(order), bytes, next = std::size_t(0)]() mutable {
            if (next >= order.size())
                return InputPiece{};
            const int frame = order[next].frame;
            switch (request.arriving->wait_for(frame, 20)) {
            case FrameArrival::Wait::Later:
                return InputPiece{nullptr, 0, true};
            case FrameArrival::Wait::Never:
                frames_short = true;
                return InputPiece{};
            case FrameArrival::Wait::Ready:
                break;
            }
            const cv::Mat& picture = frames.pictures[std::size_t(frame)];
            if (!picture.isContinuous() || picture.total() * picture.elemSize() != bytes) {
                frames_short = true;
                return InputPiece{};
            }
            ++next;
            return InputPiece{reinterpret_cast<const char*>(picture.data), bytes};
        };
    }

    // A scaled video keeps its scaled frames for the boomerang that follows:
    // decoding and scaling the full-size frames costs more than the encode. At
    // the frames' own size a copy would only add a write, and a cut alone makes
    // no copies (mp4_command keeps them only with a scaling).
    bool keeps_scaled_copies(const EncodeSettings& video) const
    {
        return request.boomerang && video.output_size != shown() &&
               !kept(kept_video(), video.output_size);
    }

    const KeptFrames* kept_video() const { return request.kept ? &request.kept->video : nullptr; }
    const KeptFrames* kept_gif() const
    {
        return request.kept ? &request.kept->gif_frames : nullptr;
    }

    // `frames` when it holds every picture of this export whole at `size`, or
    // null: a step with a picture missing reads the frame files instead of
    // encoding a video shorter than its frames.
    // Whether `frames` are being kept at `size`, one picture per frame and no
    // in-between frames, while the frames are written (not yet all there).
    bool kept_ahead(const KeptFrames* frames, QSize size) const
    {
        return frames && frames->kept() && request.between <= 0 && frames->size == size &&
               frames->pictures.size() >= std::size_t(request.frame_count);
    }

    const KeptFrames* kept(const KeptFrames* frames, QSize size) const
    {
        if (!frames || !frames->kept() || frames->size != size ||
            frames->pictures.size() < std::size_t(request.frame_count))
            return nullptr;
        const std::size_t bytes = raw_frame_bytes(frames->size, frames->layout);
        for (int k = 0; k < request.frame_count; ++k) {
            const cv::Mat& picture = frames->pictures[k];
            if (!picture.isContinuous() || picture.total() * picture.elemSize() != bytes)
                return nullptr;
        }
        return frames;
    }

    // The part of the frames the pictures show.
    QSize shown() const
    {
        return request.clip.isEmpty() ? request.frame_size : request.clip.size();
    }

    ClipPlay play() const
    {
        return clip_play(played_picture_count(request.frame_count, request.between), request.fps,
                         request.length);
    }

    // The encode settings of pictures of `output_size`, the overlay placed on them.
    EncodeSettings settings(QSize output_size) const
    {
        EncodeSettings settings{request.fps, request.frame_size, output_size};
        settings.clip = request.clip;
        if (request.overlay.wanted() && !overlay_size.isEmpty()) {
            settings.overlay_file = QFileInfo(request.overlay.file).absoluteFilePath();
            settings.overlay_rect = overlay_rect(request.overlay, overlay_size, output_size);
        }
        return settings;
    }

    // The frame files in `order`: the files themselves when it is every frame
    // once, else links in the work folder.
    bool frames_in_order(const QString& prefix, const PictureOrder& order)
    {
        return int(order.size()) == request.frame_count || linked_frames(prefix, order);
    }

    QString forward_pattern(int hold) const
    {
        return hold > 0 ? work_pattern("forward_", "jpg") : frame_pattern(folder);
    }

    // `files` (in the work folder, of `frames` frames each) played `repeats`
    // times over, stream copied into `output`, listed in the work folder's `list_name`.
    Ending joined(const QStringList& files, const std::vector<int>& frames, int repeats,
                  const QString& list_name, const QString& output)
    {
        QStringList names;
        std::vector<int> counts;
        for (int k = 0; k < repeats; ++k) {
            names += files;
            counts.insert(counts.end(), frames.begin(), frames.end());
        }
        const QString list = work_file(list_name);
        QFile file(list);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            !file.write(concat_list(names, counts, request.fps)) || !file.flush()) {
            error_line = "cannot write " + list + ": " + file.errorString();
            return Ending::Failed;
        }
        file.close();
        return run_logged(join_command(list, output), nullptr);
    }

    // The middle camera's frame, cut and overlaid as the videos are, at full size.
    Ending still(const QString& output)
    {
        const int frame = request.still_frame >= 0 && request.still_frame < request.frame_count
                              ? request.still_frame
                              : request.frame_count / 2;
        return run_logged(still_command(settings(shown()), frame_path(frame), output), nullptr);
    }

    // The pictures of `order`, one after the other, as standard input: the
    // frames from `frames`, the in-between frames from `made` (of the same size
    // and layout).
    InputSource fed(const KeptFrames& frames, const KeptFrames& made, PictureOrder order) const
    {
        const std::size_t bytes = raw_frame_bytes(frames.size, frames.layout);
        return [&frames, &made, between = request.between, order = std::move(order), bytes,
                next = std::size_t(0)]() mutable {
            if (next >= order.size())
                return InputPiece{};
            const cv::Mat& picture = played_picture(frames, made, between, order[next++]);
            return InputPiece{reinterpret_cast<const char*>(picture.data), bytes};
        };
    }

    // Makes the in-between frames the videos share, counting each one.
    Ending make_in_betweens()
    {
        if (stopping())
            return Ending::Stopped;
        const VideoFrames none;
        switch (make_in_between_pictures(request.kept ? *request.kept : none, request.frame_count,
                                         request.between, in_betweens, progress)) {
        case InBetweenEnding::Made:
            return Ending::Succeeded;
        case InBetweenEnding::Stopped:
            return Ending::Stopped;
        case InBetweenEnding::NoFrames:
            break;
        case InBetweenEnding::Failed:
            error_line = QStringLiteral("the in-between frames could not be made: %1")
                             .arg(QString::fromStdString(in_betweens.failure));
            return Ending::Failed;
        }
        error_line = in_betweens_need_kept;
        return Ending::Failed;
    }

    // The frame files hold no in-between frames: a step reading them plays the
    // cameras' frames only.
    bool from_files()
    {
        if (request.between <= 0 || request.frame_count < 2)
            return true;
        error_line = in_betweens_need_kept;
        return false;
    }

    // The frames backwards, then the forward pass's stream followed by theirs,
    // as many times as the length asks, copied.
    Ending boomerang(const EncodeSettings& video, const QString& output,
                     const KeptFrames* video_frames, const PictureOrder& forward)
    {
        const int count = played_picture_count(request.frame_count, request.between);
        const PictureOrder backward = backward_pictures(request.frame_count, request.between);
        const bool scaled = !video_frames && keeps_scaled_copies(video);
        if (!video_frames && (!from_files() || !(scaled ? linked_scaled_copies_backwards()
                                                        : linked_frames("backward_", backward))))
            return Ending::Failed;
        // The video is the forward pass itself unless it plays it more than once.
        if (play().video_repeats == 1 && !make_link(folder + "/" + video_file_name, "forward.mp4"))
            return Ending::Failed;
        const QString backward_file = work_file("backward.mp4");
        const Ending ending =
            video_frames
                ? run_logged(raw_mp4_command(video, count, backward_file), encoded_frames, {},
                             fed(*video_frames, in_betweens.video, backward))
                : run_logged(scaled ? scaled_copies_mp4_command(video,
                                                                work_pattern("backward_", "yuv"),
                                                                count, backward_file)
                                    : mp4_command(video, work_pattern("backward_", "jpg"), count,
                                                  backward_file),
                             encoded_frames);
        if (ending != Ending::Succeeded)
            return ending;
        return joined({"forward.mp4", "backward.mp4"}, {int(forward.size()), count},
                      play().boomerang_repeats, "boomerang.txt", output);
    }

    // Links "<prefix>0.jpg", ... in the work folder to the frames of `order`
    // (cameras' frames only, see from_files), so that ffmpeg reads them from
    // disk in that order.
    bool linked_frames(const QString& prefix, const PictureOrder& order)
    {
        for (std::size_t link = 0; link < order.size(); ++link) {
            if (!make_link(frame_path(order[link].frame), prefix + QString::number(link) + ".jpg"))
                return false;
        }
        return true;
    }

    // Links "backward_0.yuv", ... to the scaled copies the video kept, last first.
    bool linked_scaled_copies_backwards()
    {
        const int count = request.frame_count;
        // The copies follow the forward pass: the hold's copies come first.
        const int hold = hold_frames(request.length, request.fps);
        for (int link = 0; link < count; ++link) {
            const QString copy =
                work_file("scaled_" + QString::number(hold + count - 1 - link) + ".yuv");
            if (!make_link(copy, "backward_" + QString::number(link) + ".yuv"))
                return false;
        }
        return true;
    }

    QString frame_path(int frame) const { return folder + "/" + frame_file_name(frame); }

    bool work_folder()
    {
        if (!work) {
            work = std::make_unique<QTemporaryDir>();
            if (!work->isValid()) {
                error_line = "cannot create a temporary folder: " + work->errorString();
                return false;
            }
        }
        return true;
    }

    bool make_link(const QString& target, const QString& name)
    {
        if (!work_folder())
            return false;
        if (QFile::link(target, work_file(name)))
            return true;
        error_line = "cannot link " + work_file(name) + " to " + target;
        return false;
    }

    QString work_file(const QString& name) const { return work->filePath(name); }

    QString work_pattern(const QString& prefix, const QString& extension) const
    {
        return QString(work->path()).replace('%', "%%") + "/" + prefix + "%d." + extension;
    }

    // Runs one command after logging it, counting the frames it reports (when
    // `counter` is given) into `progress`, up to the step's frames. Besides its
    // output file, the command may write into `also_writes`. With `input`, the
    // command reads it on its standard input.
    Ending run_logged(const FfmpegCommand& command, FrameCounter counter,
                      const QString& also_writes = {}, const InputSource& input = {})
    {
        if (stopping())
            return Ending::Stopped;
        {
            const std::lock_guard<std::mutex> lock(log_lock);
            log << "Running: " << command.display_line().toStdString() << std::endl;
        }
        began = true;

        QString output_error;
        QString reason;
        const auto on_line = [&](const QString& line) {
            const int reported = counter ? std::min(counter(line), step_frames) : -1;
            for (; progress && step_counted < reported; ++step_counted)
                progress->image_done();
            if (output_error.isEmpty() && is_output_error(line))
                output_error = line;
            if (reason.isEmpty() && reported < 0 && carries_reason(line))
                reason = line;
        };
        // Frames that will never come end the encode, which would otherwise
        // finish a video short of them.
        const auto stop = [this] { return stopping() || frames_short; };
        const ProcessResult result =
            input ? runner.run_fed(command.program, command.arguments, input, on_line, stop)
                  : runner.run(command.program, command.arguments, on_line, stop);
        if (frames_short && !stopping()) {
            error_line = frames_not_written;
            return Ending::Failed;
        }
        if (result.stopped || frames_short)
            return Ending::Stopped;
        if (result.succeeded() && output_error.isEmpty())
            return Ending::Succeeded;
        if (!reason.isEmpty() && is_full_disk(reason))
            full_folder = folder_without_room(command, also_writes, reason);
        if (result.succeeded()) {
            error_line = output_error;
            return Ending::Failed;
        }

        // The last line is mostly "Conversion failed!": the first reason comes first.
        QString last_line = result.error_tail.section('\n', -1);
        if (!reason.isEmpty() && reason != last_line)
            last_line = last_line.isEmpty() ? reason : reason + " ; " + last_line;
        if (!result.started)
            error_line = command.program + " could not be started: " + result.start_error;
        else if (result.crashed)
            error_line =
                command.program + " crashed" + (last_line.isEmpty() ? QString() : ": " + last_line);
        else if (!last_line.isEmpty())
            error_line = last_line;
        else
            error_line =
                command.program + " ended with exit code " + QString::number(result.exit_code);
        return Ending::Failed;
    }

    // Which of the folders `command` writes into ran out of room: the one
    // ffmpeg's `line` names, or else the one with the least room left. The work
    // folder is named by the temporary folder it lives in, which outlasts it.
    QString folder_without_room(const FfmpegCommand& command, const QString& also_writes,
                                const QString& line) const
    {
        QStringList written{QFileInfo(command.output_file).absolutePath()};
        if (!also_writes.isEmpty())
            written << also_writes;
        const auto named = [&](const QString& path) {
            return work && path == work->path() ? QFileInfo(path).path() : path;
        };
        for (const QString& path : written)
            if (line.contains(path))
                return named(path);
        QString fullest = written.front();
        for (const QString& path : written)
            if (QStorageInfo(path).bytesAvailable() < QStorageInfo(fullest).bytesAvailable())
                fullest = path;
        return named(fullest);
    }

    ProcessRunner& runner;
    const VideoRequest& request;
    std::ostream& log;
    std::mutex& log_lock;
    BatchProgress* progress;
    const QString folder;
    const std::atomic<std::size_t>& first_unfinished;
    std::size_t step_index = 0;
    QSize overlay_size;
    // Links, lists and scaled copies of the boomerangs, made when first needed and
    // removed with the export, however it ends.
    std::unique_ptr<QTemporaryDir> work;
    int step_frames = 0;
    int step_counted = 0;
    // Whether the step got as far as starting a command.
    bool began = false;
    // Set when the frames step ended before a picture the video needed arrived.
    bool frames_short = false;
    // The boomerang GIF's partial file, made ahead with the forward GIF, until
    // its own step renames it.
    QString boomerang_gif_partial;
    bool boomerang_gif_made = false;
    // Made by the first step when asked for, fed to every video and GIF.
    InBetweenPictures& in_betweens;
};

} // namespace

std::vector<PlannedVideoStep> video_steps(const VideoRequest& request)
{
    const int frames = std::max(request.frame_count, 0);
    const int count = played_picture_count(frames, request.between);
    const ClipPlay play = clip_play(count, request.fps, request.length);
    const int forward = play.forward_frames;
    std::vector<PlannedVideoStep> steps;
    if (request.between > 0 && frames >= 2)
        steps.push_back({VideoStep::InBetween, QString(), count - frames, 0});
    steps.push_back({VideoStep::Video, video_file_name, forward, play.video_frames()});
    if (request.boomerang)
        steps.push_back(
            {VideoStep::Boomerang, boomerang_file_name, count, play.boomerang_frames()});
    if (request.gif)
        steps.push_back({VideoStep::Gif, gif_file_name, forward, forward});
    if (request.gif && request.boomerang)
        steps.push_back(
            {VideoStep::GifBoomerang, boomerang_gif_file_name, forward + count, forward + count});
    if (request.still)
        steps.push_back({VideoStep::Still, still_file_name, 1, 0});
    return steps;
}

VideoExport export_videos(ProcessRunner& runner, const VideoRequest& request, std::ostream& log,
                          BatchProgress* progress)
{
    VideoExport result;
    if (request.frame_count <= 0 || request.frame_size.isEmpty() || request.fps <= 0) {
        result.error_line = QStringLiteral("no frames to encode");
        return result;
    }
    const std::vector<PlannedVideoStep> steps = video_steps(request);
    // How each step ended (a step never run counts as stopped), and why it failed.
    struct StepEnd
    {
        Ending ending = Ending::Stopped;
        QString error_line;
        QString full_folder;
    };
    std::vector<StepEnd> ends(steps.size());
    std::mutex log_lock;
    InBetweenPictures in_betweens;
    // The first step that did not succeed, on either side: the steps after it
    // stop, those before it go on (see Export::stopping).
    std::atomic<std::size_t> first_unfinished{no_step};
    Export run(runner, request, log, log_lock, progress, in_betweens, first_unfinished);
    Export beside(runner, request, log, log_lock, progress, in_betweens, first_unfinished);
    // Runs the steps of `lane` on `exporter` until one does not succeed.
    const auto run_lane = [&](Export& exporter, const std::vector<std::size_t>& lane) {
        for (const std::size_t k : lane) {
            // An earlier step, on the other lane, did not succeed: this one
            // would only be stopped once started.
            if (first_unfinished.load() < k)
                return false;
            ends[k].ending = exporter.run(steps[k], k);
            if (ends[k].ending != Ending::Succeeded) {
                ends[k].error_line = exporter.error_line;
                ends[k].full_folder = exporter.full_folder;
                std::size_t earlier = first_unfinished.load();
                while (k < earlier && !first_unfinished.compare_exchange_weak(earlier, k)) {
                }
                return false;
            }
        }
        return true;
    };

    const auto is_gif = [&](std::size_t k) {
        return steps[k].step == VideoStep::Gif || steps[k].step == VideoStep::GifBoomerang;
    };
    // The GIFs, fed from memory, are filtered on one core while the videos'
    // encoder takes the others: on a runner that runs two commands at once they
    // go on beside the videos. More lanes would only share the same cores.
    const bool two_lanes = runner.concurrent_runs() >= 2;
    // The GIF steps of a lane started ahead, and of one started after the frames.
    std::vector<std::size_t> gifs;
    std::vector<std::size_t> later_gifs;
    std::thread gif_lane;
    // Joined however this ends: a thread left joinable would end the program.
    struct Joined
    {
        std::thread& lane;
        ~Joined()
        {
            if (lane.joinable())
                lane.join();
        }
    } const joined{gif_lane};
    std::size_t first = 0;
    if (request.arriving) {
        // The video's encode goes on while the frames are written; every other
        // step reads them finished.
        bool ran = true;
        if (steps.front().step == VideoStep::Video && run.video_overlaps_frames()) {
            // The GIFs' single-threaded filter is the longest chain after the
            // frames: it starts as soon as they are all there, beside the
            // forward video's encode rather than after it.
            for (std::size_t k = 1; two_lanes && run.gifs_kept_ahead() && k < steps.size(); ++k) {
                if (is_gif(k))
                    gifs.push_back(k);
            }
            if (!gifs.empty()) {
                gif_lane = std::thread([&] {
                    if (request.arriving->wait_end() && beside.gifs_from_memory())
                        run_lane(beside, gifs);
                });
            }
            run.frames_arriving = true;
            ran = run_lane(run, {first++});
            run.frames_arriving = false;
        }
        const bool whole = request.arriving->wait_end();
        if (ran && !whole) {
            // A video of frames that are not all there is no video of the take.
            if (first > 0)
                QFile::remove(QFileInfo(request.folder).absoluteFilePath() + "/" +
                              steps[0].file_name);
            ends[0].ending = Ending::Failed;
            ends[0].error_line = frames_not_written;
        }
        if (!ran || !whole)
            first = steps.size();
    }
    if (first < steps.size() && steps[first].step == VideoStep::InBetween &&
        !run_lane(run, {first++}))
        first = steps.size();
    // Once the frames have ended, both sides tell alike whether the GIFs'
    // pictures are all kept. If so, a lane started ahead runs them; else they
    // go with the videos, in step order, from the frame files.
    const bool side_by_side = two_lanes && run.gifs_from_memory();
    const bool gifs_begun = side_by_side && gif_lane.joinable();
    std::vector<std::size_t> videos;
    for (std::size_t k = first; k < steps.size(); ++k) {
        if (side_by_side && is_gif(k)) {
            if (!gifs_begun)
                later_gifs.push_back(k);
        } else {
            videos.push_back(k);
        }
    }
    if (!later_gifs.empty())
        gif_lane = std::thread([&] { run_lane(beside, later_gifs); });
    run_lane(run, videos);
    if (gif_lane.joinable())
        gif_lane.join();

    // As if the steps had run one after the other: the first that did not
    // succeed ends the export, and what a later one finished beside it goes.
    for (std::size_t k = 0; k < steps.size(); ++k) {
        const PlannedVideoStep& step = steps[k];
        if (ends[k].ending == Ending::Succeeded) {
            if (!step.file_name.isEmpty())
                result.written << step.file_name;
            continue;
        }
        result.stopped = ends[k].ending == Ending::Stopped;
        result.unfinished = step.file_name; // none for the in-between frames
        result.error_line = ends[k].error_line;
        result.full_folder = ends[k].full_folder;
        for (std::size_t later = k + 1; later < steps.size(); ++later) {
            if (ends[later].ending == Ending::Succeeded && !steps[later].file_name.isEmpty())
                QFile::remove(QFileInfo(request.folder).absoluteFilePath() + "/" +
                              steps[later].file_name);
        }
        return result;
    }
    result.succeeded = true;
    return result;
}

VideoProgressStep video_progress_step(const VideoRequest& request, int frames_done)
{
    const std::vector<PlannedVideoStep> steps = video_steps(request);
    int start = 0;
    for (const PlannedVideoStep& step : steps) {
        if (frames_done <= start + step.frames || &step == &steps.back())
            return {step.step, std::clamp(frames_done - start, 0, step.frames), step.frames};
        start += step.frames;
    }
    return {};
}

bool VideoExport::video_written() const
{
    return written.contains(video_file_name);
}
