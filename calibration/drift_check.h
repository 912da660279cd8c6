#pragma once

#include "calibration/similarity_fit.h"
#include "photo/reduced_photo.h"

#include <opencv2/core.hpp>

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

// Whether a camera still looks where it looked when it was calibrated: its shot
// is compared with what its reference photo showed, on the features of reduced
// copies, so that the reference photos need not be kept.

struct DriftPatchModels;

// What is kept of one reference photo: a few hundred features spread over the
// picture, positions in the upright photo's pixels; and small grey patches of
// the reduced picture around the strongest of them, on which the motion the
// features give is refined to a fraction of a reduced pixel (a reference
// without patches, from an earlier file, keeps the features' precision).
struct DriftReference
{
    std::vector<cv::Point2f> points;
    cv::Mat descriptors; // one 32-byte ORB row per point, CV_8U

    std::vector<cv::Point2f> patch_centres; // photo pixels
    cv::Mat patches; // one row of drift_patch_side² grey pixels per centre, CV_8U
    double patch_scale = 0.0; // photo pixels one patch pixel spans
    // The patches made ready to be looked for, once per reference rather than
    // for every shot: set by make_drift_reference and set_drift_patches, and
    // made again by the check when the patches changed since.
    std::shared_ptr<const DriftPatchModels> patch_models;

    bool empty() const { return points.empty(); }
};

// The most features a reference keeps, and the fewest that still make one.
constexpr int drift_reference_features = 400;
constexpr int drift_reference_min_features = 30;
// The most patches a reference keeps, and their side in reduced pixels (odd,
// so that a patch has a centre pixel).
constexpr int drift_reference_patches = 96;
constexpr int drift_patch_side = 15;

// A photo read in grey at a reduced size for the comparison, and how many of
// the upright photo's pixels of `photo_size` one of its pixels spans.
struct DriftPicture
{
    cv::Mat grey;
    double to_photo = 1.0;
};

// Reads `path` upright in grey, reduced by 1, 2, 4 or 8 (the decoder skips the
// rest): a photo of `photo_size` so that its long side stays near a thousand
// pixels (drift_reduction). `photo_size` is the size its pixels are measured
// in (its reference's): a shot of another size with the same proportions is
// decoded at shot_drift_reduction, its picture brought to the size of its
// reference's and measured in its reference's pixels. Empty when the file
// cannot be read.
DriftPicture read_drift_picture(const QString& path, QSize photo_size);

// The reduction read_drift_picture uses for a photo of `size`.
int drift_reduction(QSize size);

// The reduction for a shot of `shot_size` (upright) measured in pixels of
// `photo_size`, its reference's: drift_reduction(photo_size) for a shot of its
// reference's size, less for a smaller one and more for a larger one, the
// largest that leaves its picture no more than 3 % smaller than the reference's.
int shot_drift_reduction(QSize shot_size, QSize photo_size);

// `path` decoded at shot_drift_reduction for its own size (read from its
// header), for drift_picture: the copy read_drift_picture compares, kept by a
// caller that shares it with the colour estimate. Empty when unreadable.
ReducedPhoto read_drift_copy(const QString& path, QSize photo_size);

// The same from a copy decoded already (a shot shared with the colour estimate,
// reduced by shot_drift_reduction), brought to the reference picture's size
// when it is more than 3 % off it. Empty when `photo` is.
DriftPicture drift_picture(const ReducedPhoto& photo, QSize photo_size);

// The same from a shot decoded in full for its frame (`stored` as stored, before
// `turn`), reduced here by shot_drift_reduction with each reduced pixel the
// mean of those it covers, as the decoder's own scaling makes it, then brought
// to the reference picture's size when it is more than 3 % off it: the frames
// pass checks its shots without a second decode. Empty when `stored` is.
DriftPicture drift_picture(const QImage& stored, QImageIOHandler::Transformations turn,
                           QSize photo_size);

// The features of a reference picture; empty when it has too little texture.
DriftReference make_drift_reference(const DriftPicture& picture);

// The camera's motion since its reference: the similarity that takes a shot's
// pixels to where the same thing was in the reference photo (both in the
// reference photo's pixels), or nothing when the shot has too little in common
// with the reference to tell (a bare wall, a lens cap, another place).
struct DriftMeasure
{
    std::optional<Similarity> motion;
    int matches = 0; // features the motion agrees with
};
DriftMeasure measure_drift(const DriftReference& reference, const DriftPicture& shot);
// The same from a shot decoded in full (see drift_picture), with the same
// outcome: a camera in place, or moved by a few reduced pixels, is tracked on
// the reduced shot made only around the reference's patches; the whole reduced
// shot is made only when that does not tell.
DriftMeasure measure_drift(const DriftReference& reference, const QImage& stored,
                           QImageIOHandler::Transformations turn, QSize photo_size);

// The reference as it is kept in a calibration file: the positions and the
// descriptors, each as little-endian bytes (base64 in the file).
QByteArray drift_points_bytes(const DriftReference& reference);
QByteArray drift_descriptor_bytes(const DriftReference& reference);
// Back from those bytes; nothing when they do not describe the same number of
// features (at most drift_reference_features), or a position is not finite.
std::optional<DriftReference> drift_reference_from_bytes(const QByteArray& points,
                                                         const QByteArray& descriptors);

// The patches the same way: their centres as little-endian floats, their
// pixels row after row.
QByteArray drift_patch_centre_bytes(const DriftReference& reference);
QByteArray drift_patch_pixel_bytes(const DriftReference& reference);
// Sets `reference`'s patches from those bytes and their scale; false (and the
// reference left as it was) when they do not describe the same number of
// patches (at most drift_reference_patches), a centre is not finite or the
// scale is not a positive number.
bool set_drift_patches(DriftReference& reference, const QByteArray& centres,
                       const QByteArray& pixels, double scale);
