#include "output/colour_matching.h"

#include "calibration/drift_check.h"
#include "output/frame_geometry.h"
#include "output/frame_render.h"
#include "output/optical_flow.h"
#include "photo/image_file.h"
#include "photo/reduced_photo.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <iomanip>
#include <mutex>
#include <numeric>
#include <ostream>
#include <sstream>

// Named rather than anonymous: the outward estimate's state, declared in the
// header, keeps them.
namespace colour_comparison {

// What one frame brings to the comparison: its linear colours, lightly blurred
// against JPEG noise, where they can be trusted, and its grey at half size for
// the flow.
struct PreparedFrame
{
    cv::Mat linear; // CV_32FC3
    cv::Mat usable; // CV_8U, 255 where a pixel may be compared
    cv::Mat grey;   // CV_8U, half the frame's size (cv::pyrDown)
};

struct NeighbourFlows
{
    cv::Mat forward;  // lo -> lo + 1
    cv::Mat backward; // lo + 1 -> lo
};

} // namespace colour_comparison

namespace {

using colour_comparison::NeighbourFlows;
using colour_comparison::PreparedFrame;

// Values at or above this (8-bit sRGB) may be clipped, below the other one are
// mostly noise: neither says what the camera's gain is.
constexpr int clipped_level = 250;
constexpr int black_level = 12;
// The share of each side left out at the frame border, where the warp repeats
// edge pixels and lenses are least alike.
constexpr double border_share = 0.04;
// Flow that comes back further than this (pixels of the reduced frames) is an
// occlusion or a mismatch.
constexpr float flow_tolerance = 0.75f;
// A pixel whose log colour ratio strays further than this from the pair's
// median sees something else in the other camera (parallax, a moving subject).
constexpr float ratio_tolerance = 0.08f;
// The flow between neighbours is found on greys of half the reduced frames'
// size and stops at half of that, a quarter of the reduced frames: the pixels
// it loses are a few at edges, among thousands whose colours are summed, and
// it costs half as much as down to half size. Its pictures at half size cost
// a third less than at full size for the same flow.
constexpr int estimate_flow_scale = 1;
// The pixels a pair compares: every other one of every fourth row, alternate
// rows shifted by one. The blurred neighbours say nearly what each says, and
// following the flows there and back is the pair's largest cost; on parallax
// rigs of 12 cameras one pixel in eight finds the gains as closely as every
// other pixel did (ΔE median 0.2, max 0.7 at 1600 x 1200).
constexpr int compared_row_step = 4;
// A pair with fewer pixels left than this says nothing reliable.
constexpr int min_pair_pixels = 64;
// Gains beyond these mean the estimate went wrong, not the camera.
constexpr double min_gain = 0.25;
constexpr double max_gain = 4.0;

PreparedFrame prepare(const cv::Mat& frame)
{
    PreparedFrame prepared;
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    cv::pyrDown(grey, prepared.grey);
    // Made once: 256 powers cost as much as the rest of a small frame's preparation.
    static const cv::Mat table = [] {
        cv::Mat values(1, 256, CV_32F);
        for (int v = 0; v < 256; ++v)
            values.at<float>(v) = static_cast<float>(srgb_to_linear(v / 255.0));
        return values;
    }();
    cv::Mat linear;
    cv::LUT(frame, table, linear);
    cv::GaussianBlur(linear, prepared.linear, cv::Size(3, 3), 0);

    cv::Mat low;
    cv::Mat high;
    cv::inRange(frame, cv::Scalar::all(black_level), cv::Scalar::all(clipped_level - 1), low);
    prepared.usable = low;
    // A clipped or black neighbour leaks into the blurred value.
    cv::erode(prepared.usable, prepared.usable, cv::Mat());
    const int mx = static_cast<int>(std::ceil(frame.cols * border_share));
    const int my = static_cast<int>(std::ceil(frame.rows * border_share));
    prepared.usable.colRange(0, std::min(mx, frame.cols)).setTo(0);
    prepared.usable.colRange(std::max(frame.cols - mx, 0), frame.cols).setTo(0);
    prepared.usable.rowRange(0, std::min(my, frame.rows)).setTo(0);
    prepared.usable.rowRange(std::max(frame.rows - my, 0), frame.rows).setTo(0);
    return prepared;
}

// How frame `to`'s colours relate to frame `from`'s: log(to / from) per channel.
struct PairRatio
{
    int from = 0;
    int to = 0;
    std::array<double, 3> log_ratio{0.0, 0.0, 0.0};
    int pixels = 0;
};

// The median of log colour ratios to within a thousandth, counted into bins:
// far finer than the tolerance kept around it, at a fraction of a selection's
// cost, which was a third of a pair's. Ratios beyond the range, a factor of
// 20 (neighbours whose gains are both kept differ by 16 at most), count at its ends.
float median_log_ratio(const std::vector<float>& values)
{
    constexpr float range = 3.0f;
    constexpr int bins = 6144;
    constexpr float per_unit = bins / (2 * range);
    std::array<int, bins> counts{};
    for (const float value : values) {
        const float at = (value + range) * per_unit;
        const int bin = at > 0.0f ? (at < float(bins) ? static_cast<int>(at) : bins - 1) : 0;
        ++counts[static_cast<std::size_t>(bin)];
    }
    const std::size_t half = values.size() / 2;
    std::size_t seen = 0;
    for (int bin = 0; bin < bins; ++bin) {
        seen += static_cast<std::size_t>(counts[static_cast<std::size_t>(bin)]);
        if (seen > half)
            return (static_cast<float>(bin) + 0.5f) / per_unit - range;
    }
    return 0.0f;
}

// Frame b's blurred linear colour at `point`, bilinear; false unless all four
// pixels around it may be compared.
bool usable_colour_at(const PreparedFrame& b, cv::Point2f point, cv::Vec3f& colour)
{
    const int x = std::min(static_cast<int>(point.x), b.linear.cols - 2);
    const int y = std::min(static_cast<int>(point.y), b.linear.rows - 2);
    const uchar* top_usable = b.usable.ptr<uchar>(y) + x;
    const uchar* bottom_usable = b.usable.ptr<uchar>(y + 1) + x;
    if (!(top_usable[0] & top_usable[1] & bottom_usable[0] & bottom_usable[1]))
        return false;
    const float fx = point.x - static_cast<float>(x);
    const float fy = point.y - static_cast<float>(y);
    const cv::Vec3f* top = b.linear.ptr<cv::Vec3f>(y) + x;
    const cv::Vec3f* bottom = b.linear.ptr<cv::Vec3f>(y + 1) + x;
    const cv::Vec3f upper = top[0] + fx * (top[1] - top[0]);
    const cv::Vec3f lower = bottom[0] + fx * (bottom[1] - bottom[0]);
    colour = upper + fy * (lower - upper);
    return true;
}

// `forward` takes a's pixels to b's, `backward` b's to a's, both in pixels of
// the half-size greys. Each pixel is followed on its own, only where it may be
// compared: no flow is resampled as a whole picture, which cost the pair most
// of its time.
PairRatio compare(const PreparedFrame& a, const PreparedFrame& b, const FlowPath& forward,
                  const FlowPath& backward, int from, int to)
{
    PairRatio ratio;
    ratio.from = from;
    ratio.to = to;
    if (a.linear.cols < 2 || a.linear.rows < 2)
        return ratio;
    const float limit = flow_tolerance * flow_tolerance;

    std::vector<cv::Vec3f> from_colours;
    std::vector<cv::Vec3f> to_colours;
    std::array<std::vector<float>, 3> logs;
    const std::size_t most = a.linear.total() / (2 * compared_row_step) + a.linear.cols;
    from_colours.reserve(most);
    to_colours.reserve(most);
    for (std::vector<float>& values : logs)
        values.reserve(most);
    for (int y = 0; y < a.linear.rows; y += compared_row_step) {
        const cv::Vec3f* ca = a.linear.ptr<cv::Vec3f>(y);
        const uchar* ua = a.usable.ptr<uchar>(y);
        for (int x = (y / compared_row_step) & 1; x < a.linear.cols; x += 2) {
            if (!ua[x])
                continue;
            // Pixel 2i of the frame is pixel i at half size.
            const cv::Point2f start(0.5f * static_cast<float>(x), 0.5f * static_cast<float>(y));
            cv::Point2f there = start;
            if (!follow_path(forward, there))
                continue;
            // The way back must come back where it started: else an
            // occlusion or a mismatch.
            cv::Point2f back = there;
            if (!follow_path(backward, back))
                continue;
            const cv::Point2f missed = 2.0f * (back - start);
            if (missed.dot(missed) > limit)
                continue;
            cv::Vec3f cb;
            if (!usable_colour_at(b, 2.0f * there, cb))
                continue;
            from_colours.push_back(ca[x]);
            to_colours.push_back(cb);
            for (int c = 0; c < 3; ++c)
                logs[c].push_back(cb[c] / ca[x][c]);
        }
    }
    if (static_cast<int>(from_colours.size()) < min_pair_pixels)
        return ratio;
    // The ratios' logarithms all at once: a call to std::log per value costs
    // the estimate much of its time.
    for (int c = 0; c < 3; ++c) {
        cv::Mat values(logs[c], false);
        cv::log(values, values);
    }

    std::array<float, 3> median{};
    for (int c = 0; c < 3; ++c)
        median[c] = median_log_ratio(logs[c]);
    // Sums rather than a mean of ratios: bright pixels, the least noisy, weigh most.
    cv::Vec3d from_sum(0, 0, 0);
    cv::Vec3d to_sum(0, 0, 0);
    for (std::size_t i = 0; i < from_colours.size(); ++i) {
        bool agrees = true;
        for (int c = 0; c < 3; ++c)
            agrees = agrees && std::abs(logs[c][i] - median[c]) <= ratio_tolerance;
        if (!agrees)
            continue;
        from_sum += cv::Vec3d(from_colours[i]);
        to_sum += cv::Vec3d(to_colours[i]);
        ++ratio.pixels;
    }
    if (ratio.pixels < min_pair_pixels) {
        ratio.pixels = 0;
        return ratio;
    }
    for (int c = 0; c < 3; ++c)
        ratio.log_ratio[c] = std::log(to_sum[c] / from_sum[c]);
    return ratio;
}

// The cameras linked to `middle` through pairs that found something.
std::vector<bool> linked_to(int middle, int count, const std::vector<PairRatio>& pairs)
{
    std::vector<bool> linked(count, false);
    linked[middle] = true;
    for (bool grew = true; grew;) {
        grew = false;
        for (const PairRatio& pair : pairs) {
            if (pair.pixels > 0 && linked[pair.from] != linked[pair.to]) {
                linked[pair.from] = linked[pair.to] = true;
                grew = true;
            }
        }
    }
    return linked;
}

// Multiplies an alignment's output by 1 / `reduction`, origin moved to `origin`:
// reference pixels -> pixels of the reduced frame (pixel centres kept).
ImageAlignment onto_reduced_frame(ImageAlignment alignment, QPoint origin, double reduction)
{
    alignment.scale /= reduction;
    alignment.translation_x = (alignment.translation_x - origin.x() + 0.5) / reduction - 0.5;
    alignment.translation_y = (alignment.translation_y - origin.y() + 0.5) / reduction - 0.5;
    return alignment;
}

// The reduction, 1/2, 1/4 or 1/8 (or whole), the largest step that keeps a
// photo of `size` at `long_side` pixels or more on its long side.
int reduction_for(QSize size, int long_side)
{
    int step = 8;
    while (step > 1 && std::max(size.width(), size.height()) / step < long_side)
        step /= 2;
    return step;
}

// The reduction the estimate starts from for a photo of `size`: the drift
// check's, so that the check's copy serves it, but always this one, whether a
// copy is shared or not. Averaged down, a finer decode gives other pixels than
// the decoder's own coarser reduction; starting from one reduction whatever
// the caller passes keeps the gains, and so the frames, the same from every face.
int source_reduction(QSize size, int step)
{
    return std::min(step, drift_reduction(size));
}

// Camera `camera`'s shot reduced by exactly `reduction`: the copy the drift
// check decoded when it has that reduction, else a decode of its own.
ReducedPhoto reduced_shot(const QString& path, int camera, int reduction,
                          const ReducedShots* shared)
{
    const ReducedPhoto* copy = shared ? shared->find(camera, path, reduction) : nullptr;
    if (copy && copy->reduction == reduction)
        return *copy;
    return read_reduced_photo(path, reduction);
}

// `stored`, decoded reduced by `reduction`, averaged down to `step` (sides
// rounded up, as the decoder rounds them).
QImage at_reduction(const QImage& stored, int reduction, int step)
{
    const int finer = step / std::max(1, reduction);
    if (finer <= 1 || stored.isNull())
        return stored;
    const cv::Mat pixels(stored.height(), stored.width(), CV_8UC4,
                         const_cast<uchar*>(stored.constBits()),
                         static_cast<size_t>(stored.bytesPerLine()));
    QImage reduced((stored.width() + finer - 1) / finer, (stored.height() + finer - 1) / finer,
                   stored.format());
    cv::Mat target(reduced.height(), reduced.width(), CV_8UC4, reduced.bits(),
                   static_cast<size_t>(reduced.bytesPerLine()));
    cv::resize(pixels, target, target.size(), 0, 0, cv::INTER_AREA);
    return reduced;
}

// Next-neighbours see the scene from further apart: they count half.
double pair_weight(const PairRatio& pair)
{
    return std::sqrt(pair.pixels * (pair.to - pair.from == 1 ? 1.0 : 0.5));
}

// Both flows between neighbours `lo` and `lo + 1`.
NeighbourFlows neighbour_flows(const PreparedFrame& lo, const PreparedFrame& hi)
{
    return {dense_flow(lo.grey, hi.grey, FlowMethod::DisUltrafast, estimate_flow_scale),
            dense_flow(hi.grey, lo.grey, FlowMethod::DisUltrafast, estimate_flow_scale)};
}

// Of each block of rows reduced to one, the rows read: one in sixteen (one
// row of a smaller block). The shot is the largest thing the estimate reads,
// at 6000 x 4000 far larger than the processor's cache, and reading it costs
// more than summing it; each block's mean over its width moves little, and
// the colours are summed over thousands of such blocks. On parallax rigs of 12
// cameras the gains come as close as from one row in four.
constexpr int block_row_step = 16;

// Each run of `block` pixels of `columns` (four 16-bit sums each) summed
// across, rounded and shifted down by `shift` into `count` pixels of `out`.
void sum_blocks(const quint16* columns, uchar* out, int count, int block, int shift)
{
    const unsigned half = 1u << shift >> 1;
#if defined(__x86_64__)
    // Two pixels at a time, widened to 32 bits: across a block the sums
    // outgrow 16 bits. Scalar, the sums were half the reduction's time.
    if (block >= 2) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i rounding = _mm_set1_epi32(static_cast<int>(half));
        const __m128i shift_by = _mm_cvtsi32_si128(shift);
        for (int x = 0; x < count; ++x, out += 4) {
            __m128i sum = zero;
            for (int i = 0; i < block; i += 2, columns += 8) {
                const __m128i two = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns));
                sum = _mm_add_epi32(sum, _mm_add_epi32(_mm_unpacklo_epi16(two, zero),
                                                       _mm_unpackhi_epi16(two, zero)));
            }
            const __m128i mean = _mm_srl_epi32(_mm_add_epi32(sum, rounding), shift_by);
            const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(mean, zero), zero);
            const int pixel = _mm_cvtsi128_si32(bytes);
            std::memcpy(out, &pixel, 4);
        }
        return;
    }
