#pragma once

#include <QImage>

#include <array>

// A camera's colour correction as it reaches the frames: one gain per channel
// in linear light (the sRGB curve undone, multiplied, redone), turned into a
// look-up table on 8-bit values and applied while each frame is written.

// One camera's gains in linear light, blue, green, red.
struct ColourGains
{
    std::array<double, 3> bgr{1.0, 1.0, 1.0};

    bool identity() const { return bgr[0] == 1.0 && bgr[1] == 1.0 && bgr[2] == 1.0; }
};

// The sRGB curve undone and redone, on values from 0 to 1.
double srgb_to_linear(double v);
double linear_to_srgb(double v);

// One channel's table again as straight lines, which a processor applies to
// 32 values at a time without byte permutes: over each sixteen values from 32
// on, (base + slope * (value % 16)) / 256 rounded down, base and slope in
// 1/256 and the sum saturating, so that a line may run past 255 where the
// table clips; the first 32 values as they are. `fit` is false when no line
// gives some sixteen values exactly as the table does.
struct ColourLines
{
    std::array<uchar, 16> base_low{}, base_high{}, slope_low{}, slope_high{};
    std::array<uchar, 16> first{}, second{}; // values 0-15 and 16-31
    bool fit = false;
};

// The gains as a look-up table on 8-bit sRGB values, one per channel (blue,
// green, red); an identity table for identity gains, so such frames keep their bytes.
struct ColourTable
{
    std::array<std::array<uchar, 256>, 3> bgr;
    std::array<ColourLines, 3> lines; // the same tables, each as lines
    bool identity = true;
};
ColourTable colour_table(const ColourGains& gains);

// Applies `table` to the colour bytes of `frame` (RGB32 or ARGB32_Premultiplied).
void apply_colour_table(const ColourTable& table, QImage& frame);

// `frame` (RGB32 or ARGB32_Premultiplied) through `table` into `converted`
// (RGB888, the frame's size), the alpha byte dropped. The JPEG writer turns
// every 32-bit frame into such 3-byte rows itself and takes RGB888 rows as they
// are: the table applied in that conversion costs little more than the
// conversion the writer would have made anyway.
// `lookup`: how the values are looked up, the fastest way the processor offers
// unless one is named (a way not available here falls back to the scalar loop).
enum class TableLookup
{
    Fastest,
    Scalar,       // a byte at a time
    Lines,        // 32 pixels at a time along the table's lines (AVX2)
    BytePermutes, // 16 pixels at a time in AVX-512's byte permutes
};
void convert_through_colour_table(const ColourTable& table, const QImage& frame, QImage& converted,
                                  TableLookup lookup = TableLookup::Fastest);

// Whether this processor can look `table` up in the way `lookup`.
bool table_lookup_available(TableLookup lookup, const ColourTable& table);
