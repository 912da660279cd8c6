#pragma once

#include "output/video_export.h"
#include "pipeline/processing_run.h"

#include <QSize>
#include <QString>

#include <vector>

// A video or GIF a processing run wrote, and how long it plays.
struct WrittenVideo
{
    VideoStep step = VideoStep::Video;
    QString file_name; // in the run's folder
    int pictures = 0;  // the frames it plays, in-between frames included
    double seconds = 0;
};

// What a processing run left in its folder, as the person who asked for it
// checks it: the frames and each video with its duration.
struct WrittenFiles
{
    int frame_count = 0; // "output_img_0.jpg" to "output_img_<frame_count - 1>.jpg"
    QSize frame_size;
    std::vector<WrittenVideo> videos; // in the order they were written
    QString still;                    // the still's name, empty when none was written
};

// The files `outcome` of `request` wrote, each video as long as it plays: its
// frames and the in-between frames asked for, with its repeats and holds (see
// clip_play), a GIF at its own rate.
WrittenFiles written_files(const ProcessingRequest& request, const ProcessingOutcome& outcome);
