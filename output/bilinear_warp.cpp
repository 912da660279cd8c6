#include "output/bilinear_warp.h"

#include "support/processor_features.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define QUORVANE_WARP_AVX2 1
#endif

namespace {

void warp_with_opencv(const cv::Mat& source, const cv::Matx23d& target_to_source, cv::Mat& target)
{
    cv::warpAffine(source, target, target_to_source, target.size(),
                   cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
}

#ifdef QUORVANE_WARP_AVX2

// Weights in 1/64 pixel: a byte holds 64, so the vertical step fits one
// multiply-add of bytes, and 16-bit sums keep every bit of it.
constexpr int weight_bits = 6;
constexpr int weight_one = 1 << weight_bits;
constexpr int product_bits = 2 * weight_bits;

// Target columns warped row after row before the next ones: their source
// pixels stay in the cache from one row to the next even when the shot is
// turned a quarter, where a whole row would read a column of the shot.
constexpr int tile_columns = 256;
// Bytes ahead along the source rows fetched before they are needed.
constexpr int prefetch_distance = 128;

// Positions are 16.16 fixed point within a group of 8 pixels, so the warp is
// taken only where every source position lies well inside that range.
constexpr double position_limit = 16384.0;

// One pixel by the same arithmetic as the vector loop, border pixels repeated:
// the pixels at the picture's edges come out as they would inside it.
uint32_t sample_clamped(const cv::Mat& source, int x16, int y16)
{
    const int ix = x16 >> 16;
    const int iy = y16 >> 16;
    const int wx = (x16 >> (16 - weight_bits)) & (weight_one - 1);
    const int wy = (y16 >> (16 - weight_bits)) & (weight_one - 1);
    const int x0 = std::clamp(ix, 0, source.cols - 1);
    const int x1 = std::clamp(ix + 1, 0, source.cols - 1);
    const uchar* top = source.ptr(std::clamp(iy, 0, source.rows - 1));
    const uchar* bottom = source.ptr(std::clamp(iy + 1, 0, source.rows - 1));
    uchar pixel[4];
    for (int c = 0; c < 4; ++c) {
        const int left = top[x0 * 4 + c] * (weight_one - wy) + bottom[x0 * 4 + c] * wy;
        const int right = top[x1 * 4 + c] * (weight_one - wy) + bottom[x1 * 4 + c] * wy;
        pixel[c] = static_cast<uchar>(
            (left * (weight_one - wx) + right * wx + (1 << (product_bits - 1))) >> product_bits);
    }
    uint32_t value;
    std::memcpy(&value, pixel, sizeof value);
    return value;
}

// Two pixels' four neighbours, top and bottom bytes interleaved, to one
// 32-bit value per channel scaled by 2^product_bits and rounded down to bytes'
// range: the vertical step multiplies byte pairs by (64 - wy, wy), the
// horizontal one 16-bit pairs (left, right) by (64 - wx, wx).
__attribute__((target("avx2"))) inline __m256i two_pixels(__m256i top_and_bottom,
                                                          __m256i vertical_weights,
                                                          __m256i horizontal_weights, __m256i which)
{
    const __m256i left_right_pairs =
        _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1, 8, 9, 2, 3, 10,
                         11, 4, 5, 12, 13, 6, 7, 14, 15);
    const __m256i vertical =
        _mm256_maddubs_epi16(top_and_bottom, _mm256_permutevar8x32_epi32(vertical_weights, which));
    const __m256i both = _mm256_madd_epi16(_mm256_shuffle_epi8(vertical, left_right_pairs),
                                           _mm256_permutevar8x32_epi32(horizontal_weights, which));
    return _mm256_srli_epi32(_mm256_add_epi32(both, _mm256_set1_epi32(1 << (product_bits - 1))),
                             product_bits);
}

// Eight neighbouring target pixels at a time, tile by tile: their positions
// from one 32.32 fixed-point position per group (exact over any width), their
// four neighbours fetched by gathers of two pixels each from two rows.
__attribute__((target("avx2"))) void warp_avx2(const cv::Mat& source, const cv::Matx23d& map,
                                               cv::Mat& target)
{
    const int last_x = source.cols - 2; // the last left neighbour inside the picture
    const int last_y = source.rows - 2;
    const auto* top_row = reinterpret_cast<const long long*>(source.data);
    const auto* bottom_row = reinterpret_cast<const long long*>(source.data + source.step);
    const double fixed = 4294967296.0;
    // Half a weight step, so that positions round to the nearest 1/64 pixel.
    const long long rounding = 1LL << (31 - weight_bits);
    const long long step_x = std::llround(map(0, 0) * fixed);
    const long long step_y = std::llround(map(1, 0) * fixed);
    const int lane_step_x = static_cast<int>(step_x >> 16);
    const int lane_step_y = static_cast<int>(step_y >> 16);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i lane_x = _mm256_mullo_epi32(lanes, _mm256_set1_epi32(lane_step_x));
    const __m256i lane_y = _mm256_mullo_epi32(lanes, _mm256_set1_epi32(lane_step_y));
    const __m256i row_bytes = _mm256_set1_epi32(static_cast<int>(source.step));
    const __m256i weight_mask = _mm256_set1_epi32(weight_one - 1);
    const __m256i one = _mm256_set1_epi32(weight_one);
    // The gathers give pixels 0 1 | 2 3 in the two halves of a register; the
    // unpacking of bytes then pairs 0 with 2 and 1 with 3.
    const __m256i pixels_0_2 = _mm256_setr_epi32(0, 0, 0, 0, 2, 2, 2, 2);
    const __m256i pixels_1_3 = _mm256_setr_epi32(1, 1, 1, 1, 3, 3, 3, 3);
    const __m256i pixels_4_6 = _mm256_setr_epi32(4, 4, 4, 4, 6, 6, 6, 6);
    const __m256i pixels_5_7 = _mm256_setr_epi32(5, 5, 5, 5, 7, 7, 7, 7);
    const __m256i in_order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
    const auto source_address = reinterpret_cast<std::uintptr_t>(source.data);
    for (int tile = 0; tile < target.cols; tile += tile_columns) {
        const int tile_end = std::min(target.cols, tile + tile_columns);
        for (int y = 0; y < target.rows; ++y) {
            auto* out = target.ptr<uint32_t>(y);
            long long x32 =
                std::llround((map(0, 1) * y + map(0, 2)) * fixed) + rounding + tile * step_x;
            long long y32 =
                std::llround((map(1, 1) * y + map(1, 2)) * fixed) + rounding + tile * step_y;
            for (int x = tile; x < tile_end; x += 8, x32 += 8 * step_x, y32 += 8 * step_y) {
                const int x16 = static_cast<int>(x32 >> 16);
                const int y16 = static_cast<int>(y32 >> 16);
                const int count = std::min(8, tile_end - x);
                // Positions are linear along the group: its ends bound it.
                const int first_x = x16 >> 16, end_x = (x16 + 7 * lane_step_x) >> 16;
                const int first_y = y16 >> 16, end_y = (y16 + 7 * lane_step_y) >> 16;
                if (count < 8 || std::min(first_x, end_x) < 0 ||
                    std::max(first_x, end_x) > last_x || std::min(first_y, end_y) < 0 ||
                    std::max(first_y, end_y) > last_y) {
                    for (int lane = 0; lane < count; ++lane)
                        out[x + lane] = sample_clamped(source, x16 + lane * lane_step_x,
                                                       y16 + lane * lane_step_y);
                    continue;
                }
                // The source pixels just right of these, in both rows: on a shot
                // turned even a few degrees each target row reads a few pixels of
                // each source row and the next target row the few after them, which
                // the processor's own prefetching does not follow; waiting on
                // memory then doubles the warp's time.
                const std::uintptr_t next = source_address + std::uintptr_t(first_y) * source.step +
                                            std::uintptr_t(first_x) * 4 + prefetch_distance;
                _mm_prefetch(reinterpret_cast<const char*>(next), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(next + source.step), _MM_HINT_T0);
                const __m256i xs = _mm256_add_epi32(_mm256_set1_epi32(x16), lane_x);
                const __m256i ys = _mm256_add_epi32(_mm256_set1_epi32(y16), lane_y);
                const __m256i wx =
                    _mm256_and_si256(_mm256_srli_epi32(xs, 16 - weight_bits), weight_mask);
                const __m256i wy =
                    _mm256_and_si256(_mm256_srli_epi32(ys, 16 - weight_bits), weight_mask);
                // Byte pairs (64 - wy, wy) in both halves of each lane; 16-bit pairs (64 - wx, wx).
                const __m256i vertical_weights = _mm256_mullo_epi32(
                    _mm256_or_si256(_mm256_slli_epi32(wy, 8), _mm256_sub_epi32(one, wy)),
                    _mm256_set1_epi32(0x00010001));
                const __m256i horizontal_weights =
                    _mm256_or_si256(_mm256_slli_epi32(wx, 16), _mm256_sub_epi32(one, wx));
                const __m256i offsets =
                    _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srai_epi32(ys, 16), row_bytes),
                                     _mm256_slli_epi32(_mm256_srai_epi32(xs, 16), 2));
                const __m128i first_four = _mm256_castsi256_si128(offsets);
                const __m128i last_four = _mm256_extracti128_si256(offsets, 1);
                const __m256i top_0_3 = _mm256_i32gather_epi64(top_row, first_four, 1);
                const __m256i bottom_0_3 = _mm256_i32gather_epi64(bottom_row, first_four, 1);
                const __m256i top_4_7 = _mm256_i32gather_epi64(top_row, last_four, 1);
                const __m256i bottom_4_7 = _mm256_i32gather_epi64(bottom_row, last_four, 1);
                const __m256i p02 = two_pixels(_mm256_unpacklo_epi8(top_0_3, bottom_0_3),
                                               vertical_weights, horizontal_weights, pixels_0_2);
                const __m256i p13 = two_pixels(_mm256_unpackhi_epi8(top_0_3, bottom_0_3),
                                               vertical_weights, horizontal_weights, pixels_1_3);
                const __m256i p46 = two_pixels(_mm256_unpacklo_epi8(top_4_7, bottom_4_7),
                                               vertical_weights, horizontal_weights, pixels_4_6);
                const __m256i p57 = two_pixels(_mm256_unpackhi_epi8(top_4_7, bottom_4_7),
                                               vertical_weights, horizontal_weights, pixels_5_7);
                // Bytes come out as pixels 0 1 4 5 | 2 3 6 7.
                const __m256i bytes =
                    _mm256_packus_epi16(_mm256_packs_epi32(p02, p13), _mm256_packs_epi32(p46, p57));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                                    _mm256_permutevar8x32_epi32(bytes, in_order));
            }
        }
    }
}

