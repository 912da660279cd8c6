#pragma once

#include "detection/color_thresholds.h"

#include <opencv2/core.hpp>

#include <QString>

#include <optional>

// A sticker colour as hue and chroma, apart from lightness: the same sticker
// keeps them in a darker or brighter camera, so one colour serves every camera
// of a rig. Chroma is relative to the pixel's brightness (the HSV saturation),
// which an exposure change leaves alone.
struct LearnedColour
{
    double hue = 0.0;    // degrees, [0, 360)
    double chroma = 0.0; // percent, (0, 100]
    // A pixel matches within these on either side.
    double hue_tolerance = 14.0;    // degrees
    double chroma_tolerance = 30.0; // percent

    friend bool operator==(const LearnedColour& a, const LearnedColour& b)
    {
        return a.hue == b.hue && a.chroma == b.chroma && a.hue_tolerance == b.hue_tolerance &&
               a.chroma_tolerance == b.chroma_tolerance;
    }
    friend bool operator!=(const LearnedColour& a, const LearnedColour& b) { return !(a == b); }
};

// Below this chroma a colour is grey, white or black, not a sticker's.
constexpr double least_sticker_chroma = 25.0;
// Pixels darker than this (of 255) carry too little colour to be judged.
constexpr int least_sticker_brightness = 24;

// What masks a photo: a learned colour when there is one, else the preset's
// fixed channel bounds (the detection as it has always been).
struct StickerMatch
{
    ColorThresholds thresholds;
    std::optional<LearnedColour> learned;

    StickerMatch(const ColorThresholds& thresholds) : thresholds(thresholds) {}
    StickerMatch(const LearnedColour& colour) : learned(colour) {}
};

// Hue (degrees) and chroma (percent) of one 8-bit pixel; chroma 0 for black.
void hue_and_chroma(int blue, int green, int red, double& hue, double& chroma);

// True when the pixel has the colour, at any brightness from
// least_sticker_brightness up.
bool matches(const LearnedColour& colour, int blue, int green, int red);

// 255 where the pixels of `bgr` (8-bit, 3 channels) match, else 0.
void colour_mask(const cv::Mat& bgr, const StickerMatch& match, cv::Mat& mask);

// The colour a preset's stickers have, as a starting guess.
LearnedColour preset_colour(StickerColor color);

// A learned colour, or why there is none (a French sentence).
struct ColourLearning
{
    std::optional<LearnedColour> colour;
    QString refusal;
};

// A colour given as "#RRGGBB": refused when the text is not that or the colour
// is not saturated enough to be a sticker's.
ColourLearning colour_from_hex(const QString& text);

// Learns the colour of the sticker under `click` (pixels of `bgr`): the
// connected region of similar colour around it, so that a click on an edge or
// a noisy pixel still reads the sticker. `guess` (a preset, or a colour given
// earlier) breaks ties when the click's neighbourhood holds several colours.
// Refused when the region is too grey, white or black to be a sticker, or the
// click is outside the photo.
ColourLearning learn_colour(const cv::Mat& bgr, const cv::Point& click,
                            const std::optional<LearnedColour>& guess = std::nullopt);
