#pragma once

#include <QSize>

// The sizes a video can be asked for, by the length of its long side in pixels;
// 0 keeps the frames' own size.
constexpr int original_video_size = 0;

// The size of a video of frames of `frames`, whose long side is at most
// `long_side` pixels (original_video_size: no limit). The aspect ratio is kept
// as closely as two even sides allow, and a frame is never enlarged: frames no
// larger than the limit keep their size. `frames` is even on both sides, as
// written frames are.
QSize video_size(QSize frames, int long_side);

// The long side of the animated GIF: at most 800 pixels, or the video's when that
// is smaller.
constexpr int gif_long_side = 800;
QSize gif_size(QSize frames, int video_long_side);