// The vector loop's positions and byte offsets are 32-bit.
bool fits_vector_warp(const cv::Mat& source, const cv::Matx23d& map, cv::Size target)
{
    if (source.cols >= position_limit || source.rows >= position_limit || source.cols < 2 ||
        source.rows < 2)
        return false;
    for (const double x : {0.0, target.width - 1.0}) {
        for (const double y : {0.0, target.height - 1.0}) {
            const double sx = map(0, 0) * x + map(0, 1) * y + map(0, 2);
            const double sy = map(1, 0) * x + map(1, 1) * y + map(1, 2);
            if (!(std::abs(sx) < position_limit && std::abs(sy) < position_limit))
                return false;
        }
    }
    // The gathers' offsets from the first row, and 8 pixels' steps within 16.16.
    return std::abs(map(0, 0)) < 256 && std::abs(map(1, 0)) < 256 &&
           static_cast<double>(source.step) * source.rows < 2147483647.0;
}

#endif

} // namespace

void warp_bilinear(const cv::Mat& source, const cv::Matx23d& target_to_source, cv::Mat& target)
{
    CV_Assert(source.type() == CV_8UC4 && target.type() == CV_8UC4);
#ifdef QUORVANE_WARP_AVX2
    if (has_avx2() && fits_vector_warp(source, target_to_source, target.size())) {
        warp_avx2(source, target_to_source, target);
        return;
    }
#endif
    warp_with_opencv(source, target_to_source, target);
}
