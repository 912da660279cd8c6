#pragma once

#include "calibration/calibration.h"
#include "output/colour_matching.h"
#include "output/decoded_shot_check.h"
#include "support/batch_progress.h"

#include <QSize>
#include <QString>
#include <QStringList>

struct VideoFrames;

// What a batch of aligned frames came to.
struct AlignedImages
{
    // Even width and height shared by every frame written; (16777214, 16777214)
    // when there were no images. A side of 0 means the aligned shots share no
    // area, or some entry stands for no alignment (never aligned, a scale of
    // 0): then no file is written.
    QSize common_size;
    // Number of frames written: "output_img_0.jpg" up to frame_count - 1.
    int frame_count = 0;
    // Set when an input could not be read (damaged data included); no frame of
    // this run is left then. Its camera, counted from 0, or -1.
    QString unreadable_input;
    int unreadable_camera = -1;
    // Set when a file in the output folder could not be written whole (a full
    // disk); it and every later frame of this run are removed, the frames before
    // it in index order stay and frame_count tells how many.
    QString unwritable_output;
    // Why it could not be written (the system's words: "No space left on device").
    QString unwritable_reason;
    // Set when the shot check refused a shot (its camera, counted from 0):
    // no frame of this run is left then.
    int refused_camera = -1;
    // Set, with nothing written, when a frame this run would write is one of
    // its inputs (shots picked from an earlier run's frames in the same folder).
    QString input_among_frames;
    // Set when a stop request cut the run short: the frames finished by then
    // stay (frame_count of them, in index order from 0) and the others were
    // never started.
    bool stopped = false;
};

// Warps input k by entry k of `calibration` into the reference (middle)
// camera's pixel frame, cuts every frame from the one rectangle of it that all
// warped shots cover (common_frame_rect) and writes them as
// "output_img_<k>.jpg" into `folder` at JPEG `quality` (0 to 100). The
// rectangle comes from the file headers, so every input is checked to be
// readable before anything is written; then each shot is decoded, warped and
// encoded once, on every core, with no intermediate file. The failures are those a run in index
// order would meet first. Inputs are read with their EXIF orientation applied. `inputs` must hold
// at least calibration.image_count paths; with fewer, nothing is written and the common size is (0,
// 0). Only "output_img_*" files of this run's indices are touched. `progress` (may be null) counts
// each frame written and is asked before each image is started whether to stop; the images in hand
// are finished first. Blocks until done; call it from a worker thread to keep a window responsive.
// With `keep` (may be null), each frame written is also kept reduced for the videos
// (see video_frames.h); what it holds is only whole when every frame was written.
// Its arrival (may be null) is told the frames' size before the first frame,
// each frame as it is kept, and the end of the step, however it ends.
// With `colour_tables` (one per camera), frame k goes through table k before it is
// encoded and kept. With `matched_gains` instead, the colours are matched in the
// pass itself: the cameras are taken from the middle outwards, each one's gains
// estimated (OutwardColourGains) from its decoded shot before its frame is
// rendered, and every camera's gains are left in `matched_gains` when all were
// estimated (else it is left empty). A failure or a stop then leaves what it
// leaves in index order: the frames kept are those from 0 up to the first one
// not written, and frame_count of them.
// With `shot_check` (may be null), each shot is shown to it once decoded,
// before its colours are estimated and its frame is made, with the alignment
// it returns. The frames' rectangle stays the one planned from the headers.
AlignedImages write_aligned_images(const QStringList& inputs, const Calibration& calibration,
                                   const QString& folder, int quality,
                                   BatchProgress* progress = nullptr, VideoFrames* keep = nullptr,
                                   const std::vector<ColourTable>& colour_tables = {},
                                   std::vector<ColourGains>* matched_gains = nullptr,
                                   DecodedShotCheck* shot_check = nullptr);
