#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <optional>
#include <vector>

// The shapes a video can be cut to, for the screen it will be watched on.
enum class ClipAspect
{
    Original, // the common frame as it is
    Wide,     // 16:9, a landscape screen
    Square,   // 1:1
    Portrait, // 4:5, a feed post on a phone
    Tall,     // 9:16, a phone held upright
};

// "Originale", "16:9", "1:1", "4:5", "9:16": how the window and --aspect name them.
QString aspect_name(ClipAspect aspect);
std::optional<ClipAspect> aspect_from_name(const QString& name);
// Every shape, in the order above.
std::vector<ClipAspect> all_aspects();

// The part of a frame of `frame` size the videos show: the largest rectangle of
// `aspect`'s shape inside it, both sides even (the shape kept to within a
// pixel), centred vertically and horizontally on `column_x` (frame pixels; the
// sticker column, where the subject stands), moved inside the frame where the
// column is too close to an edge. The whole frame for Original or an empty
// frame; the left edge is even so that the chroma of a yuv420p picture keeps
// its place.
QRect clip_rect(QSize frame, ClipAspect aspect, double column_x);
