#pragma once

#include "tools/make_rig/camera_pose.h"
#include "tools/make_rig/parallax_scene.h"
#include "tools/make_rig/rig_options.h"

#include <opencv2/core.hpp>

#include <array>
#include <optional>
#include <vector>

// Everything a test needs to know about a rendered rig. Lengths are pixels of
// the middle camera's photo; camera k sees them multiplied by its scale.
struct RigGroundTruth
{
    RigOptions options;
    int middle_camera = 0; // cameras / 2, the reference camera of the calibration
    std::vector<CameraPose> poses;
    // Per camera, the sticker centres in its reference photo: top, middle, bottom.
    std::vector<std::array<cv::Point2d, 3>> stickers;
    double sticker_radius = 0.0;
    // Half the distance between the outer sticker centres: 18% of the height,
    // less where the column must shrink to keep every sticker in every photo.
    double sticker_spacing = 0.0;
    // The shot markers are white discs on a square grid through the middle camera's
    // centre, spaced 8% of the shorter side but at least 40 px. Matching a marker
    // to its nearest neighbour is unambiguous for residuals below half the spacing
    // (at least 18 px even in a camera scaled by 0.93).
    double marker_spacing = 0.0;
    double marker_radius = 0.0;
    // The 3-D scene, when options.parallax. Then the poses hold each camera's
    // alignment on the stickers (exact along the column only), the sticker
    // centres and sizes are as the cameras see them, and there are no markers.
    ParallaxTruth parallax;
    // The flat references' light and exposure per camera (see scene_light.h),
    // when flat_light_changed(options); empty otherwise.
    std::vector<ColourResponse> reference_light;
};

// A disc or a tilted ellipse in the middle camera's frame; angle as in CameraPose.
struct SceneEllipse
{
    cv::Point2d centre;
    double half_width = 0.0;
    double half_height = 0.0;
    double angle_deg = 0.0;
};

// The rendering plan: the ground truth plus what only the renderer needs.
struct RigScene
{
    RigGroundTruth truth;
    std::vector<SceneEllipse> specks;
    std::optional<SceneEllipse> distractor;
    // The part of the world every camera sees, middle camera's frame.
    cv::Rect world;
};

enum class PhotoKind
{
    Reference,
    Shot
};

// Draws the poses, sticker layout and options from the seed. `options` must be valid
// (rig_options_error empty).
RigScene plan_rig_scene(const RigOptions& options);

// The background every camera sees (without stickers, specks or markers), covering
// `scene.world`. References show a light scene in greys, blues and greens (with
// options.colourful, shapes of many other colours on top); shots a dark one.
cv::Mat render_world(const RigScene& scene, PhotoKind kind);

// Camera `camera`'s 8-bit BGR photo of `world` (from render_world of the same kind)
// with the stickers (each on a grey label), specks and blob (references) or the
// markers (shots) painted in; a reference is then lit and taken as
// truth.reference_light says.
cv::Mat render_photo(const RigScene& scene, PhotoKind kind, const cv::Mat& world, int camera);

// Paints a filled disc with its rim blended by coverage; the painted centroid is
// the true centre.
void paint_disc(cv::Mat& image, cv::Point2d centre, double radius, const cv::Scalar& bgr);

// The centres of the shot markers that lie wholly inside camera `camera`'s photo,
// at least one pixel from its border.
std::vector<cv::Point2d> marker_centres(const RigGroundTruth& truth, int camera);