#endif
    for (int x = 0; x < count; ++x, out += 4) {
        std::array<unsigned, 4> sum{0u, 0u, 0u, 0u};
        for (int i = 0; i < block; ++i, columns += 4) {
            for (int c = 0; c < 4; ++c)
                sum[c] += columns[c];
        }
        for (int c = 0; c < 4; ++c)
            out[c] = static_cast<uchar>((sum[c] + half) >> shift);
    }
}

// `pixels` (32-bit) reduced by `block` (a power of two) in one pass: the mean
// of each block x block square over the rows read (not every row, unlike the
// drift check's exact block means), a last part row or column
// of blocks left out, as halving it again and again would.
cv::Mat sampled_block_means(const cv::Mat& pixels, int block)
{
    CV_Assert(pixels.type() == CV_8UC4 && block >= 1 && (block & (block - 1)) == 0 &&
              block / block_row_step <= 257);
    cv::Mat means(pixels.rows / block, pixels.cols / block, CV_8UC4);
    if (means.empty())
        return means;
    const int step = std::min(block, block_row_step);
    const int values = means.cols * block * 4;
    int shift = 0; // log2 of the pixels summed per block
    while ((1 << shift) < block * block / step)
        ++shift;
    // The rows read summed byte by byte first, which vectorises, then across
    // each block; 16 bits hold 257 rows of 255.
    std::vector<quint16> columns(static_cast<std::size_t>(values));
    // Of alternate groups of `step` rows, counted over the whole picture, the
    // row just above the group's middle and the row just below: one odd row,
    // one even, so that stripes a row apart still average out.
    const auto sampled_row = [&](int y, int j) {
        const int group = y * (block / step) + j;
        return y * block + j * step + (step == 1 ? 0 : step / 2 - 1 + (group & 1));
    };
    for (int y = 0; y < means.rows; ++y) {
        std::fill(columns.begin(), columns.end(), quint16(0));
        for (int j = 0; j < block / step; ++j) {
            const uchar* in = pixels.ptr<uchar>(sampled_row(y, j));
            // The next row read is asked for while this one is summed: the
            // rows are far apart, and each would otherwise wait on memory.
            const int next = j + 1 < block / step ? sampled_row(y, j + 1) : sampled_row(y + 1, 0);
            if (y + 1 < means.rows || j + 1 < block / step) {
                const uchar* ahead = pixels.ptr<uchar>(next);
                for (int i = 0; i < values; i += 64)
                    __builtin_prefetch(ahead + i);
            }
            quint16* column = columns.data();
            for (int i = 0; i < values; ++i)
                column[i] = static_cast<quint16>(column[i] + in[i]);
        }
        sum_blocks(columns.data(), means.ptr<uchar>(y), means.cols, block, shift);
    }
    return means;
}

} // namespace

