#include "tools/make_rig/rig_scene.h"

#include "tools/make_rig/scene_light.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace {

// Independent random streams, so that switching an option on (clutter, say)
// leaves the poses and the backgrounds of a seed unchanged.
enum class Stream : std::uint64_t
{
    Poses = 1,
    Clutter,
    ReferenceWorld,
    ShotWorld,
    Colourful
};

cv::RNG stream_rng(std::uint64_t seed, Stream stream)
{
    const std::uint64_t state = (seed + 1) * 0x9E3779B97F4A7C15ULL ^
                                static_cast<std::uint64_t>(stream) * 0xBF58476D1CE4E5B9ULL;
    return cv::RNG(state);
}

double min_side(const RigOptions& options)
{
    return std::min(options.width, options.height);
}

std::vector<CameraPose> draw_poses(const RigOptions& options, int middle)
{
    cv::RNG rng = stream_rng(options.seed, Stream::Poses);
    const double max_shift = 0.03 * options.width;
    std::vector<CameraPose> poses(options.cameras);
    for (int k = 0; k < options.cameras; ++k) {
        CameraPose pose;
        pose.rotation_deg = rng.uniform(-4.0, 4.0);
        pose.scale = rng.uniform(0.93, 1.07);
        pose.shift = {rng.uniform(-max_shift, max_shift), rng.uniform(-max_shift, max_shift)};
        // Drawn for the middle camera too, so a camera's pose does not depend on the count.
        if (k != middle)
            poses[k] = pose;
    }
    return poses;
}

