#include "output/aligned_images.h"

#include "output/frame_geometry.h"
#include "output/frame_render.h"
#include "output/run_files.h"
#include "output/video_frames.h"
#include "photo/image_file.h"
#include "photo/jpeg_encoding.h"
#include "support/atomic_file.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <optional>
#include <thread>
#include <vector>

namespace {

QString frame_path(const QString& folder, int index)
{
    return folder + "/" + frame_file_name(index);
}

// The index of the first frame file this run would write that is also one of
// its inputs, or -1.
int first_input_among_frames(const QStringList& inputs, int count, const QString& folder)
{
    QSet<QString> input_files;
    for (int k = 0; k < count; ++k)
        input_files.insert(QFileInfo(inputs[k]).canonicalFilePath());
    for (int k = 0; k < count; ++k) {
        const QString frame = QFileInfo(frame_path(folder, k)).canonicalFilePath();
        if (!frame.isEmpty() && input_files.contains(frame))
            return k;
    }
    return -1;
}

enum class Outcome
{
    NotStarted,
    Written,
    Unreadable,
    Unwritable,
    Refused,
    // Its colours could not be matched: a camera they depend on failed.
    Abandoned,
};

// What a worker keeps from one image to the next: decoding and rendering into
// the same buffers spares the fresh pages of two full-size images per shot.
struct WorkerBuffers
{
    QByteArray file_bytes;
    QImage decoded;
    QImage frame; // RGB32, or RGB888 when its colours are matched
    QByteArray encoded;
};

struct Job
{
    const QStringList& inputs;
    const Calibration& calibration;
    const std::vector<QSize>& upright_sizes; // from the headers
    QRect frame_rect;                        // in the reference camera's pixels
    const QString& folder;
    int quality;
    VideoFrames* keep; // may be null
    const std::vector<ColourTable>& colour_tables; // empty: colours kept
    OutwardColourGains* matching;                  // may be null
    ReducedFrameShape reduced_shape;               // with `matching`
    DecodedShotCheck* shot_check;                  // may be null
};

// Encodes `frame` in memory, then writes it under a temporary name that becomes
// `path` only once every byte reached the disk: the image writer does not report
// a failed final flush, and a frame cut short by a full disk or a kill must never
// pass for written. Returns why it could not be written, or an empty string.
// `encoded` keeps its memory from one frame to the next.
QString save_frame(const QImage& frame, const QString& path, int quality, QByteArray& encoded)
{
    const QString problem = encode_jpeg(frame, quality, encoded);
    if (!problem.isEmpty())
        return problem;
    return write_file_atomically(path, encoded);
}

// On Unwritable, `reason` says why.
Outcome write_frame(const Job& job, int index, WorkerBuffers& buffers, QString& reason)
{
    const std::optional<QImageIOHandler::Transformations> orientation =
        read_stored_image(job.inputs[index], buffers.decoded, buffers.file_bytes);
    if (!orientation)
        return Outcome::Unreadable;
    const QSize stored = buffers.decoded.size();
    const QSize upright =
        (*orientation & QImageIOHandler::TransformationRotate90) ? stored.transposed() : stored;
    // The frame rectangle was taken from the headers; a file that decodes to
    // another size than it announced cannot be trusted to fill its frame.
    if (upright != job.upright_sizes[index])
        return Outcome::Unreadable;

    ImageAlignment alignment = job.calibration.alignment(index);
    if (job.shot_check) {
        const std::optional<ImageAlignment> checked =
            job.shot_check->check_shot(index, buffers.decoded, *orientation, alignment);
        if (!checked)
            return Outcome::Refused;
        alignment = *checked;
    }

    ColourTable matched;
    if (job.matching) {
        const std::optional<ColourGains> gains = job.matching->estimate(
            index, reduced_aligned_frame(buffers.decoded, *orientation, alignment,
                                         job.reduced_shape));
        if (!gains)
            return Outcome::Abandoned;
        matched = colour_table(*gains);
    }

    // The one place a frame is made: warped here, then written, then reduced for the videos.
    // Colours matched, an identity table included, make the frame RGB888 with
    // the table applied as it is converted (render_matched_frame_into): the
    // writer converts 32-bit frames itself, so the table then costs little
    // more than that conversion, and the video copies carry the same bytes.
    const ColourTable* colour =
        job.matching ? &matched
        : index < static_cast<int>(job.colour_tables.size()) ? &job.colour_tables[index]
                                                              : nullptr;
    const QImage::Format format = colour ? QImage::Format_RGB888 : QImage::Format_RGB32;
    if (buffers.frame.size() != job.frame_rect.size() || buffers.frame.format() != format)
        buffers.frame = QImage(job.frame_rect.size(), format);
    if (buffers.frame.isNull()) {
        reason = QStringLiteral("out of memory");
        return Outcome::Unwritable;
    }
    if (colour)
        render_matched_frame_into(buffers.decoded, *orientation, alignment,
                                  job.frame_rect.topLeft(), buffers.frame, *colour);
    else
        render_frame_into(buffers.decoded, *orientation, alignment, job.frame_rect.topLeft(),
                          buffers.frame);
    reason = save_frame(buffers.frame, frame_path(job.folder, index), job.quality, buffers.encoded);
    if (!reason.isEmpty())
        return Outcome::Unwritable;
    if (job.keep) {
        const QImage& frame = buffers.frame;
        keep_video_frame(*job.keep, index,
                         cv::Mat(frame.height(), frame.width(), colour ? CV_8UC3 : CV_8UC4,
                                 const_cast<uchar*>(frame.constBits()),
                                 static_cast<std::size_t>(frame.bytesPerLine())),
                         colour ? FramePixels::Rgb : FramePixels::Bgra);
    }
    return Outcome::Written;
}

} // namespace