std::vector<ColourGains> estimate_colour_gains(const std::vector<cv::Mat>& frames, int middle)
{
    const int count = static_cast<int>(frames.size());
    std::vector<ColourGains> gains(count);
    if (count < 2 || middle < 0 || middle >= count)
        return gains;

    std::vector<PreparedFrame> prepared(count);
    cv::parallel_for_(cv::Range(0, count), [&](const cv::Range& range) {
        for (int k = range.start; k < range.end; ++k)
            prepared[k] = prepare(frames[k]);
    });
    // The flow both ways between neighbours; a next-neighbour's follows two of
    // them, which costs no flow of its own.
    std::vector<cv::Mat> forward(count - 1);
    std::vector<cv::Mat> backward(count - 1);
    cv::parallel_for_(cv::Range(0, 2 * (count - 1)), [&](const cv::Range& range) {
        for (int i = range.start; i < range.end; ++i) {
            const int k = i / 2;
            const PreparedFrame& from = prepared[i % 2 == 0 ? k : k + 1];
            const PreparedFrame& to = prepared[i % 2 == 0 ? k + 1 : k];
            (i % 2 == 0 ? forward : backward)[k] =
                dense_flow(from.grey, to.grey, FlowMethod::DisUltrafast, estimate_flow_scale);
        }
    });
    // Neighbours and next-neighbours: the next-neighbours carry the chain across
    // a camera that has nothing to compare.
    std::vector<PairRatio> pairs;
    for (int k = 0; k < count; ++k) {
        for (int step = 1; step <= 2 && k + step < count; ++step)
            pairs.push_back({k, k + step, {}, 0});
    }
    cv::parallel_for_(cv::Range(0, static_cast<int>(pairs.size())), [&](const cv::Range& range) {
        for (int p = range.start; p < range.end; ++p) {
            const int k = pairs[p].from;
            const int j = pairs[p].to;
            const bool next = j - k == 2;
            const FlowPath there =
                next ? FlowPath{&forward[k], &forward[k + 1]} : FlowPath{&forward[k], nullptr};
            const FlowPath back =
                next ? FlowPath{&backward[k + 1], &backward[k]} : FlowPath{&backward[k], nullptr};
            pairs[p] = compare(prepared[k], prepared[j], there, back, k, j);
        }
    });

    // Unknowns: the log gain of every linked camera but the middle one, which
    // stays at 0. A pair (k, j) says log gain k - log gain j = log(j / k).
    const std::vector<bool> linked = linked_to(middle, count, pairs);
    std::vector<int> unknown(count, -1);
    int unknowns = 0;
    for (int k = 0; k < count; ++k) {
        if (linked[k] && k != middle)
            unknown[k] = unknowns++;
    }
    if (unknowns == 0)
        return gains;
    std::vector<const PairRatio*> used;
    for (const PairRatio& pair : pairs) {
        if (pair.pixels > 0 && linked[pair.from])
            used.push_back(&pair);
    }
    cv::Mat system = cv::Mat::zeros(static_cast<int>(used.size()), unknowns, CV_64F);
    cv::Mat sides = cv::Mat::zeros(static_cast<int>(used.size()), 3, CV_64F);
    for (int row = 0; row < static_cast<int>(used.size()); ++row) {
        const PairRatio& pair = *used[row];
        const double weight = pair_weight(pair);
        if (unknown[pair.from] >= 0)
            system.at<double>(row, unknown[pair.from]) = weight;
        if (unknown[pair.to] >= 0)
            system.at<double>(row, unknown[pair.to]) = -weight;
        for (int c = 0; c < 3; ++c)
            sides.at<double>(row, c) = weight * pair.log_ratio[c];
    }
    cv::Mat solution;
    if (!cv::solve(system, sides, solution, cv::DECOMP_SVD))
        return gains;
    for (int k = 0; k < count; ++k) {
        if (unknown[k] < 0)
            continue;
        for (int c = 0; c < 3; ++c)
            gains[k].bgr[c] =
                std::clamp(std::exp(solution.at<double>(unknown[k], c)), min_gain, max_gain);
    }
    return gains;
}

