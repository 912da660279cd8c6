// Frames made between neighbouring cameras against the true views between them.
// Generated parallax rigs (12 cameras over 40 and over 60 degrees) are
// calibrated and their frames written by the real code, reduced to the video's
// size, and each pair of neighbouring frames gets M frames between them; each
// is scored (PSNR) against the view rendered at its position, in the frames'
// crop, beside a 50 % crossfade and ffmpeg's minterpolate run on the same frames.
//   in_between [--size WxH] [--between M] [--video-side PX] [--method NAME|all]
//              [--flow-side PX] [--folder DIR] [--no-minterpolate]
// The rigs are generated once into the folder and reused.

#include "bench/process_usage.h"
#include "calibration/calibration_construction.h"
#include "output/aligned_images.h"
#include "output/frame_geometry.h"
#include "output/in_between_frames.h"
#include "output/video_size.h"
#include "tools/make_rig/ground_truth_file.h"
#include "tools/make_rig/rig_writer.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>
#include <vector>

namespace {

struct Options
{
    QSize size{1600, 1200};
    int between = 1;
    int video_side = 1920;
    int flow_side = InBetweenOptions{}.flow_long_side;
    QString method = "default";
    QString folder;
    std::vector<double> arcs{40.0, 60.0};
    int pair = -1; // only this pair (from 0), for a quick look
    QString dump;  // where the frames of one pair are written for a look
    bool minterpolate = true;
};

const char* const usage =
    "usage: in_between [--size WxH] [--between M] [--video-side PX] [--method NAME|all]\n"
    "                  [--flow-side PX] [--folder DIR] [--dump DIR] [--no-minterpolate]\n"
    "                  [--arc DEG] [--pair K]\n"
    "  --size        shot size of the generated rigs (default 1600x1200)\n"
    "  --between     frames made between neighbours, 1 to 3 (default 1)\n"
    "  --video-side  long side of the video (default 1920)\n"
    "  --method      dis-ultrafast, dis-fast, dis-medium, farneback, or all to compare\n"
    "  --flow-side   long side the flow is measured at, 0 for the frames' own\n"
    "                (default: the method's, 960)\n"
    "  --folder      where the rigs are generated once (default: beside this program)\n"
    "  --arc, --pair one rig (40 or 60 degrees), one pair of it (from 0)\n"
    "  --dump        writes the frames of the middle pair there: made, true, minterpolate\n";

std::optional<Options> parse_options(QStringList arguments)
{
    Options options;
    while (!arguments.isEmpty()) {
        const QString name = arguments.takeFirst();
        if (name == "--no-minterpolate") {
            options.minterpolate = false;
            continue;
        }
        if (arguments.isEmpty())
            return std::nullopt;
        const QString value = arguments.takeFirst();
        bool ok = true;
        if (name == "--size") {
            const QStringList sides = value.split('x');
            bool height_ok = false;
            options.size = QSize(sides.value(0).toInt(&ok), sides.value(1).toInt(&height_ok));
            ok = ok && height_ok && sides.size() == 2;
        } else if (name == "--between") {
            options.between = value.toInt(&ok);
            ok = ok && options.between >= 1 && options.between <= 3;
        } else if (name == "--video-side") {
            options.video_side = value.toInt(&ok);
        } else if (name == "--flow-side") {
            options.flow_side = value.toInt(&ok);
        } else if (name == "--method") {
            options.method = value;
        } else if (name == "--arc") {
            options.arcs = {value.toDouble(&ok)};
        } else if (name == "--pair") {
            options.pair = value.toInt(&ok);
            ok = ok && options.pair >= 0 && options.pair < 11;
        } else if (name == "--dump") {
            options.dump = value;
        } else if (name == "--folder") {
            options.folder = value;
        } else {
            ok = false;
        }
        if (!ok)
            return std::nullopt;
    }
    if (options.folder.isEmpty())
        options.folder = QDir(QStringLiteral(QUORVANE_BENCH_CACHE)).filePath("in_between_rigs");
    return options;
}

struct Method
{
    const char* name;
    FlowMethod method;
};
const Method methods[] = {{"dis-ultrafast", FlowMethod::DisUltrafast},
                          {"dis-fast", FlowMethod::DisFast},
                          {"dis-medium", FlowMethod::DisMedium},
                          {"farneback", FlowMethod::Farneback}};

// True views are rendered at quarters (serving 1 and 3 frames between) or thirds.
int views_rendered(int between)
{
    return between == 2 ? 2 : 3;
}

struct Rig
{
    QString folder;
    RigGroundTruth truth;
    int views = 0; // true views between neighbours
};

std::optional<Rig> ensure_rig(const Options& options, double arc)
{
    Rig rig;
    rig.views = views_rendered(options.between);
    rig.folder = QDir(options.folder)
                     .filePath(QString("arc%1_%2x%3_between%4")
                                   .arg(arc)
                                   .arg(options.size.width())
                                   .arg(options.size.height())
                                   .arg(rig.views));
    RigOptions rig_options;
    rig_options.cameras = 12;
    rig_options.width = options.size.width();
    rig_options.height = options.size.height();
    rig_options.parallax = true;
    rig_options.arc_deg = arc;
    rig_options.between = rig.views;
    const QDir dir(rig.folder);
    const QString last = dir.filePath(between_file_name(rig_options.cameras - 2, rig.views, 0, 1));
    if (QFile::exists(last)) {
        const auto truth = read_ground_truth(dir.filePath(ground_truth_file_name));
        if (truth) {
            rig.truth = *truth;
            std::cout << "rig " << rig.folder.toStdString() << " (cached)" << std::endl;
            return rig;
        }
    }
    std::cout << "rig " << rig.folder.toStdString() << ": generating ..." << std::endl;
    std::ostringstream quiet;
    const RigWriteResult written = write_rig(rig_options, rig.folder, quiet);
    if (!written.ok()) {
        std::cerr << "in_between: " << written.error << std::endl;
        return std::nullopt;
    }
    rig.truth = written.truth;
    return rig;
}

cv::Mat to_video(const cv::Mat& frame, QSize video)
{
    if (frame.cols == video.width() && frame.rows == video.height())
        return frame;
    cv::Mat reduced;
    cv::resize(frame, reduced, cv::Size(video.width(), video.height()), 0, 0,
               frame.cols > video.width() ? cv::INTER_AREA : cv::INTER_LINEAR);
    return reduced;
}

// The frames of the rig through calibration and the frame pass, at the video's
// size, and the true views between them cut and reduced the same way:
// views[k][j - 1] lies j / (views + 1) of the way from camera k to k + 1.
struct RigFrames
{
    std::vector<cv::Mat> frames;
    std::vector<std::vector<cv::Mat>> views;
    double middle_psnr = 0.0; // the middle frame against its true shot: the crop agrees
};

std::optional<RigFrames> make_frames(const Rig& rig, const Options& options)
{
    const int cameras = rig.truth.options.cameras;
    QStringList references, shots;
    const QDir dir(rig.folder);
    for (int k = 0; k < cameras; ++k) {
        references << dir.filePath(reference_file_name(k));
        shots << dir.filePath(shot_file_name(k));
    }
    std::ostringstream quiet;
    ReferenceTriple reference;
    const StickerColor colour = rig.truth.parallax.sticker_colour == RigStickerColor::Pink
                                    ? StickerColor::Pink
                                    : StickerColor::Yellow;
    const Calibration calibration =
        construct_calibration(references, thresholds_for(colour), reference, quiet);
    if (!calibration.all_aligned()) {
        std::cerr << "in_between: the calibration left cameras unaligned" << std::endl;
        return std::nullopt;
    }
    QTemporaryDir scratch;
    const AlignedImages written = write_aligned_images(shots, calibration, scratch.path(), 95);
    if (written.frame_count != cameras) {
        std::cerr << "in_between: wrote " << written.frame_count << " frames" << std::endl;
        return std::nullopt;
    }
    std::vector<QSize> sizes;
    std::vector<ImageAlignment> alignments;
    for (int k = 0; k < cameras; ++k) {
        sizes.push_back(QImageReader(shots[k]).size());
        alignments.push_back(calibration.alignment(k));
    }
    const QRect crop = common_frame_rect(sizes, alignments, cameras / 2);
    const cv::Rect cut(crop.x(), crop.y(), crop.width(), crop.height());
    const QSize video = video_size(written.common_size, options.video_side);

    RigFrames result;
    for (int k = 0; k < cameras; ++k)
        result.frames.push_back(to_video(
            cv::imread(scratch.filePath(QString("output_img_%1.jpg").arg(k)).toStdString()),
            video));
    auto truth_view = [&](const QString& name) {
        const cv::Mat full = cv::imread(dir.filePath(name).toStdString());
        return to_video(full(cut).clone(), video);
    };
    for (int k = 0; k + 1 < cameras; ++k) {
        result.views.emplace_back();
        for (int j = 1; j <= rig.views; ++j)
            result.views.back().push_back(truth_view(between_file_name(k, j, 0, 1)));
    }
    // The middle camera's frame is its own shot cut: a check that the crop agrees.
    result.middle_psnr =
        cv::PSNR(result.frames[cameras / 2], truth_view(truth_shot_file_name(cameras / 2, 0, 1)));
    return result;
}

// ffmpeg's motion-compensated interpolation of the frames to between + 1 times
// their rate; the frames it made between, per pair, and its time.
struct Minterpolated
{
    std::vector<std::vector<cv::Mat>> frames;
    double seconds = 0.0;
};

std::optional<Minterpolated> minterpolate(const std::vector<cv::Mat>& frames, int between)
{
    const cv::Size size = frames.front().size();
    QTemporaryDir scratch;
    const QString output = scratch.filePath("frames.raw");
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString filter =
        QString("format=yuv444p,minterpolate=fps=%1:mi_mode=mci:mc_mode=aobmc:me_mode=bidir:"
                "search_param=96,format=bgr24")
            .arg(between + 1);
    const double start = processor_seconds(Spender::Children);
    ffmpeg.start("ffmpeg", {"-hide_banner",
                            "-loglevel",
                            "error",
                            "-nostdin",
                            "-f",
                            "rawvideo",
                            "-pixel_format",
                            "bgr24",
                            "-video_size",
                            QString("%1x%2").arg(size.width).arg(size.height),
                            "-framerate",
                            "1",
                            "-i",
                            "pipe:0",
                            "-vf",
                            filter,
                            "-f",
                            "rawvideo",
                            "-pix_fmt",
                            "bgr24",
                            output});
    if (!ffmpeg.waitForStarted()) {
        std::cerr << "in_between: cannot start ffmpeg" << std::endl;
        return std::nullopt;
    }
    // minterpolate stops short of the last frames: the last one is given again.
    std::vector<cv::Mat> fed = frames;
    fed.insert(fed.end(), 3, frames.back());
    for (const cv::Mat& frame : fed) {
        ffmpeg.write(reinterpret_cast<const char*>(frame.data),
                     static_cast<qint64>(frame.total() * frame.elemSize()));
        while (ffmpeg.bytesToWrite() > 0)
            ffmpeg.waitForBytesWritten(-1);
    }
    ffmpeg.closeWriteChannel();
    ffmpeg.waitForFinished(-1);
    Minterpolated result;
    result.seconds = processor_seconds(Spender::Children) - start;
    if (ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0) {
        std::cerr << "in_between: ffmpeg failed" << std::endl;
        return std::nullopt;
    }
    QFile file(output);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    const size_t frame_bytes = frames.front().total() * 3;
    std::vector<cv::Mat> out;
    for (size_t at = 0; at + frame_bytes <= static_cast<size_t>(bytes.size()); at += frame_bytes)
        out.push_back(cv::Mat(size, CV_8UC3, const_cast<char*>(bytes.constData() + at)).clone());
    const size_t needed = (frames.size() - 1) * (between + 1) + 1;
    if (out.size() < needed) {
        std::cerr << "in_between: minterpolate gave " << out.size() << " frames" << std::endl;
        return std::nullopt;
    }
    for (size_t k = 0; k + 1 < frames.size(); ++k) {
        result.frames.emplace_back();
        for (int j = 1; j <= between; ++j)
            result.frames.back().push_back(out[k * (between + 1) + j]);
    }
    return result;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Scores
{
    std::vector<double> psnr;
    double seconds = 0.0;
    int frames = 0;
};

Scores score_method(const RigFrames& rig, int between, int views, const InBetweenOptions& method,
                    const QString& dump, int only_pair)
{
    Scores scores;
    for (size_t k = 0; k + 1 < rig.frames.size(); ++k) {
        if (only_pair >= 0 && static_cast<int>(k) != only_pair)
            continue;
        // As the videos make them: one flow per pair, shared by its frames.
        const double start = processor_seconds(Spender::ThisProcess);
        const std::vector<cv::Mat> made =
            in_between_frames(rig.frames[k], rig.frames[k + 1], between, method);
        scores.seconds += processor_seconds(Spender::ThisProcess) - start;
        if (!dump.isEmpty() &&
            k == (only_pair >= 0 ? size_t(only_pair) : rig.frames.size() / 2 - 1)) {
            QDir().mkpath(dump);
            for (int j = 1; j <= between; ++j) {
                const cv::Mat& truth = rig.views[k][j * (views + 1) / (between + 1) - 1];
                cv::imwrite(QDir(dump).filePath(QString("made_%1.png").arg(j)).toStdString(),
                            made[j - 1]);
                cv::imwrite(QDir(dump).filePath(QString("true_%1.png").arg(j)).toStdString(),
                            truth);
                cv::Mat error;
                cv::absdiff(made[j - 1], truth, error);
                cv::imwrite(QDir(dump).filePath(QString("error_%1.png").arg(j)).toStdString(),
                            error * 4);
            }
            cv::imwrite(QDir(dump).filePath("first.png").toStdString(), rig.frames[k]);
            cv::imwrite(QDir(dump).filePath("second.png").toStdString(), rig.frames[k + 1]);
        }
        scores.frames += between;
        for (int j = 1; j <= between; ++j)
            scores.psnr.push_back(
                cv::PSNR(made[j - 1], rig.views[k][j * (views + 1) / (between + 1) - 1]));
    }
    return scores;
}

// Seconds per frame made between two frames of `side` pixels (timing only):
// processor time (all threads) and elapsed time, each the best of a few runs,
// since on a shared machine the neighbours' load only ever adds to them.
struct Timing
{
    double processor = 1e9;
    double elapsed = 1e9;
};

Timing seconds_at(const RigFrames& rig, int side, int between, const InBetweenOptions& method)
{
    const QSize frames(rig.frames.front().cols, rig.frames.front().rows);
    const double factor = static_cast<double>(side) / std::max(frames.width(), frames.height());
    cv::Mat a, b;
    cv::resize(rig.frames[5], a, cv::Size(), factor, factor, cv::INTER_LINEAR);
    cv::resize(rig.frames[6], b, cv::Size(), factor, factor, cv::INTER_LINEAR);
    Timing best;
    for (int run = 0; run < 5; ++run) {
        const double start = processor_seconds(Spender::ThisProcess);
        const auto started = std::chrono::steady_clock::now();
        in_between_frames(a, b, between, method);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        best.processor =
            std::min(best.processor, (processor_seconds(Spender::ThisProcess) - start) / between);
        best.elapsed = std::min(best.elapsed, elapsed.count() / between);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::optional<Options> parsed = parse_options(app.arguments().mid(1));
    if (!parsed) {
        std::cerr << usage;
        return 2;
    }
    const Options& options = *parsed;
    std::vector<Method> chosen;
    for (const Method& m : methods)
        if (options.method == "all" || options.method == m.name)
            chosen.push_back(m);
    const InBetweenOptions defaults;
    if (options.method == "default")
        for (const Method& m : methods)
            if (m.method == defaults.method)
                chosen.push_back(m);
    if (chosen.empty()) {
        std::cerr << usage;
        return 2;
    }

    const int between = options.between;
    std::vector<std::vector<Scores>> ours(chosen.size());
    std::vector<std::vector<double>> crossfade, interpolated;
    std::vector<double> minterpolate_seconds;
    int pairs = 0, minterpolated_frames = 0;
    int frame_side = 0;
    std::vector<RigFrames> kept;
    for (const double arc : options.arcs) {
        const std::optional<Rig> rig = ensure_rig(options, arc);
        if (!rig)
            return 1;
        const std::optional<RigFrames> frames = make_frames(*rig, options);
        if (!frames)
            return 1;
        frame_side = std::max(frames->frames.front().cols, frames->frames.front().rows);
        pairs += options.pair >= 0 ? 1 : static_cast<int>(frames->views.size());
        std::printf("arc %.0f: frames %dx%d, middle frame against its truth %.1f dB\n", arc,
                    frames->frames.front().cols, frames->frames.front().rows, frames->middle_psnr);
        crossfade.emplace_back();
        for (size_t k = 0; k < frames->views.size(); ++k)
            for (int j = 1; j <= between; ++j) {
                const double t = static_cast<double>(j) / (between + 1);
                cv::Mat blend;
                cv::addWeighted(frames->frames[k], 1 - t, frames->frames[k + 1], t, 0, blend);
                crossfade.back().push_back(
                    cv::PSNR(blend, frames->views[k][j * (rig->views + 1) / (between + 1) - 1]));
            }
        interpolated.emplace_back();
        // minterpolate takes many seconds per frame: its scores are kept beside
        // the rig, per video size and count, and its frames are made again only
        // for a dump.
        const QString kept_scores = QDir(rig->folder)
                                        .filePath(QString("minterpolate_%1x%2_between%3.txt")
                                                      .arg(frames->frames.front().cols)
                                                      .arg(frames->frames.front().rows)
                                                      .arg(between));
        std::vector<double> cached_scores;
        double cached_seconds = 0.0;
        if (options.minterpolate && options.dump.isEmpty()) {
            QFile file(kept_scores);
            if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
                const QStringList values =
                    QString::fromUtf8(file.readAll()).split(' ', Qt::SkipEmptyParts);
                for (int i = 1; i < values.size(); ++i)
                    cached_scores.push_back(values[i].toDouble());
                cached_seconds = values.value(0).toDouble();
                if (cached_scores.size() != frames->views.size() * between)
                    cached_scores.clear();
            }
        }
        if (options.minterpolate && !cached_scores.empty()) {
            minterpolate_seconds.push_back(cached_seconds);
            minterpolated_frames += static_cast<int>(cached_scores.size());
            interpolated.back() = cached_scores;
        } else if (options.minterpolate) {
            const std::optional<Minterpolated> mi = minterpolate(frames->frames, between);
            if (!mi)
                return 1;
            minterpolate_seconds.push_back(mi->seconds);
            if (!options.dump.isEmpty() && arc == options.arcs.front()) {
                QDir().mkpath(options.dump);
                for (int j = 1; j <= between; ++j)
                    cv::imwrite(QDir(options.dump)
                                    .filePath(QString("minterpolate_%1.png").arg(j))
                                    .toStdString(),
                                mi->frames[frames->frames.size() / 2 - 1][j - 1]);
            }
            minterpolated_frames += static_cast<int>(frames->views.size()) * between;
            for (size_t k = 0; k < frames->views.size(); ++k)
                for (int j = 1; j <= between; ++j)
                    interpolated.back().push_back(
                        cv::PSNR(mi->frames[k][j - 1],
                                 frames->views[k][j * (rig->views + 1) / (between + 1) - 1]));
            QFile file(kept_scores);
            if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
                QString line = QString::number(mi->seconds, 'g', 10);
                for (const double v : interpolated.back())
                    line += ' ' + QString::number(v, 'g', 10);
                file.write(line.toUtf8());
            }
        }
        std::printf("arc %.0f: crossfade %.2f dB, minterpolate %.2f dB\n", arc,
                    median(crossfade.back()), median(interpolated.back()));
        for (size_t m = 0; m < chosen.size(); ++m) {
            InBetweenOptions method;
            method.method = chosen[m].method;
            method.flow_long_side = options.flow_side;
            ours[m].push_back(score_method(*frames, between, rig->views, method,
                                           arc == options.arcs.front() ? options.dump : QString(), options.pair));
            const Scores& s = ours[m].back();
            std::printf("arc %.0f: %s %.2f dB (lowest %.2f), %.3f s per frame\n", arc,
                        chosen[m].name, median(s.psnr),
                        *std::min_element(s.psnr.begin(), s.psnr.end()), s.seconds / s.frames);
            // Each frame's score, in pair order: where to look with --pair.
            std::printf("arc %.0f: %s each:", arc, chosen[m].name);
            for (const double v : s.psnr)
                std::printf(" %.1f", v);
            std::printf("\n");
            std::fflush(stdout);
        }
        kept.push_back(*frames);
    }

    auto all = [](const std::vector<std::vector<double>>& per_rig) {
        std::vector<double> values;
        for (const auto& v : per_rig)
            values.insert(values.end(), v.begin(), v.end());
        return values;
    };
    const double mi_seconds =
        minterpolated_frames ? (minterpolate_seconds.empty() ? 0.0 : [&] {
            double sum = 0;
            for (double s : minterpolate_seconds)
                sum += s;
            return sum / minterpolated_frames;
        }())
                             : 0.0;
    for (size_t m = 0; m < chosen.size(); ++m) {
        std::vector<std::vector<double>> per_rig;
        double seconds = 0.0;
        int frames = 0;
        for (const Scores& s : ours[m]) {
            per_rig.push_back(s.psnr);
            seconds += s.seconds;
            frames += s.frames;
        }
        double worst = 1e9;
        for (size_t r = 0; r < per_rig.size(); ++r)
            worst = std::min(worst, median(per_rig[r]) - median(interpolated[r]));
        const std::vector<double> everything = all(per_rig);
        InBetweenOptions method;
        method.method = chosen[m].method;
        method.flow_long_side = options.flow_side;
        const Timing at_video = seconds_at(kept.front(), options.video_side, between, method);
        // The margins to two decimals: one place rounds +0.96 up to a pass.
        std::printf("%s: %zu rigs, %d pairs, %d between: %.1f dB (crossfade %.1f, minterpolate "
                    "%.1f); worst rig %+.2f dB, all rigs %+.2f dB; lowest %.1f dB; %.2f s per "
                    "frame at %d px (%.2f s elapsed; %.2f s at %d px), minterpolate %.2f s per "
                    "frame (processor time)\n",
                    chosen[m].name, per_rig.size(), pairs, between, median(everything),
                    median(all(crossfade)), median(all(interpolated)), worst,
                    median(everything) - median(all(interpolated)),
                    *std::min_element(everything.begin(), everything.end()), at_video.processor,
                    options.video_side, at_video.elapsed, seconds / frames, frame_side,
                    mi_seconds);
    }
    return 0;
}
