#pragma once

// Inclusive bounds on the 8-bit blue, green and red channels of a photo, as
// read (no colour-space conversion). Lower bounds first, in channel order.
struct ColorThresholds
{
    int lower_blue = 0;
    int lower_green = 0;
    int lower_red = 0;
    int upper_blue = 0;
    int upper_green = 0;
    int upper_red = 0;

    friend bool operator==(const ColorThresholds& a, const ColorThresholds& b)
    {
        return a.lower_blue == b.lower_blue && a.lower_green == b.lower_green &&
               a.lower_red == b.lower_red && a.upper_blue == b.upper_blue &&
               a.upper_green == b.upper_green && a.upper_red == b.upper_red;
    }
    friend bool operator!=(const ColorThresholds& a, const ColorThresholds& b) { return !(a == b); }
};

enum class StickerColor
{
    Yellow,
    Pink
};

// The preset the photographer picks with the "Jaune" / "Rose" buttons.
constexpr ColorThresholds thresholds_for(StickerColor color)
{
    return color == StickerColor::Yellow ? ColorThresholds{20, 150, 150, 70, 255, 255}
                                         : ColorThresholds{0, 0, 184, 165, 100, 255};
}

// True when a pixel of these channel values lies inside the bounds.
constexpr bool contains(const ColorThresholds& thresholds, int blue, int green, int red)
{
    return blue >= thresholds.lower_blue && blue <= thresholds.upper_blue &&
           green >= thresholds.lower_green && green <= thresholds.upper_green &&
           red >= thresholds.lower_red && red <= thresholds.upper_red;
}