std::vector<cv::Mat> reduced_aligned_frames(const QStringList& shots,
                                            const Calibration& calibration, int long_side,
                                            const ReducedShots* shared)
{
    const int count = std::max(calibration.image_count, 0);
    if (shots.size() < count || count == 0)
        return {};
    std::vector<QSize> upright_sizes;
    std::vector<ImageAlignment> alignments;
    for (int k = 0; k < count; ++k) {
        upright_sizes.push_back(read_oriented_size(shots[k]));
        if (!upright_sizes.back().isValid())
            return {};
        alignments.push_back(calibration.alignment(k));
    }
    const QRect rect = common_frame_rect(upright_sizes, alignments, count / 2);
    if (rect.isEmpty())
        return {};
    const ReducedFrameShape shape = reduced_frame_shape(rect, long_side);
    long_side = shape.long_side;

    std::vector<cv::Mat> frames(count);
    cv::parallel_for_(cv::Range(0, count), [&](const cv::Range& range) {
        for (int k = range.start; k < range.end; ++k) {
            const int step = reduction_for(upright_sizes[k], long_side);
            const ReducedPhoto shot =
                reduced_shot(shots[k], k, source_reduction(upright_sizes[k], step), shared);
            if (shot.empty())
                continue;
            // A finer copy is first averaged down to the reduction asked for, as
            // the decoder's own reduction would: a warp that skips pixels would alias.
            const QImage stored = at_reduction(renderable(shot.stored), shot.reduction, step);
            const QImageIOHandler::Transformations turn = shot.turn;
            const QSize upright = (turn & QImageIOHandler::TransformationRotate90)
                                      ? stored.size().transposed()
                                      : stored.size();
            const double factor = static_cast<double>(upright.width()) / upright_sizes[k].width();
            const ImageAlignment alignment = onto_reduced_frame(
                alignment_for_resized_input(alignments[k], factor), shape.origin, shape.reduction);
            QImage frame(shape.size, QImage::Format_RGB32);
            render_frame_into(stored, turn, alignment, QPoint(0, 0), frame);
            const cv::Mat bgra(frame.height(), frame.width(), CV_8UC4, frame.bits(),
                               static_cast<size_t>(frame.bytesPerLine()));
            cv::cvtColor(bgra, frames[k], cv::COLOR_BGRA2BGR);
        }
    });
    for (const cv::Mat& frame : frames) {
        if (frame.empty())
            return {};
    }
    return frames;
}

