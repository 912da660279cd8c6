#include "output/colour_table.h"

#include "support/processor_features.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

double srgb_to_linear(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double linear_to_srgb(double v)
{
    return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

namespace {

// The line (base, slope, both in 1/256) that gives `values` (sixteen of them)
// exactly: value f is (base + slope * f) / 256 rounded down, a 255 any sum
// from 255 up. Slopes are tried outwards from the chord's up to the first 255
// (where the table clips, the line keeps rising): a line that fits runs close to it.
std::optional<std::pair<int, int>> line_through(const uchar* values)
{
    int last = 15;
    while (last > 1 && values[last - 1] == 255)
        --last;
    const int chord = (values[last] - values[0]) * 256 / last;
    // The chord's slope, then one above, one below, two above, ... 128 either side.
    for (int tried = 0; tried <= 256; ++tried) {
        const int slope = tried % 2 ? chord + (tried + 1) / 2 : chord - tried / 2;
        if (slope < 0 || slope > 4095)
            continue;
        int lowest = 0;
        int highest = 1 << 30;
        for (int f = 0; f < 16; ++f) {
            lowest = std::max(lowest, values[f] * 256 - slope * f);
            if (values[f] < 255)
                highest = std::min(highest, (values[f] + 1) * 256 - 1 - slope * f);
        }
        if (lowest <= highest)
            return std::make_pair(lowest, slope);
    }
    return std::nullopt;
}

ColourLines lines_of(const std::array<uchar, 256>& table)
{
    ColourLines lines;
    // Below 32 the sRGB curve turns from its straight start to its power, too
    // sharply for one line over sixteen values.
    std::copy_n(table.begin(), 16, lines.first.begin());
    std::copy_n(table.begin() + 16, 16, lines.second.begin());
    for (int part = 2; part < 16; ++part) {
        const std::optional<std::pair<int, int>> line = line_through(table.data() + 16 * part);
        if (!line)
            return lines;
        lines.base_low[part] = static_cast<uchar>(line->first & 0xff);
        lines.base_high[part] = static_cast<uchar>(line->first >> 8);
        lines.slope_low[part] = static_cast<uchar>(line->second & 0xff);
        lines.slope_high[part] = static_cast<uchar>(line->second >> 8);
    }
    lines.fit = true;
    return lines;
}

} // namespace

ColourTable colour_table(const ColourGains& gains)
{
    ColourTable table;
    table.identity = gains.identity();
    for (int c = 0; c < 3; ++c) {
        for (int v = 0; v < 256; ++v) {
            if (gains.bgr[c] == 1.0) {
                table.bgr[c][v] = static_cast<uchar>(v);
                continue;
            }
            const double linear = std::min(1.0, srgb_to_linear(v / 255.0) * gains.bgr[c]);
            table.bgr[c][v] = cv::saturate_cast<uchar>(std::lround(linear_to_srgb(linear) * 255.0));
        }
        table.lines[c] = lines_of(table.bgr[c]);
    }
    return table;
}

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "32-bit pixels are read as blue, green, red bytes");

void apply_colour_table(const ColourTable& table, QImage& frame)
{
    if (table.identity)
        return;
    Q_ASSERT(frame.format() == QImage::Format_RGB32 ||
             frame.format() == QImage::Format_ARGB32_Premultiplied);
    const uchar* blue = table.bgr[0].data();
    const uchar* green = table.bgr[1].data();
    const uchar* red = table.bgr[2].data();
    const int width = frame.width();
    for (int y = 0; y < frame.height(); ++y) {
        // A whole pixel read and written at once: byte by byte, each write may
        // alias the tables and the compiler orders every access after it.
        quint32* line = reinterpret_cast<quint32*>(frame.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const quint32 pixel = line[x];
            line[x] = (pixel & 0xff000000u) | quint32(red[(pixel >> 16) & 0xff]) << 16 |
                      quint32(green[(pixel >> 8) & 0xff]) << 8 | blue[pixel & 0xff];
        }
    }
}

namespace {

// One row of 32-bit pixels (blue, green, red, alpha bytes) through the tables
// into red, green, blue bytes. Restricted pointers: without them every write
// may alias the tables and the compiler orders each read after it, which
// halves the speed. Bytes read one by one and written as whole words cost the
// fewest instructions: as few as the writer's own conversion without a table.
void convert_row(const uchar* __restrict pixel, uchar* __restrict out, int width,
                 const ColourTable& table)
{
    const uchar* __restrict blue = table.bgr[0].data();
    const uchar* __restrict green = table.bgr[1].data();
    const uchar* __restrict red = table.bgr[2].data();
    int x = 0;
    // Four pixels go out as three words.
    for (; x + 4 <= width; x += 4, pixel += 16, out += 12) {
        const quint32 w0 = quint32(red[pixel[2]]) | quint32(green[pixel[1]]) << 8 |
                           quint32(blue[pixel[0]]) << 16 | quint32(red[pixel[6]]) << 24;
        const quint32 w1 = quint32(green[pixel[5]]) | quint32(blue[pixel[4]]) << 8 |
                           quint32(red[pixel[10]]) << 16 | quint32(green[pixel[9]]) << 24;
        const quint32 w2 = quint32(blue[pixel[8]]) | quint32(red[pixel[14]]) << 8 |
                           quint32(green[pixel[13]]) << 16 | quint32(blue[pixel[12]]) << 24;
        std::memcpy(out, &w0, 4);
        std::memcpy(out + 4, &w1, 4);
        std::memcpy(out + 8, &w2, 4);
    }
    for (; x < width; ++x, pixel += 4, out += 3) {
        out[0] = red[pixel[2]];
        out[1] = green[pixel[1]];
        out[2] = blue[pixel[0]];
    }
}

#if defined(__x86_64__)
#define QUORVANE_TABLE_SIMD 1

// Every byte of `bytes` through the 256-byte table in `quarters` (its four
// 64-byte quarters): two permutes, one per half of the table, the index's top
// bit choosing between them (`upper`).
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512i
looked_up(__m512i bytes, __mmask64 upper, const __m512i (&quarters)[4])
{
    return _mm512_mask_blend_epi8(upper, _mm512_permutex2var_epi8(quarters[0], bytes, quarters[1]),
                                  _mm512_permutex2var_epi8(quarters[2], bytes, quarters[3]));
}

// convert_row sixteen pixels at a time, where the processor has AVX-512's byte
// permutes: a table lookup then costs about a fifth of the scalar loop's, which
// otherwise takes a twentieth of a colour-matched frame's time.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void
convert_row_vbmi(const uchar* pixel, uchar* out, int width, const ColourTable& table)
{
    __m512i blues[4], greens[4], reds[4];
    for (int q = 0; q < 4; ++q) {
        blues[q] = _mm512_loadu_si512(table.bgr[0].data() + 64 * q);
        greens[q] = _mm512_loadu_si512(table.bgr[1].data() + 64 * q);
        reds[q] = _mm512_loadu_si512(table.bgr[2].data() + 64 * q);
    }
    // Bytes 1, 5, 9 ... are green, 2, 6, 10 ... red; the rest take the blue table.
    const __mmask64 green_bytes = 0x2222222222222222ULL;
    const __mmask64 red_bytes = 0x4444444444444444ULL;
    // Output byte 3i + c is red, green, blue of pixel i: input byte 4i + 2 - c.
    alignas(64) uchar order[64] = {};
    for (int j = 0; j < 48; ++j)
        order[j] = static_cast<uchar>(4 * (j / 3) + 2 - j % 3);
    const __m512i packing = _mm512_load_si512(order);
    int x = 0;
    for (; x + 16 <= width; x += 16, pixel += 64, out += 48) {
        const __m512i bytes = _mm512_loadu_si512(pixel);
        const __mmask64 upper = _mm512_movepi8_mask(bytes);
        __m512i mapped = looked_up(bytes, upper, blues);
        mapped = _mm512_mask_mov_epi8(mapped, green_bytes, looked_up(bytes, upper, greens));
        mapped = _mm512_mask_mov_epi8(mapped, red_bytes, looked_up(bytes, upper, reds));
        const __mmask64 three_of_four = 0x0000ffffffffffffULL;
        _mm512_mask_storeu_epi8(out, three_of_four,
                                _mm512_maskz_permutexvar_epi8(three_of_four, packing, mapped));
    }
    convert_row(pixel, out, width - x, table);
}

// One channel's lines (ColourLines) in registers, each 16-byte part in both halves.
struct LinesInRegisters
{
    __m256i base_low, base_high, slope_low, slope_high, first, second;
};

__attribute__((target("avx2"))) inline __m256i both_halves(const std::array<uchar, 16>& part)
{
    return _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(part.data())));
}

