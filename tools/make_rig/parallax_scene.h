#pragma once

#include "tools/make_rig/camera_pose.h"
#include "tools/make_rig/rig_options.h"

#include <opencv2/core.hpp>

#include <array>
#include <vector>

// The 3-D rig. World coordinates in metres: x to the right and y downwards as
// the middle camera sees them, z away from the cameras. The sticker column is
// the vertical axis x = z = 0, the middle sticker at the origin; the wall is
// the plane z = wall_z, the floor the plane y = floor_y.

// Where one camera stands and how it is aimed. Cameras stand on a horizontal
// arc around the column, at `angle_deg` (positive to the right of the arc's
// middle), `distance` from the axis and `height` along y, looking at the axis
// and then turned by yaw (to the right), pitch (down) and roll (clockwise on
// screen); `focal` in pixels, principal point at the photo's middle.
struct ViewPose
{
    double angle_deg = 0.0;
    double distance = 0.0;
    double height = 0.0;
    double yaw_deg = 0.0;
    double pitch_deg = 0.0;
    double roll_deg = 0.0;
    double focal = 0.0;
};

// A camera's colour response, applied in linear light to the colour-neutral
// picture: each channel (blue, green, red) times its gain times 2^exposure_ev
// times 1 - vignetting * (r / r_corner)^2, r the distance from the photo's
// middle. The middle camera's response is neutral (gains 1, 0 EV, 0).
struct ColourResponse
{
    std::array<double, 3> gain{1.0, 1.0, 1.0};
    double exposure_ev = 0.0;
    double vignetting = 0.0;

    bool neutral() const;
};

// The subject of one take: an ellipsoid with half axes `half_axes` (x, y, z
// before the turn), turned by `turn_deg` about the vertical through `centre`.
// `coverage` is the smallest and largest share of a shot it hides, over the cameras.
struct SceneSubject
{
    cv::Point3d centre;
    cv::Point3d half_axes;
    double turn_deg = 0.0;
    std::array<double, 2> coverage{0.0, 0.0};
};

struct ParallaxTruth
{
    RigStickerColor sticker_colour = RigStickerColor::Yellow;
    double wall_z = 0.0;
    double floor_y = 0.0;
    // The sticker centres lie at (0, -spacing, 0), (0, 0, 0) and (0, spacing, 0).
    double sticker_spacing = 0.0;
    double sticker_radius = 0.0;         // of the balls; their labels are 1.4 times wider
    std::vector<ViewPose> views;         // one per camera
    std::vector<ColourResponse> colours; // one per camera
    std::vector<SceneSubject> subjects;  // one per take
};

// A view at `position` along the arc: 0 is camera 0, cameras - 1 the last one,
// a fraction lies between two neighbours, every setting interpolated linearly.
ViewPose view_at(const ParallaxTruth& truth, double position);

// Where `point` appears in the photo of `view` of a photo of `size`, in pixels
// with pixel centres on whole numbers. The point must lie in front of the camera.
cv::Point2d project(const ViewPose& view, cv::Size size, const cv::Point3d& point);

// The three sticker centres (top, middle, bottom) in the photo of `view`.
std::array<cv::Point2d, 3> sticker_centres(const ParallaxTruth& truth, const ViewPose& view,
                                           cv::Size size);

// The least-squares similarity taking the points `from` onto `to`, as the 2 x 3 matrix.
cv::Matx23d least_squares_similarity(const std::array<cv::Point2d, 3>& from,
                                     const std::array<cv::Point2d, 3>& to);

// The alignment a calibration gives `view`: its photo -> the middle camera's photo,
// fitted on the stickers.
cv::Matx23d alignment_of(const ParallaxTruth& truth, const ViewPose& view, cv::Size size);

// The same alignment as a CameraPose (middle camera's photo -> this photo), which
// holds exactly along the sticker column.
CameraPose pose_of(const cv::Matx23d& alignment, cv::Size size);

// Draws the scene of `options` (parallax set, valid) from the seed.
ParallaxTruth plan_parallax(const RigOptions& options);

// The look of the surfaces of one rig, with the subject of every take: textures
// drawn from the seed, several hues on every surface.
struct ParallaxTextures
{
    cv::Rect2d wall_area;          // (x, y) of the wall the texture covers, metres
    cv::Rect2d floor_area;         // (x, z) of the floor
    cv::Mat wall, floor;           // 8-bit sRGB BGR
    std::vector<cv::Mat> subjects; // one per take, around the ellipsoid and pole to pole
};

// The wall and floor; `subjects` sized to the takes but left empty.
ParallaxTextures make_textures(const RigOptions& options, const ParallaxTruth& truth);

// Draws the subject texture of `take` into `textures` (about 24 MB at 6000 x 4000,
// so a writer keeps one take's at a time).
void add_subject_texture(ParallaxTextures& textures, const RigOptions& options,
                         const ParallaxTruth& truth, int take);

// What one rendering shows: which view, from which photo pixel, and what is in it.
struct ViewRequest
{
    ViewPose view;
    // Output pixel -> the view's photo pixel (identity for a camera's own photo).
    cv::Matx23d to_view{1, 0, 0, 0, 1, 0};
    int take = -1;          // the subject of this take, or -1 for none (references)
    bool reference = false; // references: no red above green or blue
    bool hidden = false;    // paint_stickers: under dark caps
};

// The colour-neutral 8-bit BGR picture of `request`, `size` pixels, each the
// mean of 2 x 2 samples in linear light.
cv::Mat render_view(const ParallaxTruth& truth, const ParallaxTextures& textures,
                    const ViewRequest& request, cv::Size size);

// Paints the three stickers, each on its grey label, into the reference `image`
// of `request`. They keep their paint in every camera, after its colour
// response: the detection presets are narrower than the colour differences
// reach, and nothing scores the colours of the references.
void paint_stickers(cv::Mat& image, const ParallaxTruth& truth, const ViewRequest& request);

// `neutral` (8-bit sRGB BGR) as a camera with `response` sees it.
cv::Mat apply_colour_response(const cv::Mat& neutral, const ColourResponse& response);

// The request for camera `camera`'s photo: its reference, or its shot of take
// `take` (moved when it is the moved camera).
ViewRequest photo_request(const RigOptions& options, const ParallaxTruth& truth, int camera,
                          int take);

// The request for the view at `position` mapped into the middle camera's photo by
// its alignment, showing take `take`.
ViewRequest aligned_request(const RigOptions& options, const ParallaxTruth& truth, double position,
                            int take);