std::vector<ColourTable> match_shot_colours(const QStringList& shots,
                                            const Calibration& calibration, std::ostream& log,
                                            const ReducedShots* shared)
{
    const int count = std::max(calibration.image_count, 0);
    const std::vector<cv::Mat> frames = reduced_aligned_frames(shots, calibration, 0, shared);
    std::vector<ColourGains> gains(count);
    if (!frames.empty())
        gains = estimate_colour_gains(frames, count / 2);
    std::vector<ColourTable> tables;
    for (int k = 0; k < count; ++k)
        tables.push_back(colour_table(gains[k]));
    if (!frames.empty())
        log_colour_gains(gains, log);
    return tables;
}

void log_colour_gains(const std::vector<ColourGains>& gains, std::ostream& log)
{
    for (std::size_t k = 0; k < gains.size(); ++k) {
        // A line of its own, so the log's stream keeps its number format.
        std::ostringstream line;
        line << "Camera " << k + 1 << ": colour gains " << std::fixed << std::setprecision(2)
             << gains[k].bgr[2] << ' ' << gains[k].bgr[1] << ' ' << gains[k].bgr[0];
        log << line.str() << std::endl;
        // A camera far darker or brighter than its neighbours keeps part of
        // its difference: said, rather than passed off as matched.
        const auto [lowest, highest] = std::minmax_element(gains[k].bgr.begin(), gains[k].bgr.end());
        if (*lowest <= min_gain || *highest >= max_gain)
            log << "Camera " << k + 1 << ": colour gains held at their limits (0.25 to 4), its "
                << "colours only partly matched" << std::endl;
    }
}