__attribute__((target("avx2"))) inline LinesInRegisters in_registers(const ColourLines& lines)
{
    return {both_halves(lines.base_low),  both_halves(lines.base_high),
            both_halves(lines.slope_low), both_halves(lines.slope_high),
            both_halves(lines.first),     both_halves(lines.second)};
}

// 32 values of one channel through its lines: each value's sixteen (value / 16)
// picks base and slope by a byte shuffle, the line is worked out in 16 bits,
// and values below 32 are looked up in the two parts kept as they are.
__attribute__((target("avx2"))) inline __m256i along_lines(__m256i values,
                                                           const LinesInRegisters& lines)
{
    const __m256i fifteen = _mm256_set1_epi8(15);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i part = _mm256_and_si256(_mm256_srli_epi16(values, 4), fifteen);
    const __m256i within = _mm256_and_si256(values, fifteen);
    const __m256i base_low = _mm256_shuffle_epi8(lines.base_low, part);
    const __m256i base_high = _mm256_shuffle_epi8(lines.base_high, part);
    const __m256i slope_low = _mm256_shuffle_epi8(lines.slope_low, part);
    const __m256i slope_high = _mm256_shuffle_epi8(lines.slope_high, part);
    const __m256i low_half = _mm256_srli_epi16(
        _mm256_adds_epu16(_mm256_unpacklo_epi8(base_low, base_high),
                          _mm256_mullo_epi16(_mm256_unpacklo_epi8(slope_low, slope_high),
                                             _mm256_unpacklo_epi8(within, zero))),
        8);
    const __m256i high_half = _mm256_srli_epi16(
        _mm256_adds_epu16(_mm256_unpackhi_epi8(base_low, base_high),
                          _mm256_mullo_epi16(_mm256_unpackhi_epi8(slope_low, slope_high),
                                             _mm256_unpackhi_epi8(within, zero))),
        8);
    const __m256i on_lines = _mm256_packus_epi16(low_half, high_half);
    const __m256i one = _mm256_set1_epi8(1);
    const __m256i below_32 =
        _mm256_blendv_epi8(_mm256_shuffle_epi8(lines.first, within),
                           _mm256_shuffle_epi8(lines.second, within), _mm256_cmpeq_epi8(part, one));
    const __m256i is_below_32 = _mm256_cmpeq_epi8(_mm256_min_epu8(part, one), part);
    return _mm256_blendv_epi8(on_lines, below_32, is_below_32);
}

