#pragma once

#include "output/video_frames.h"
#include "output/video_sequence.h"
#include "support/batch_progress.h"

#include <opencv2/core/mat.hpp>

#include <string>

// The in-between frames of a take, made once from the video's pictures kept in
// memory and shared by the MP4, the boomerang and the GIFs: at the video's size
// (where the flow is measured) in its layout, and reduced from those to the
// GIF's size, never written to disk.
struct InBetweenPictures
{
    int between = 0; // per pair of neighbouring frames
    // Picture (pair * between + j - 1) is the j-th frame between frames `pair`
    // and `pair + 1`; empty when not made.
    KeptFrames video;
    KeptFrames gif;
    // Why they could not be made, when the ending says Failed.
    std::string failure;
};

enum class InBetweenEnding
{
    Made,
    Stopped,  // a stop request came between two pairs: nothing is kept
    NoFrames, // the video's pictures are not all kept, so nothing to make them from
    Failed,   // the work itself failed (memory, a picture refused): nothing is kept
};

// Makes the `between` frames of each pair of the `frame_count` frames kept in
// `kept` (the video's pictures, and the GIF's size when it keeps those). Counts
// each frame made into `progress` (may be null) and checks its stop request
// before each pair.
InBetweenEnding make_in_between_pictures(const VideoFrames& kept, int frame_count, int between,
                                         InBetweenPictures& made,
                                         BatchProgress* progress = nullptr);

// The picture `picture` plays: a frame of `frames` or one of `in_betweens`
// (those of the same size and layout).
const cv::Mat& played_picture(const KeptFrames& frames, const KeptFrames& in_betweens,
                              int between, PlayedPicture picture);