int reduced_frame_long_side(int frame_long_side)
{
    return std::clamp(frame_long_side / 24, 128, 192);
}

ReducedFrameShape reduced_frame_shape(const QRect& frame_rect, int long_side)
{
    if (long_side <= 0)
        long_side = reduced_frame_long_side(std::max(frame_rect.width(), frame_rect.height()));
    ReducedFrameShape shape;
    shape.long_side = long_side;
    shape.origin = frame_rect.topLeft();
    shape.reduction = std::max(
        1.0, static_cast<double>(std::max(frame_rect.width(), frame_rect.height())) / long_side);
    shape.size = QSize(std::max(1, static_cast<int>(frame_rect.width() / shape.reduction)),
                       std::max(1, static_cast<int>(frame_rect.height() / shape.reduction)));
    return shape;
}

cv::Mat reduced_aligned_frame(const QImage& stored, QImageIOHandler::Transformations turn,
                              const ImageAlignment& alignment, const ReducedFrameShape& shape)
{
    // A shape made without reduced_frame_shape: the long side for the shot's.
    const int long_side = shape.long_side > 0
                              ? shape.long_side
                              : reduced_frame_long_side(std::max(stored.width(), stored.height()));
    if (stored.isNull() || !is_renderable(stored.format()))
        return {};
    cv::Mat pixels(stored.height(), stored.width(), CV_8UC4, const_cast<uchar*>(stored.constBits()),
                   static_cast<size_t>(stored.bytesPerLine()));
    int halvings = 0;
    while (std::max(pixels.cols, pixels.rows) >> (halvings + 1) >= long_side)
        ++halvings;
    pixels = sampled_block_means(pixels, 1 << halvings);
    const QImage small(pixels.data, pixels.cols, pixels.rows, static_cast<int>(pixels.step),
                       stored.format());
    const ImageAlignment reduced =
        onto_reduced_frame(alignment_for_resized_input(alignment, 1.0 / (1 << halvings)),
                           shape.origin, shape.reduction);
    QImage frame(shape.size, QImage::Format_RGB32);
    render_frame_into(small, turn, reduced, QPoint(0, 0), frame);
    if (frame.isNull())
        return {};
    const cv::Mat bgra(frame.height(), frame.width(), CV_8UC4, frame.bits(),
                       static_cast<size_t>(frame.bytesPerLine()));
    cv::Mat bgr;
    cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
    return bgr;
}