// convert_row 32 pixels at a time along the tables' lines, where AVX2 is all
// there is: a byte shuffle looks up only sixteen values, and the scalar loop
// costs a twelfth of a frame's time. The pixels are taken apart into 32 blue,
// 32 green and 32 red bytes, and put back together as 3-byte pixels.
__attribute__((target("avx2"))) void convert_row_lines(const uchar* pixel, uchar* out, int width,
                                                       const ColourTable& table)
{
    const LinesInRegisters blue = in_registers(table.lines[0]);
    const LinesInRegisters green = in_registers(table.lines[1]);
    const LinesInRegisters red = in_registers(table.lines[2]);
    // Within each 16-byte half: four blue bytes, four green, four red, four alpha.
    const __m256i by_channel =
        _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4, 8, 12, 1, 5, 9,
                         13, 2, 6, 10, 14, 3, 7, 11, 15);
    // Four blue, four green, four red bytes back into four red, green, blue pixels.
    const __m256i by_pixel = _mm256_setr_epi8(8, 4, 0, 9, 5, 1, 10, 6, 2, 11, 7, 3, -1, -1, -1, -1,
                                              8, 4, 0, 9, 5, 1, 10, 6, 2, 11, 7, 3, -1, -1, -1, -1);
    int x = 0;
    // Each half goes out as 16 bytes of which the last 4 the next one
    // overwrites: two pixels beyond the group keep the last one in the row.
    for (; x + 34 <= width; x += 32, pixel += 128, out += 96) {
        __m256i quarter[4];
        for (int q = 0; q < 4; ++q)
            quarter[q] = _mm256_shuffle_epi8(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixel + 32 * q)), by_channel);
        const __m256i first_low = _mm256_unpacklo_epi32(quarter[0], quarter[1]);
        const __m256i first_high = _mm256_unpackhi_epi32(quarter[0], quarter[1]);
        const __m256i last_low = _mm256_unpacklo_epi32(quarter[2], quarter[3]);
        const __m256i last_high = _mm256_unpackhi_epi32(quarter[2], quarter[3]);
        const __m256i blues = along_lines(_mm256_unpacklo_epi64(first_low, last_low), blue);
        const __m256i greens = along_lines(_mm256_unpackhi_epi64(first_low, last_low), green);
        const __m256i reds = along_lines(_mm256_unpacklo_epi64(first_high, last_high), red);
        const __m256i blue_green_low = _mm256_unpacklo_epi32(blues, greens);
        const __m256i blue_green_high = _mm256_unpackhi_epi32(blues, greens);
        const __m256i red_low = _mm256_unpacklo_epi32(reds, reds);
        const __m256i red_high = _mm256_unpackhi_epi32(reds, reds);
        quarter[0] = _mm256_unpacklo_epi64(blue_green_low, red_low);
        quarter[1] = _mm256_unpackhi_epi64(blue_green_low, red_low);
        quarter[2] = _mm256_unpacklo_epi64(blue_green_high, red_high);
        quarter[3] = _mm256_unpackhi_epi64(blue_green_high, red_high);
        for (int q = 0; q < 4; ++q) {
            const __m256i pixels = _mm256_shuffle_epi8(quarter[q], by_pixel);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24 * q),
                             _mm256_castsi256_si128(pixels));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24 * q + 12),
                             _mm256_extracti128_si256(pixels, 1));
        }
    }
    convert_row(pixel, out, width - x, table);
}
#endif

} // namespace