AlignedImages write_aligned_images(const QStringList& inputs, const Calibration& calibration,
                                   const QString& folder, int quality, BatchProgress* progress,
                                   VideoFrames* keep, const std::vector<ColourTable>& colour_tables,
                                   std::vector<ColourGains>* matched_gains,
                                   DecodedShotCheck* shot_check)
{
    if (matched_gains)
        matched_gains->clear();
    AlignedImages result;
    // However the step ends, a video waiting for its frames learns that no more come.
    struct ArrivalEnd
    {
        FrameArrival* arrival;
        ~ArrivalEnd()
        {
            if (arrival)
                arrival->end();
        }
    } const arrival_end{keep ? keep->arrival : nullptr};
    const int count = std::max(calibration.image_count, 0);
    if (inputs.size() < count) {
        result.common_size = QSize(0, 0);
        return result;
    }

    // Headers only: a run that cannot finish is refused before it writes a file,
    // so it never leaves frames of mixed sizes behind.
    std::vector<QSize> upright_sizes;
    std::vector<ImageAlignment> alignments;
    for (int k = 0; k < count; ++k) {
        const QSize size = read_oriented_size(inputs[k]);
        if (!size.isValid()) {
            result.unreadable_input = inputs[k];
            result.unreadable_camera = k;
            return result;
        }
        upright_sizes.push_back(size);
        alignments.push_back(calibration.alignment(k));
    }
    if (count == 0) {
        result.common_size = QSize(16777214, 16777214);
        return result;
    }
    // The middle camera is the one the calibration aligned the others onto.
    const QRect frame_rect = common_frame_rect(upright_sizes, alignments, count / 2);
    result.common_size = frame_rect.isEmpty() ? QSize(0, 0) : frame_rect.size();
    if (result.common_size.isEmpty())
        return result;

    // Shots picked from the frames of an earlier run in this folder would be
    // overwritten, one possibly before another worker reads it: refuse the run.
    const int overwritten = first_input_among_frames(inputs, count, folder);
    if (overwritten >= 0) {
        result.input_among_frames = frame_path(folder, overwritten);
        return result;
    }

    // Each worker takes the next camera and finishes every camera it takes.
    // Without colour matching the cameras are taken in index order; with it,
    // from the middle outwards, the order in which each camera's gains can
    // build on those before it. Either way, after a failure only the frames
    // from 0 up to the first one missing are kept.
    if (keep) {
        keep->frame_origin = frame_rect.topLeft();
        prepare_video_frames(*keep, frame_rect.size(), count);
        if (keep->arrival)
            keep->arrival->begin(frame_rect.size(), count);
    }
    std::optional<OutwardColourGains> matching;
    std::vector<int> order(count);
    std::iota(order.begin(), order.end(), 0);
    if (matched_gains) {
        matching.emplace(count);
        order = OutwardColourGains::outward_order(count);
    }
    const Job job{inputs,        calibration, upright_sizes,
                  frame_rect,    folder,      quality,
                  keep,          colour_tables, matching ? &*matching : nullptr,
                  reduced_frame_shape(frame_rect), shot_check};
    std::vector<Outcome> outcomes(count, Outcome::NotStarted);
    std::vector<QString> reasons(count);
    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    const auto work = [&] {
        WorkerBuffers buffers;
        while (!failed.load() && !(progress && progress->stop_requested())) {
            const int taken = next.fetch_add(1);
            if (taken >= count)
                return;
            const int index = order[taken];
            outcomes[index] = write_frame(job, index, buffers, reasons[index]);
            // Cameras waiting for this one's gains must not wait for ever.
            if (matching && (outcomes[index] == Outcome::Unreadable ||
                             outcomes[index] == Outcome::Refused))
                matching->give_up(index);
            if (outcomes[index] != Outcome::Written)
                failed.store(true);
            else if (progress)
                progress->image_done();
        }
    };
    const int workers = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, count);
    std::vector<std::thread> helpers;
    for (int w = 1; w < workers; ++w)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();

    // Leave what a run in index order would have left at its first failure:
    // nothing after an unreadable or refused input, the frames before an
    // unwritable file.
    // Taken outwards, the frames written need not start at 0: only those from 0
    // up to the first one missing stay.
    const int leading = static_cast<int>(
        std::find_if(outcomes.begin(), outcomes.end(),
                     [](Outcome outcome) { return outcome != Outcome::Written; }) -
        outcomes.begin());
    const auto failure = std::find_if(outcomes.begin(), outcomes.end(), [](Outcome outcome) {
        return outcome == Outcome::Unreadable || outcome == Outcome::Unwritable ||
               outcome == Outcome::Refused;
    });
    const bool unreadable = failure != outcomes.end() && *failure == Outcome::Unreadable;
    const bool refused = failure != outcomes.end() && *failure == Outcome::Refused;
    for (int k = unreadable || refused ? 0 : leading; k < count; ++k) {
        if (outcomes[k] == Outcome::Written)
            QFile::remove(frame_path(folder, k));
    }
    if (failure != outcomes.end()) {
        const int first = static_cast<int>(failure - outcomes.begin());
        if (unreadable) {
            result.unreadable_input = inputs[first];
            result.unreadable_camera = first;
        } else if (refused) {
            result.refused_camera = first;
        } else {
            result.unwritable_output = frame_path(folder, first);
            result.unwritable_reason = reasons[first];
            result.frame_count = leading;
        }
        return result;
    }
    result.frame_count = leading;
    result.stopped = result.frame_count < count;
    if (matched_gains && !result.stopped)
        *matched_gains = matching->gains();
    return result;
}