struct OutwardColourGains::State
{
    enum class CameraState
    {
        Pending,
        Done,
        GaveUp,
    };

    explicit State(int count)
        : cameras(static_cast<std::size_t>(std::max(count, 0))), links(cameras.size())
    {
    }

    struct Camera
    {
        CameraState state = CameraState::Pending;
        PreparedFrame prepared;
        ColourGains gains;
        std::array<double, 3> log_gains{0.0, 0.0, 0.0};
        // False when nothing linked it to the middle camera: it says nothing
        // about the cameras beyond it.
        bool linked = false;
    };

    std::vector<Camera> cameras;
    // Entry lo: the flows between cameras lo and lo + 1, made by the outer one.
    std::vector<NeighbourFlows> links;
    mutable std::mutex mutex;
    std::condition_variable changed;
};

OutwardColourGains::OutwardColourGains(int count) : state_(std::make_unique<State>(count)) {}

OutwardColourGains::~OutwardColourGains() = default;

std::vector<int> OutwardColourGains::outward_order(int count)
{
    std::vector<int> order;
    const int middle = count / 2;
    for (int camera = middle; camera >= 0 && camera < count; --camera)
        order.push_back(camera);
    for (int camera = middle + 1; camera < count; ++camera)
        order.push_back(camera);
    return order;
}

void OutwardColourGains::give_up(int camera)
{
    {
        const std::lock_guard<std::mutex> lock(state_->mutex);
        state_->cameras.at(camera).state = State::CameraState::GaveUp;
    }
    state_->changed.notify_all();
}