bool table_lookup_available(TableLookup lookup, const ColourTable& table)
{
    switch (lookup) {
    case TableLookup::Fastest:
    case TableLookup::Scalar:
        return true;
#ifdef QUORVANE_TABLE_SIMD
    case TableLookup::Lines:
        return has_avx2() && table.lines[0].fit && table.lines[1].fit && table.lines[2].fit;
    case TableLookup::BytePermutes:
        return has_byte_permutes();
#else
    case TableLookup::Lines:
    case TableLookup::BytePermutes:
        return false;
#endif
    }
    return false;
}

void convert_through_colour_table(const ColourTable& table, const QImage& frame, QImage& converted,
                                  TableLookup lookup)
{
    Q_ASSERT(frame.format() == QImage::Format_RGB32 ||
             frame.format() == QImage::Format_ARGB32_Premultiplied);
    Q_ASSERT(converted.format() == QImage::Format_RGB888 && converted.size() == frame.size());
    if (lookup == TableLookup::Fastest) {
        lookup = table_lookup_available(TableLookup::BytePermutes, table)
                     ? TableLookup::BytePermutes
                 : table_lookup_available(TableLookup::Lines, table) ? TableLookup::Lines
                                                                     : TableLookup::Scalar;
    } else if (!table_lookup_available(lookup, table)) {
        lookup = TableLookup::Scalar;
    }
    auto convert = convert_row;
#ifdef QUORVANE_TABLE_SIMD
    if (lookup == TableLookup::BytePermutes)
        convert = convert_row_vbmi;
    else if (lookup == TableLookup::Lines)
        convert = convert_row_lines;
#endif
    uchar* const bytes = converted.bits();
    for (int y = 0; y < frame.height(); ++y)
        convert(frame.constScanLine(y), bytes + std::ptrdiff_t(y) * converted.bytesPerLine(),
                frame.width(), table);
}