// The union of what the cameras see, in the middle camera's frame, with room for
// the bilinear interpolation at the edges.
cv::Rect world_rect(const std::vector<CameraPose>& poses, cv::Size size)
{
    const double pad = 4.0;
    double left = std::numeric_limits<double>::max(), top = left;
    double right = std::numeric_limits<double>::lowest(), bottom = right;
    const cv::Point2d corners[] = {{-0.5, -0.5},
                                   {size.width - 0.5, -0.5},
                                   {-0.5, size.height - 0.5},
                                   {size.width - 0.5, size.height - 0.5}};
    for (const CameraPose& pose : poses) {
        const cv::Matx23d to_middle = inverse_camera_matrix(pose, size);
        for (const cv::Point2d& corner : corners) {
            const cv::Point2d p = apply(to_middle, corner);
            left = std::min(left, p.x);
            top = std::min(top, p.y);
            right = std::max(right, p.x);
            bottom = std::max(bottom, p.y);
        }
    }
    const int x0 = static_cast<int>(std::floor(left - pad));
    const int y0 = static_cast<int>(std::floor(top - pad));
    const int x1 = static_cast<int>(std::ceil(right + pad));
    const int y1 = static_cast<int>(std::ceil(bottom + pad));
    return {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

SceneEllipse place_distractor(const RigOptions& options, double sticker_radius, cv::RNG& rng)
{
    // Well off the sticker line and farther from the centre than the middle
    // sticker, but inside every camera's view.
    const double side = rng.uniform(0, 2) == 0 ? -1.0 : 1.0;
    const cv::Point2d centre =
        photo_centre({options.width, options.height}) +
        cv::Point2d(side * 0.3 * options.width, rng.uniform(-0.12, 0.12) * options.height);
    return {centre, 2.4 * sticker_radius, 1.6 * sticker_radius, rng.uniform(0.0, 180.0)};
}

std::vector<SceneEllipse> place_specks(const RigOptions& options, cv::Point2d sticker_line,
                                       const std::optional<SceneEllipse>& distractor, cv::RNG& rng)
{
    const int wanted = 40;
    const double radius = std::max(3.0, 0.005 * min_side(options));
    // Keeps the dilated specks apart from each other and from the blob even at the
    // smallest camera scale, so each stays a small component of its own.
    const double gap = 2.0 * radius + 30.0;
    // Off the vertical band of the stickers, so the centre rule never takes a speck
    // for an outer sticker.
    const double band = 0.12 * options.width;
    const cv::Point2d centre = photo_centre({options.width, options.height});

    std::vector<SceneEllipse> specks;
    for (int attempt = 0; attempt < 5000 && static_cast<int>(specks.size()) < wanted; ++attempt) {
        const cv::Point2d p(rng.uniform(0.03, 0.97) * options.width,
                            rng.uniform(0.03, 0.97) * options.height);
        if (std::abs(p.x - sticker_line.x) < band || std::abs(p.x - centre.x) < band)
            continue;
        if (distractor && cv::norm(p - distractor->centre) < distractor->half_width + radius + gap)
            continue;
        const bool crowded = std::any_of(specks.begin(), specks.end(), [&](const SceneEllipse& s) {
            return cv::norm(p - s.centre) < gap;
        });
        if (crowded)
            continue;
        const double r = radius * rng.uniform(0.6, 1.0);
        specks.push_back({p, r, r * rng.uniform(0.7, 1.0), rng.uniform(0.0, 180.0)});
    }
    return specks;
}

SceneEllipse in_camera(const SceneEllipse& e, const CameraPose& pose, cv::Size size)
{
    return {camera_point(pose, size, e.centre), e.half_width * pose.scale,
            e.half_height * pose.scale, e.angle_deg + pose.rotation_deg};
}

// Paints a filled ellipse with its edge pixels blended by their approximate
// coverage; the blend is symmetric, so the painted centroid is the true centre.
void paint_ellipse(cv::Mat& image, const SceneEllipse& e, const cv::Scalar& bgr)
{
    const double reach = std::max(e.half_width, e.half_height) + 1.0;
    const int x0 = std::max(0, static_cast<int>(std::floor(e.centre.x - reach)));
    const int y0 = std::max(0, static_cast<int>(std::floor(e.centre.y - reach)));
    const int x1 = std::min(image.cols - 1, static_cast<int>(std::ceil(e.centre.x + reach)));
    const int y1 = std::min(image.rows - 1, static_cast<int>(std::ceil(e.centre.y + reach)));
    const double angle = e.angle_deg * CV_PI / 180.0;
    const double c = std::cos(angle), s = std::sin(angle);
    // The distance below is at least (n - 1) times the shorter half axis, so only
    // pixels with n between these bounds lie on the rim.
    const double shorter = std::min(e.half_width, e.half_height);
    const double inner = std::max(0.0, 1.0 - 0.5 / shorter);
    const double outer = 1.0 + 0.5 / shorter;
    for (int y = y0; y <= y1; ++y) {
        auto* row = image.ptr<cv::Vec3b>(y);
        for (int x = x0; x <= x1; ++x) {
            const double dx = x - e.centre.x, dy = y - e.centre.y;
            const double nu = (c * dx + s * dy) / e.half_width;
            const double nv = (-s * dx + c * dy) / e.half_height;
            const double n2 = nu * nu + nv * nv;
            if (n2 >= outer * outer)
                continue;
            double coverage = 1.0;
            if (n2 > inner * inner) {
                // Level-set distance (n - 1) / |grad n|: exact for a circle.
                const double n = std::sqrt(n2);
                const double gradient = std::sqrt(nu * nu / (e.half_width * e.half_width) +
                                                  nv * nv / (e.half_height * e.half_height)) /
                                        n;
                coverage = std::clamp(0.5 - (n - 1.0) / gradient, 0.0, 1.0);
                if (coverage <= 0.0)
                    continue;
            }
            for (int ch = 0; ch < 3; ++ch)
                row[x][ch] =
                    cv::saturate_cast<uchar>(row[x][ch] * (1.0 - coverage) + bgr[ch] * coverage);
        }
    }
}

// A scene colour: grey, blue or green, red never above blue or green. Neither
// preset accepts such a colour (yellow needs red 80 above blue, pink 84 above
// green), nor any blend of them, so interpolation and anti-aliasing stay safe.
cv::Scalar scene_colour(cv::RNG& rng, int darkest, int brightest, int tint)
{
    const int level = rng.uniform(darkest, brightest + 1);
    const int strong = rng.uniform(tint / 2, tint + 1);
    const int weak = rng.uniform(0, tint / 2 + 1);
    int blue = level, green = level;
    switch (rng.uniform(0, 3)) {
    case 1:
        // Green well above red, or a blue turns lavender.
        blue += strong;
        green += strong / 2 + weak / 2;
        break;
    case 2:
        green += strong;
        blue += weak;
        break;
    default:
        break;
    }
    return cv::Scalar(std::min(blue, 255), std::min(green, 255), level);
}

void hue_and_chroma_of(const cv::Scalar& bgr, double& hue, double& chroma)
{
    const double high = std::max({bgr[0], bgr[1], bgr[2]});
    const double low = std::min({bgr[0], bgr[1], bgr[2]});
    const double range = high - low;
    chroma = high > 0.0 ? 100.0 * range / high : 0.0;
    if (range == 0.0)
        hue = 0.0;
    else if (high == bgr[2])
        hue = 60.0 * ((bgr[1] - bgr[0]) / range);
    else if (high == bgr[1])
        hue = 60.0 * ((bgr[0] - bgr[2]) / range + 2.0);
    else
        hue = 60.0 * ((bgr[2] - bgr[1]) / range + 4.0);
    if (hue < 0.0)
        hue += 360.0;
}

// A colour a photographer's scene holds beside the stickers: oranges and skin
// tones, reds, purples, cyans, browns and any other hue, but never one a person
// would take for the sticker's (hue within 20 degrees and chroma within 25) in
// any camera's photo: the light and a clipped channel bring colours together.
cv::Scalar colourful_colour(cv::RNG& rng, const RigOptions& options)
{
    static const cv::Scalar named[] = {
        {30, 120, 235},  {40, 140, 250},  {120, 160, 215}, {95, 130, 190}, {150, 185, 230},
        {70, 100, 160},  {40, 40, 200},   {160, 60, 130},  {200, 190, 60}, {40, 80, 140},
        {180, 80, 200},  {60, 200, 230},  {45, 210, 225},  {110, 45, 230}, {60, 170, 40},
        {200, 110, 30}};
    ColourResponse light;
    light.gain = light_gains(options.light_kelvin);
    std::vector<ColourResponse> cameras;
    for (const double ev : {-1.0, 0.0, 1.0}) {
        light.exposure_ev = options.exposure_ev + ev * options.exposure_spread;
        cameras.push_back(light);
    }
    const cv::Scalar sticker = sticker_bgr(options.color);
    for (;;) {
        cv::Scalar c;
        if (rng.uniform(0, 2) == 0) {
            c = named[rng.uniform(0, static_cast<int>(std::size(named)))];
        } else {
            const cv::Mat hsv(1, 1, CV_8UC3,
                              cv::Scalar(rng.uniform(0, 180), rng.uniform(60, 240),
                                         rng.uniform(90, 240)));
            cv::Mat bgr;
            cv::cvtColor(hsv, bgr, cv::COLOR_HSV2BGR);
            const cv::Vec3b p = bgr.at<cv::Vec3b>(0, 0);
            c = cv::Scalar(p[0], p[1], p[2]);
        }
        const bool alike = std::any_of(cameras.begin(), cameras.end(), [&](const ColourResponse& r) {
            double hue = 0.0, chroma = 0.0, sticker_hue = 0.0, sticker_chroma = 0.0;
            hue_and_chroma_of(lit_colour(c, r), hue, chroma);
            hue_and_chroma_of(lit_colour(sticker, r), sticker_hue, sticker_chroma);
            const double gap =
                std::min(std::abs(hue - sticker_hue), 360.0 - std::abs(hue - sticker_hue));
            return gap < 20.0 && std::abs(chroma - sticker_chroma) < 25.0;
        });
        if (!alike)
            return c;
    }
}

struct WorldLook
{
    Stream stream;
    int darkest;
    int brightest;
    int tint;
    int shapes;
    double noise_sigma;
};

WorldLook look_of(PhotoKind kind)
{
    // Shots stay dark (below 80) so that the white markers stand out unambiguously.
    return kind == PhotoKind::Reference ? WorldLook{Stream::ReferenceWorld, 70, 200, 60, 120, 3.0}
                                        : WorldLook{Stream::ShotWorld, 12, 45, 25, 50, 2.5};
}

void draw_shape(cv::Mat& canvas, cv::RNG& rng, double unit, const cv::Scalar& colour)
{
    const cv::Point centre(rng.uniform(0, canvas.cols), rng.uniform(0, canvas.rows));
    const double size = unit * rng.uniform(0.02, 0.15);
    switch (rng.uniform(0, 4)) {
    case 0: {
        const cv::RotatedRect box(centre, cv::Size2f(size * 2, size * rng.uniform(0.3, 1.5)),
                                  static_cast<float>(rng.uniform(0.0, 180.0)));
        cv::Point2f corners[4];
        box.points(corners);
        cv::Point points[4];
        for (int i = 0; i < 4; ++i)
            points[i] = corners[i];
        cv::fillConvexPoly(canvas, points, 4, colour, cv::LINE_AA);
        break;
    }
    case 1:
        cv::circle(canvas, centre, static_cast<int>(size), colour, cv::FILLED, cv::LINE_AA);
        break;
    case 2: {
        const cv::Point end = centre + cv::Point(static_cast<int>(rng.uniform(-3.0, 3.0) * size),
                                                 static_cast<int>(rng.uniform(-3.0, 3.0) * size));
        cv::line(canvas, centre, end, colour, std::max(1, static_cast<int>(size * 0.15)),
                 cv::LINE_AA);
        break;
    }
    default:
        cv::ellipse(
            canvas, centre,
            cv::Size(static_cast<int>(size), static_cast<int>(size * rng.uniform(0.3, 1.0))),
            rng.uniform(0.0, 180.0), 0.0, 360.0, colour, cv::FILLED, cv::LINE_AA);
        break;
    }
}

// Grid points of the markers, as seen by `camera`, whose discs keep `inset`
// pixels inside the photo (a negative inset admits discs cut by the border).
std::vector<cv::Point2d> grid_in_camera(const RigGroundTruth& truth, int camera, double inset)
{
    const cv::Size size(truth.options.width, truth.options.height);
    const CameraPose& pose = truth.poses[camera];
    const cv::Matx23d to_middle = inverse_camera_matrix(pose, size);
    double left = std::numeric_limits<double>::max(), top = left;
    double right = std::numeric_limits<double>::lowest(), bottom = right;
    for (const cv::Point2d corner :
         {cv::Point2d(0, 0), cv::Point2d(size.width, 0), cv::Point2d(0, size.height),
          cv::Point2d(size.width, size.height)}) {
        const cv::Point2d p = apply(to_middle, corner);
        left = std::min(left, p.x);
        top = std::min(top, p.y);
        right = std::max(right, p.x);
        bottom = std::max(bottom, p.y);
    }
    const cv::Point2d origin = photo_centre(size);
    const double step = truth.marker_spacing;
    const double reach = truth.marker_radius * pose.scale + 0.5 + inset;
    const int i0 = static_cast<int>(std::floor((left - origin.x) / step)) - 1;
    const int i1 = static_cast<int>(std::ceil((right - origin.x) / step)) + 1;
    const int j0 = static_cast<int>(std::floor((top - origin.y) / step)) - 1;
    const int j1 = static_cast<int>(std::ceil((bottom - origin.y) / step)) + 1;

    std::vector<cv::Point2d> points;
    for (int j = j0; j <= j1; ++j) {
        for (int i = i0; i <= i1; ++i) {
            const cv::Point2d p =
                camera_point(pose, size, origin + cv::Point2d(i * step, j * step));
            if (p.x - reach >= 0.0 && p.y - reach >= 0.0 && p.x + reach <= size.width - 1.0 &&
                p.y + reach <= size.height - 1.0)
                points.push_back(p);
        }
    }
    return points;
}

} // namespace

void paint_disc(cv::Mat& image, cv::Point2d centre, double radius, const cv::Scalar& bgr)
{
    paint_ellipse(image, {centre, radius, radius, 0.0}, bgr);
}

RigScene plan_rig_scene(const RigOptions& options)
{
    RigScene scene;
    RigGroundTruth& truth = scene.truth;
    const cv::Size size(options.width, options.height);
    truth.options = options;
    truth.middle_camera = options.cameras / 2;
    if (options.parallax) {
        truth.parallax = plan_parallax(options);
        const ParallaxTruth& parallax = truth.parallax;
        for (const ViewPose& view : parallax.views) {
            truth.poses.push_back(pose_of(alignment_of(parallax, view, size), size));
            truth.stickers.push_back(sticker_centres(parallax, view, size));
        }
        const ViewPose& middle = parallax.views[truth.middle_camera];
        truth.sticker_radius = middle.focal * parallax.sticker_radius / middle.distance;
        truth.sticker_spacing = cv::norm(truth.stickers[truth.middle_camera][2] -
                                         truth.stickers[truth.middle_camera][0]) /
                                2.0;
        return scene;
    }
    truth.poses = draw_poses(options, truth.middle_camera);
    truth.sticker_radius = 0.025 * min_side(options);
    truth.sticker_spacing = 0.18 * options.height;
    truth.marker_spacing = std::max(40.0, std::round(0.08 * min_side(options)));
    truth.marker_radius = std::max(4.0, 0.012 * min_side(options));

    const cv::Point2d middle = photo_centre(size) + options.sticker_offset;
    const double tilt = options.sticker_tilt_deg * CV_PI / 180.0;
    const cv::Point2d down(-std::sin(tilt), std::cos(tilt)); // top to bottom
    // The column shrinks until every sticker's label lies inside every photo,
    // but never below a third of its length: the options bound how far out
    // it may stand.
    for (double spacing = 0.18 * options.height; spacing >= 0.06 * options.height;
         spacing *= 0.97) {
        const cv::Point2d midpoint = middle - options.middle_shift * spacing * down;
        const cv::Point2d layout[3] = {midpoint - spacing * down, middle,
                                       midpoint + spacing * down};
        truth.sticker_spacing = spacing;
        truth.stickers.clear();
        bool inside = true;
        for (const CameraPose& pose : truth.poses) {
            const double reach = 1.4 * truth.sticker_radius * pose.scale + 2.0;
            std::array<cv::Point2d, 3> seen;
            for (int i = 0; i < 3; ++i) {
                seen[i] = camera_point(pose, size, layout[i]);
                inside = inside && seen[i].x >= reach && seen[i].y >= reach &&
                         seen[i].x <= size.width - 1 - reach &&
                         seen[i].y <= size.height - 1 - reach;
            }
            truth.stickers.push_back(seen);
        }
        if (inside)
            break;
    }

    cv::RNG rng = stream_rng(options.seed, Stream::Clutter);
    if (options.distractor)
        scene.distractor = place_distractor(options, truth.sticker_radius, rng);
    if (options.clutter)
        scene.specks = place_specks(options, middle, scene.distractor, rng);
    scene.world = world_rect(truth.poses, size);
    if (flat_light_changed(options))
        truth.reference_light = reference_light(options);
    return scene;
}

cv::Mat render_world(const RigScene& scene, PhotoKind kind)
{
    const WorldLook look = look_of(kind);
    cv::RNG rng = stream_rng(scene.truth.options.seed, look.stream);
    const cv::Size size = scene.world.size();
    const double unit = min_side(scene.truth.options);

    // Soft colour gradients from a coarse grid of scene colours.
    const int cell = std::max(8, static_cast<int>(unit / 8));
    cv::Mat coarse(size.height / cell + 2, size.width / cell + 2, CV_8UC3);
    for (int y = 0; y < coarse.rows; ++y)
        for (int x = 0; x < coarse.cols; ++x) {
            const cv::Scalar c = scene_colour(rng, look.darkest, look.brightest, look.tint);
            coarse.at<cv::Vec3b>(y, x) = cv::Vec3b(
                static_cast<uchar>(c[0]), static_cast<uchar>(c[1]), static_cast<uchar>(c[2]));
        }
    cv::Mat canvas;
    cv::resize(coarse, canvas, size, 0, 0, cv::INTER_LINEAR);

    for (int i = 0; i < look.shapes; ++i)
        draw_shape(canvas, rng, unit, scene_colour(rng, look.darkest, look.brightest, look.tint));
    if (kind == PhotoKind::Reference && scene.truth.options.colourful) {
        cv::RNG colours = stream_rng(scene.truth.options.seed, Stream::Colourful);
        for (int i = 0; i < 60; ++i)
            draw_shape(canvas, colours, unit, colourful_colour(colours, scene.truth.options));
    }

    // Sensor-like grain, the same on all channels so that hues keep their order.
    cv::Mat noise(1, size.width, CV_32F);
    for (int y = 0; y < size.height; ++y) {
        rng.fill(noise, cv::RNG::NORMAL, 0.0, look.noise_sigma);
        const float* n = noise.ptr<float>();
        auto* row = canvas.ptr<cv::Vec3b>(y);
        for (int x = 0; x < size.width; ++x)
            for (int ch = 0; ch < 3; ++ch)
                row[x][ch] = cv::saturate_cast<uchar>(row[x][ch] + n[x]);
    }
    return canvas;
}

cv::Mat render_photo(const RigScene& scene, PhotoKind kind, const cv::Mat& world, int camera)
{
    const RigGroundTruth& truth = scene.truth;
    const cv::Size size(truth.options.width, truth.options.height);
    const CameraPose& pose = truth.poses[camera];

    cv::Matx23d to_world = inverse_camera_matrix(pose, size);
    to_world(0, 2) -= scene.world.x;
    to_world(1, 2) -= scene.world.y;
    cv::Mat photo;
    cv::warpAffine(world, photo, to_world, size, cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                   cv::BORDER_REPLICATE);

    if (kind == PhotoKind::Shot) {
        const double radius = truth.marker_radius * pose.scale;
        for (const cv::Point2d& p : grid_in_camera(truth, camera, -(radius + 2.0)))
            paint_disc(photo, p, radius, cv::Scalar(240, 240, 240));
        return photo;
    }

    // The hidden camera's stickers (and everything else of their colour) are
    // covered by dark caps: a person can still click them, detection finds nothing.
    const cv::Scalar paint = camera == truth.options.hidden_camera
                                 ? cv::Scalar(60, 60, 60)
                                 : sticker_bgr(truth.options.color);
    for (const SceneEllipse& speck : scene.specks)
        paint_ellipse(photo, in_camera(speck, pose, size), paint);
    if (scene.distractor)
        paint_ellipse(photo, in_camera(*scene.distractor, pose, size), paint);
    // Each sticker sits on a plain grey label: with one colour all round, the
    // threshold cuts its rim at the same coverage everywhere and the detected
    // centroid stays on the true centre whatever the scene behind it.
    for (const cv::Point2d& centre : truth.stickers[camera]) {
        paint_disc(photo, centre, 1.4 * truth.sticker_radius * pose.scale,
                   cv::Scalar(160, 160, 160));
        paint_disc(photo, centre, truth.sticker_radius * pose.scale, paint);
    }
    if (!truth.reference_light.empty())
        return take_reference(photo, truth.reference_light[camera], truth.options, camera);
    return photo;
}

std::vector<cv::Point2d> marker_centres(const RigGroundTruth& truth, int camera)
{
    return grid_in_camera(truth, camera, 1.0);
}