std::optional<ColourGains> OutwardColourGains::estimate(int camera, const cv::Mat& frame)
{
    State& state = *state_;
    if (frame.empty()) {
        give_up(camera);
        return std::nullopt;
    }
    const int count = static_cast<int>(state.cameras.size());
    const int middle = count / 2;
    PreparedFrame prepared = prepare(frame);
    // Towards the middle: `inner` next to this camera, `next` beyond it (or none).
    const int side = camera > middle ? 1 : -1;
    const int inner = camera - side;
    const int next = camera - 2 * side;
    const bool has_next = camera != middle && (next - middle) * side >= 0;

    ColourGains gains;
    std::array<double, 3> log_gains{0.0, 0.0, 0.0};
    bool linked = camera == middle;
    if (camera != middle) {
        // The inner camera came earlier in outward order, so a worker took it
        // before this one, and it waits in turn only for cameras earlier still:
        // the earliest camera still in hand never waits, and no wait can close
        // into a circle. Its own wait covers the next camera's.
        std::unique_lock<std::mutex> lock(state.mutex);
        state.changed.wait(
            lock, [&] { return state.cameras[inner].state != State::CameraState::Pending; });
        if (state.cameras[inner].state == State::CameraState::GaveUp) {
            state.cameras[camera].state = State::CameraState::GaveUp;
            lock.unlock();
            state.changed.notify_all();
            return std::nullopt;
        }
    }
    // What the earlier cameras published is no longer written to: read it unlocked.
    std::vector<PairRatio> pairs;
    if (camera != middle) {
        const State::Camera& near = state.cameras[inner];
        const int lo = std::min(camera, inner);
        NeighbourFlows flows = camera > inner ? neighbour_flows(near.prepared, prepared)
                                              : neighbour_flows(prepared, near.prepared);
        const FlowPath forward{&flows.forward, nullptr};
        const FlowPath backward{&flows.backward, nullptr};
        pairs.push_back(camera > inner
                            ? compare(near.prepared, prepared, forward, backward, inner, camera)
                            : compare(prepared, near.prepared, forward, backward, camera, inner));
        if (has_next) {
            const State::Camera& far = state.cameras[next];
            if (camera > inner) {
                const NeighbourFlows& first = state.links[next];
                pairs.push_back(compare(far.prepared, prepared, {&first.forward, &flows.forward},
                                        {&flows.backward, &first.backward}, next, camera));
            } else {
                const NeighbourFlows& then = state.links[inner];
                pairs.push_back(compare(prepared, far.prepared, {&flows.forward, &then.forward},
                                        {&then.backward, &flows.backward}, camera, next));
            }
        }
        // One unknown against fixed gains: the weighted least squares is the
        // weighted mean of what each pair says. A pair (from, to) says log
        // gain from - log gain to = log(to / from).
        double weights = 0.0;
        std::array<double, 3> sum{0.0, 0.0, 0.0};
        for (const PairRatio& pair : pairs) {
            const int other = pair.from == camera ? pair.to : pair.from;
            if (pair.pixels == 0 || !state.cameras[other].linked)
                continue;
            const double weight = pair_weight(pair) * pair_weight(pair);
            for (int c = 0; c < 3; ++c) {
                const double said = pair.from == camera
                                        ? state.cameras[other].log_gains[c] + pair.log_ratio[c]
                                        : state.cameras[other].log_gains[c] - pair.log_ratio[c];
                sum[c] += weight * said;
            }
            weights += weight;
        }
        if (weights > 0.0) {
            linked = true;
            for (int c = 0; c < 3; ++c) {
                gains.bgr[c] = std::clamp(std::exp(sum[c] / weights), min_gain, max_gain);
                // The next cameras build on the gains applied, clamped or not.
                log_gains[c] = std::log(gains.bgr[c]);
            }
        }
        state.links[lo] = std::move(flows);
    }
    {
        const std::lock_guard<std::mutex> lock(state.mutex);
        State::Camera& own = state.cameras[camera];
        own.prepared = std::move(prepared);
        own.gains = gains;
        own.log_gains = log_gains;
        own.linked = linked;
        own.state = State::CameraState::Done;
    }
    state.changed.notify_all();
    return gains;
}

std::vector<ColourGains> OutwardColourGains::gains() const
{
    const std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<ColourGains> all;
    for (const State::Camera& camera : state_->cameras) {
        if (camera.state != State::CameraState::Done)
            return {};
        all.push_back(camera.gains);
    }
    return all;
}

std::vector<ColourGains> estimate_colour_gains_outward(const std::vector<cv::Mat>& frames)
{
    const int count = static_cast<int>(frames.size());
    OutwardColourGains outward(count);
    for (const int camera : OutwardColourGains::outward_order(count))
        outward.estimate(camera, frames[camera]);
    return outward.gains();
}
