#pragma once

#include <vector>

// One camera's alignment onto the reference camera: the similarity that takes
// a point p of this camera's upright picture to the point q of the reference
// camera's picture showing the same thing,
//   q = scale * R(rotation_deg) * p + (translation_x, translation_y),
// in pixels with pixel centres at whole coordinates (x to the right, y
// downwards), R turning clockwise on screen for a positive angle, scale > 0.
// The reference camera's own entry is the identity (0, 0, 0, 1).
struct ImageAlignment
{
    double translation_x = 0.0;
    double translation_y = 0.0;
    double rotation_deg = 0.0;
    double scale = 0.0;
    bool aligned = false;
};

// Per-camera alignments of a rig, as parallel arrays indexed by image index.
// Every array holds image_count entries; an entry not yet aligned holds zeros.
struct Calibration
{
    int image_count = 0;
    std::vector<double> translation_x;
    std::vector<double> translation_y;
    std::vector<double> rotation_deg;
    std::vector<double> scale;
    std::vector<bool> aligned;

    // A record of `count` entries, all zero and not aligned.
    static Calibration with_count(int count);

    // Keeps the first min(old, n) entries and adds zeroed, unaligned ones.
    void resize(int n);

    // Entry image_index; an index outside the record reads as a zeroed, unaligned entry.
    ImageAlignment alignment(int image_index) const;

    // True when the record holds at least one image and every image is aligned.
    bool all_aligned() const;
};
