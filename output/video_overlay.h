#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

// A picture with transparency (an event's logo, or a frame as large as the
// video) laid over every picture of the videos, the GIFs and the still; the
// numbered frames stay as they are.

// Where the overlay goes.
enum class OverlayPosition
{
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight,
    Center,
    Full, // stretched over the whole picture, for a frame drawn to the video's shape
};

// "top-left", "top-right", "bottom-left", "bottom-right", "center", "full":
// how --overlay-position names them.
QString overlay_position_name(OverlayPosition position);
std::optional<OverlayPosition> overlay_position_from_name(const QString& name);

constexpr int min_overlay_percent = 1;
constexpr int max_overlay_percent = 100;
constexpr int default_overlay_percent = 20;
constexpr int max_overlay_margin_percent = 25;
constexpr int default_overlay_margin_percent = 3;

// What the person chose: the PNG file (none when empty), its place, its width
// as a share of the picture's width and its distance from the picture's edges
// as a share of the same width.
struct VideoOverlay
{
    QString file;
    OverlayPosition position = OverlayPosition::BottomRight;
    int size_percent = default_overlay_percent;
    int margin_percent = default_overlay_margin_percent;

    bool wanted() const { return !file.isEmpty(); }
};

// The largest overlay taken, on either side: larger pictures only cost memory
// in every encode.
constexpr int max_overlay_side = 8192;

// Why `file` cannot be an overlay, in French ("ce n'est pas une image PNG"), or
// an empty string. The file must be a PNG, no larger than max_overlay_side on
// either side, and decode whole. `size` (may be null) gets its size.
QString overlay_problem(const QString& file, QSize* size = nullptr);

// Where an overlay of `image` size lands on a picture of `picture` size, in
// its pixels: `size_percent` of its width, proportions kept (and smaller when
// that would not fit inside the margins), at its corner or centre; the whole
// picture for Full. Never empty for non-empty sizes.
QRect overlay_rect(const VideoOverlay& overlay, QSize image, QSize picture);
