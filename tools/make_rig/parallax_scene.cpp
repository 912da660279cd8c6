#include "tools/make_rig/parallax_scene.h"

#include "tools/make_rig/rig_scene.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

constexpr double column_distance = 4.0; // metres from a camera to the column
constexpr double wall_behind = 4.0;     // metres from the column to the wall
constexpr double floor_below = 1.6;     // metres from the middle sticker down to the floor
constexpr double focal_per_width = 1.2; // a 45 degree view across the width

// Streams of their own, so that one option (takes, say) leaves the rest of a seed as it was.
enum class Stream : std::uint64_t
{
    Views = 11,
    Colours,
    Wall,
    Floor,
    Subjects = 1000 // one per take from here on
};

cv::RNG stream_rng(std::uint64_t seed, std::uint64_t stream)
{
    const std::uint64_t state = (seed + 1) * 0x9E3779B97F4A7C15ULL ^ stream * 0xBF58476D1CE4E5B9ULL;
    return cv::RNG(state);
}

cv::RNG stream_rng(std::uint64_t seed, Stream stream)
{
    return stream_rng(seed, static_cast<std::uint64_t>(stream));
}

double radians(double degrees)
{
    return degrees * CV_PI / 180.0;
}

cv::Point2d principal_point(cv::Size size)
{
    return {(size.width - 1) / 2.0, (size.height - 1) / 2.0};
}

// Camera axes (right, down, forward) as the columns of a world matrix.
cv::Matx33d camera_axes(const ViewPose& view)
{
    const double a = radians(view.angle_deg);
    const cv::Matx33d base(std::cos(a), 0, -std::sin(a), //
                           0, 1, 0,                      //
                           std::sin(a), 0, std::cos(a));
    const double y = radians(view.yaw_deg), p = radians(view.pitch_deg), r = radians(view.roll_deg);
    const cv::Matx33d yaw(std::cos(y), 0, std::sin(y), 0, 1, 0, -std::sin(y), 0, std::cos(y));
    const cv::Matx33d pitch(1, 0, 0, 0, std::cos(p), std::sin(p), 0, -std::sin(p), std::cos(p));
    const cv::Matx33d roll(std::cos(r), -std::sin(r), 0, std::sin(r), std::cos(r), 0, 0, 0, 1);
    return base * yaw * pitch * roll;
}

cv::Point3d camera_centre(const ViewPose& view)
{
    const double a = radians(view.angle_deg);
    return {view.distance * std::sin(a), view.height, -view.distance * std::cos(a)};
}

double lerp(double a, double b, double t)
{
    return a + (b - a) * t;
}

// sRGB <-> linear light: a table down, a fine table up.
struct SrgbTables
{
    float decode[256];
    std::vector<uchar> encode; // index: linear * (size - 1), rounded

    SrgbTables() : encode(65536)
    {
        for (int v = 0; v < 256; ++v) {
            const double c = v / 255.0;
            decode[v] =
                static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        const int last = static_cast<int>(encode.size()) - 1;
        for (int i = 0; i <= last; ++i) {
            const double l = static_cast<double>(i) / last;
            const double c = l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
            encode[i] = cv::saturate_cast<uchar>(c * 255.0);
        }
    }

    uchar to_srgb(float linear) const
    {
        const float clamped = std::min(1.0f, std::max(0.0f, linear));
        return encode[static_cast<size_t>(clamped * (encode.size() - 1) + 0.5f)];
    }
};

const SrgbTables& srgb()
{
    static const SrgbTables tables;
    return tables;
}

// Bilinear lookup in linear light; x wraps round when `wrap_x`, else both clamp.
cv::Vec3f sample(const cv::Mat& texture, double u, double v, bool wrap_x)
{
    const float* decode = srgb().decode;
    const double fx = std::floor(u), fy = std::floor(v);
    const float tx = static_cast<float>(u - fx), ty = static_cast<float>(v - fy);
    const auto column = [&](double x) {
        int i = static_cast<int>(x);
        if (wrap_x) {
            i %= texture.cols;
            return i < 0 ? i + texture.cols : i;
        }
        return std::clamp(i, 0, texture.cols - 1);
    };
    const int x0 = column(fx), x1 = column(fx + 1);
    const int y0 = std::clamp(static_cast<int>(fy), 0, texture.rows - 1);
    const int y1 = std::clamp(static_cast<int>(fy) + 1, 0, texture.rows - 1);
    const cv::Vec3b* r0 = texture.ptr<cv::Vec3b>(y0);
    const cv::Vec3b* r1 = texture.ptr<cv::Vec3b>(y1);
    cv::Vec3f out;
    for (int c = 0; c < 3; ++c) {
        const float top = decode[r0[x0][c]] * (1 - tx) + decode[r0[x1][c]] * tx;
        const float bottom = decode[r1[x0][c]] * (1 - tx) + decode[r1[x1][c]] * tx;
        out[c] = top * (1 - ty) + bottom * ty;
    }
    return out;
}

// An ellipsoid ready for many rays: its turn's cosine and sine worked out once.
struct Ellipsoid
{
    cv::Point3d centre;
    cv::Vec3d half_axes;
    double c = 1.0, s = 0.0;

    explicit Ellipsoid(const SceneSubject& subject)
        : centre(subject.centre),
          half_axes(subject.half_axes.x, subject.half_axes.y, subject.half_axes.z),
          c(std::cos(radians(subject.turn_deg))), s(std::sin(radians(subject.turn_deg)))
    {
    }

    // Distance along `dir` from `origin` to the surface, or infinity; `unit` gets
    // the point hit on the unit sphere of the ellipsoid's own frame.
    double hit(const cv::Point3d& origin, const cv::Vec3d& dir, cv::Vec3d* unit = nullptr) const
    {
        const cv::Point3d o = origin - centre;
        const cv::Vec3d lo((c * o.x - s * o.z) / half_axes[0], o.y / half_axes[1],
                           (s * o.x + c * o.z) / half_axes[2]);
        const cv::Vec3d ld((c * dir[0] - s * dir[2]) / half_axes[0], dir[1] / half_axes[1],
                           (s * dir[0] + c * dir[2]) / half_axes[2]);
        const double a = ld.dot(ld), b = lo.dot(ld), k = lo.dot(lo) - 1.0;
        const double disc = b * b - a * k;
        if (disc < 0)
            return std::numeric_limits<double>::infinity();
        const double d = (-b - std::sqrt(disc)) / a;
        if (d <= 0)
            return std::numeric_limits<double>::infinity();
        if (unit)
            *unit = lo + d * ld;
        return d;
    }

    // The outward normal, in the world, at `unit` (from hit).
    cv::Vec3d normal(const cv::Vec3d& unit) const
    {
        const cv::Vec3d n(unit[0] / half_axes[0], unit[1] / half_axes[1], unit[2] / half_axes[2]);
        const cv::Vec3d w(c * n[0] + s * n[2], n[1], -s * n[0] + c * n[2]);
        return w / cv::norm(w);
    }
};

struct Tracer
{
    const ParallaxTruth& truth;
    const ParallaxTextures& textures;
    std::optional<Ellipsoid> subject;
    const cv::Mat* subject_texture;
    bool reference;

    cv::Vec3f trace(const cv::Point3d& origin, const cv::Vec3d& dir) const
    {
        const double inf = std::numeric_limits<double>::infinity();
        const double to_wall = dir[2] > 0 ? (truth.wall_z - origin.z) / dir[2] : inf;
        const double to_floor = dir[1] > 0 ? (truth.floor_y - origin.y) / dir[1] : inf;
        cv::Vec3d unit;
        const double to_subject = subject ? subject->hit(origin, dir, &unit) : inf;
        cv::Vec3f colour(0, 0, 0);
        if (to_subject < std::min(to_wall, to_floor)) {
            // The texture's seam lies at the back, which no camera sees.
            const cv::Mat& tex = *subject_texture;
            const double u = (std::atan2(unit[0], -unit[2]) + CV_PI) / (2 * CV_PI);
            const double v = (std::asin(std::clamp(unit[1], -1.0, 1.0)) + CV_PI / 2) / CV_PI;
            colour = sample(tex, u * tex.cols - 0.5, v * tex.rows - 0.5, true);
            // Lit from the upper left, in front: the subject reads as a body.
            const cv::Vec3d light(-0.45, -0.6, -0.66);
            colour *=
                static_cast<float>(0.55 + 0.45 * std::max(0.0, subject->normal(unit).dot(light)));
        } else if (to_floor < to_wall) {
            const cv::Rect2d& a = textures.floor_area;
            const double x = origin.x + to_floor * dir[0], z = origin.z + to_floor * dir[2];
            colour = 0.85f * sample(textures.floor, (x - a.x) / a.width * textures.floor.cols - 0.5,
                                    (z - a.y) / a.height * textures.floor.rows - 0.5, false);
        } else if (to_wall < inf) {
            const cv::Rect2d& a = textures.wall_area;
            const double x = origin.x + to_wall * dir[0], y = origin.y + to_wall * dir[1];
            colour = sample(textures.wall, (x - a.x) / a.width * textures.wall.cols - 0.5,
                            (y - a.y) / a.height * textures.wall.rows - 0.5, false);
        }
        // References keep red at or below green and blue, a convex set that
        // neither sticker preset reaches, whatever is blended or compressed.
        if (reference)
            colour[2] = std::min({colour[0], colour[1], colour[2]});
        return colour;
    }
};

// A ray through the photo pixel `p` of `view`.
cv::Vec3d ray(const cv::Matx33d& axes, const ViewPose& view, cv::Size size, cv::Point2d p)
{
    const cv::Point2d c = principal_point(size);
    return axes * cv::Vec3d((p.x - c.x) / view.focal, (p.y - c.y) / view.focal, 1.0);
}

// The share of a photo of `view` the subject hides, on a coarse grid of rays.
double coverage_of(const SceneSubject& subject, const ParallaxTruth& truth, const ViewPose& view,
                   cv::Size size)
{
    const cv::Matx33d axes = camera_axes(view);
    const cv::Point3d origin = camera_centre(view);
    const Ellipsoid ellipsoid(subject);
    const int nx = 64, ny = 48;
    int hidden = 0;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const cv::Vec3d dir =
                ray(axes, view, size, {(i + 0.5) * size.width / nx, (j + 0.5) * size.height / ny});
            const double d = ellipsoid.hit(origin, dir);
            if (d < std::numeric_limits<double>::infinity() &&
                origin.y + d * dir[1] < truth.floor_y)
                ++hidden;
        }
    return static_cast<double>(hidden) / (nx * ny);
}

// Sizes and places the subject of one take until it hides 20 to 50 % of every shot.
SceneSubject draw_subject(const RigOptions& options, const ParallaxTruth& truth, int take)
{
    cv::RNG rng = stream_rng(options.seed, static_cast<std::uint64_t>(Stream::Subjects) + take);
    const cv::Size size(options.width, options.height);
    SceneSubject best;
    double best_miss = std::numeric_limits<double>::max();
    for (int attempt = 0; attempt < 20; ++attempt) {
        SceneSubject s;
        s.centre = {rng.uniform(-0.4, 0.4), rng.uniform(-0.2, 0.4), rng.uniform(-0.5, 0.5)};
        const double aspect = rng.uniform(0.9, 1.6);
        // A first guess from the view's size at the column, then scaled towards
        // a coverage drawn in the middle of the range.
        const double wanted = rng.uniform(0.24, 0.44);
        const double view_area = (options.width * column_distance / truth.views[0].focal) *
                                 (options.height * column_distance / truth.views[0].focal);
        double a = std::sqrt(wanted * view_area / (CV_PI * aspect));
        const double depth = rng.uniform(0.6, 1.1);
        // Little enough that the texture's seam stays at the back.
        s.turn_deg = rng.uniform(-30.0, 30.0);
        for (int round = 0; round < 6; ++round) {
            s.half_axes = {a, a * aspect, a * depth};
            double low = 1.0, high = 0.0;
            for (const ViewPose& view : truth.views) {
                const double c = coverage_of(s, truth, view, size);
                low = std::min(low, c);
                high = std::max(high, c);
            }
            s.coverage = {low, high};
            const double miss = std::max(0.0, 0.2 - low) + std::max(0.0, high - 0.5);
            if (miss < best_miss) {
                best = s;
                best_miss = miss;
            }
            if (miss == 0.0)
                return s;
            a *= std::sqrt(wanted / std::max(0.01, (low + high) / 2));
        }
    }
    return best;
}

// A colour of any hue, never too bright for the gains and exposures to clip.
cv::Scalar texture_colour(cv::RNG& rng)
{
    cv::Mat hsv(1, 1, CV_8UC3,
                cv::Scalar(rng.uniform(0, 180), rng.uniform(70, 220), rng.uniform(55, 200)));
    cv::Mat bgr;
    cv::cvtColor(hsv, bgr, cv::COLOR_HSV2BGR);
    const cv::Vec3b c = bgr.at<cv::Vec3b>(0, 0);
    return {double(c[0]), double(c[1]), double(c[2])};
}

// Soft fields of colour under many sharp shapes, with a grain: texture at every
// scale and every hue. `per_metre` texels per metre; shapes of 4 to 40 cm.
cv::Mat make_texture(cv::Size size, double per_metre, cv::RNG& rng)
{
    const int cell = std::max(4, static_cast<int>(0.6 * per_metre));
    cv::Mat coarse(size.height / cell + 2, size.width / cell + 2, CV_8UC3);
    for (int y = 0; y < coarse.rows; ++y)
        for (int x = 0; x < coarse.cols; ++x) {
            const cv::Scalar c = texture_colour(rng);
            coarse.at<cv::Vec3b>(y, x) =
                cv::Vec3b(cv::saturate_cast<uchar>(c[0]), cv::saturate_cast<uchar>(c[1]),
                          cv::saturate_cast<uchar>(c[2]));
        }
    cv::Mat canvas;
    cv::resize(coarse, canvas, size, 0, 0, cv::INTER_LINEAR);

    const double area = size.area() / (per_metre * per_metre);
    const int shapes = static_cast<int>(30.0 * area);
    for (int i = 0; i < shapes; ++i) {
        const cv::Scalar colour = texture_colour(rng);
        const cv::Point centre(rng.uniform(0, size.width), rng.uniform(0, size.height));
        const double r = per_metre * rng.uniform(0.02, 0.2);
        switch (rng.uniform(0, 4)) {
        case 0: {
            const cv::RotatedRect box(centre,
                                      cv::Size2f(float(2 * r), float(r * rng.uniform(0.3, 1.5))),
                                      static_cast<float>(rng.uniform(0.0, 180.0)));
            cv::Point2f corners[4];
            box.points(corners);
            cv::Point points[4];
            for (int k = 0; k < 4; ++k)
                points[k] = corners[k];
            cv::fillConvexPoly(canvas, points, 4, colour, cv::LINE_AA);
            break;
        }
        case 1:
            cv::circle(canvas, centre, std::max(1, static_cast<int>(r)), colour, cv::FILLED,
                       cv::LINE_AA);
            break;
        case 2: {
            const cv::Point end = centre + cv::Point(static_cast<int>(rng.uniform(-3.0, 3.0) * r),
                                                     static_cast<int>(rng.uniform(-3.0, 3.0) * r));
            cv::line(canvas, centre, end, colour, std::max(1, static_cast<int>(r * 0.15)),
                     cv::LINE_AA);
            break;
        }
        default:
            cv::ellipse(canvas, centre,
                        cv::Size(std::max(1, static_cast<int>(r)),
                                 std::max(1, static_cast<int>(r * rng.uniform(0.3, 1.0)))),
                        rng.uniform(0.0, 180.0), 0.0, 360.0, colour, cv::FILLED, cv::LINE_AA);
            break;
        }
    }

    cv::Mat noise(size, CV_16SC3);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, 4.0);
    cv::Mat grained;
    canvas.convertTo(grained, CV_16SC3);
    grained += noise;
    grained.convertTo(canvas, CV_8UC3);
    return canvas;
}

// Texels per metre for a surface seen from `distance` by a camera of focal
// `focal`, with at most `max_texels` over `area`.
double texel_density(double focal, double distance, const cv::Rect2d& area, double max_texels)
{
    const double wanted = focal / distance / 1.3;
    return std::min(wanted, std::sqrt(max_texels / area.area()));
}

cv::Size texture_size(const cv::Rect2d& area, double per_metre)
{
    return {std::max(2, static_cast<int>(std::ceil(area.width * per_metre))),
            std::max(2, static_cast<int>(std::ceil(area.height * per_metre)))};
}

} // namespace

bool ColourResponse::neutral() const
{
    return gain[0] == 1.0 && gain[1] == 1.0 && gain[2] == 1.0 && exposure_ev == 0.0 &&
           vignetting == 0.0;
}

ViewPose view_at(const ParallaxTruth& truth, double position)
{
    const int last = static_cast<int>(truth.views.size()) - 1;
    const double p = std::clamp(position, 0.0, static_cast<double>(last));
    const int i = std::min(static_cast<int>(std::floor(p)), std::max(0, last - 1));
    if (last == 0)
        return truth.views[0];
    const double t = p - i;
    const ViewPose& a = truth.views[i];
    const ViewPose& b = truth.views[i + 1];
    return {lerp(a.angle_deg, b.angle_deg, t), lerp(a.distance, b.distance, t),
            lerp(a.height, b.height, t),       lerp(a.yaw_deg, b.yaw_deg, t),
            lerp(a.pitch_deg, b.pitch_deg, t), lerp(a.roll_deg, b.roll_deg, t),
            lerp(a.focal, b.focal, t)};
}

cv::Point2d project(const ViewPose& view, cv::Size size, const cv::Point3d& point)
{
    const cv::Point3d d = point - camera_centre(view);
    const cv::Vec3d local = camera_axes(view).t() * cv::Vec3d(d.x, d.y, d.z);
    const cv::Point2d c = principal_point(size);
    return {c.x + view.focal * local[0] / local[2], c.y + view.focal * local[1] / local[2]};
}

std::array<cv::Point2d, 3> sticker_centres(const ParallaxTruth& truth, const ViewPose& view,
                                           cv::Size size)
{
    return {project(view, size, {0, -truth.sticker_spacing, 0}), project(view, size, {0, 0, 0}),
            project(view, size, {0, truth.sticker_spacing, 0})};
}

cv::Matx23d least_squares_similarity(const std::array<cv::Point2d, 3>& from,
                                     const std::array<cv::Point2d, 3>& to)
{
    const cv::Point2d mf = (from[0] + from[1] + from[2]) / 3.0;
    const cv::Point2d mt = (to[0] + to[1] + to[2]) / 3.0;
    double a = 0, b = 0, n = 0;
    for (int i = 0; i < 3; ++i) {
        const cv::Point2d f = from[i] - mf, t = to[i] - mt;
        a += f.x * t.x + f.y * t.y;
        b += f.x * t.y - f.y * t.x;
        n += f.x * f.x + f.y * f.y;
    }
    a /= n;
    b /= n;
    return {a, -b, mt.x - (a * mf.x - b * mf.y), b, a, mt.y - (b * mf.x + a * mf.y)};
}

cv::Matx23d alignment_of(const ParallaxTruth& truth, const ViewPose& view, cv::Size size)
{
    const int middle = static_cast<int>(truth.views.size()) / 2;
    return least_squares_similarity(sticker_centres(truth, view, size),
                                    sticker_centres(truth, truth.views[middle], size));
}

CameraPose pose_of(const cv::Matx23d& alignment, cv::Size size)
{
    cv::Matx23d m;
    cv::invertAffineTransform(alignment, m);
    const double a = m(0, 0), b = m(1, 0);
    const cv::Point2d c = photo_centre(size);
    CameraPose pose;
    pose.scale = std::hypot(a, b);
    pose.rotation_deg = std::atan2(b, a) * 180.0 / CV_PI + 0.0; // no "-0" in the file
    pose.shift = {m(0, 2) - c.x + (a * c.x - b * c.y), m(1, 2) - c.y + (b * c.x + a * c.y)};
    return pose;
}

ParallaxTruth plan_parallax(const RigOptions& options)
{
    ParallaxTruth truth;
    const cv::Size size(options.width, options.height);
    const int n = options.cameras, middle = n / 2;
    const double focal = focal_per_width * options.width;
    truth.sticker_colour = options.color;
    truth.wall_z = wall_behind;
    truth.floor_y = floor_below;
    // Stickers as large as in the flat rig, seen from the middle camera.
    truth.sticker_spacing = 0.18 * options.height * column_distance / focal;
    truth.sticker_radius =
        0.025 * std::min(options.width, options.height) * column_distance / focal;

    cv::RNG rng = stream_rng(options.seed, Stream::Views);
    for (int k = 0; k < n; ++k) {
        ViewPose v;
        v.angle_deg = n > 1 ? options.arc_deg * (static_cast<double>(k) / (n - 1) - 0.5) : 0.0;
        // A rig is never set up exactly: each camera a little off its place and aim.
        // Drawn for the middle camera too, so a camera's pose does not depend on the count.
        const double distance = column_distance * (1.0 + rng.uniform(-0.03, 0.03));
        const double height = rng.uniform(-0.03, 0.03);
        const double yaw = rng.uniform(-1.5, 1.5), pitch = rng.uniform(-1.0, 1.0),
                     roll = rng.uniform(-2.0, 2.0);
        const double f = focal * (1.0 + rng.uniform(-0.02, 0.02));
        v.distance = column_distance;
        v.focal = focal;
        if (k != middle) {
            v.distance = distance;
            v.height = height;
            v.yaw_deg = yaw;
            v.pitch_deg = pitch;
            v.roll_deg = roll;
            v.focal = f;
        }
        truth.views.push_back(v);
    }

    cv::RNG colour_rng = stream_rng(options.seed, Stream::Colours);
    for (int k = 0; k < n; ++k) {
        ColourResponse c;
        std::array<double, 3> g;
        for (double& x : g)
            x = colour_rng.uniform(-1.0, 1.0);
        const double ev = colour_rng.uniform(-1.0, 1.0), vig = colour_rng.uniform(0.0, 1.0);
        if (k != middle) {
            for (int ch = 0; ch < 3; ++ch)
                c.gain[ch] = 1.0 + options.colour_spread * g[ch];
            c.exposure_ev = options.exposure_spread * ev;
            c.vignetting = options.vignetting * vig;
        }
        truth.colours.push_back(c);
    }

    for (int take = 0; take < options.takes; ++take)
        truth.subjects.push_back(draw_subject(options, truth, take));
    return truth;
}

ParallaxTextures make_textures(const RigOptions& options, const ParallaxTruth& truth)
{
    const cv::Size size(options.width, options.height);
    // What the cameras see of the wall and the floor, from rays along their borders.
    double wx0 = 1e9, wx1 = -1e9, wy0 = 1e9, wy1 = -1e9, fx0 = 1e9, fx1 = -1e9, fz0 = 1e9;
    for (const ViewPose& view : truth.views) {
        const cv::Matx33d axes = camera_axes(view);
        const cv::Point3d o = camera_centre(view);
        const int steps = 16;
        for (int i = 0; i <= steps; ++i)
            for (int side = 0; side < 4; ++side) {
                const double s = static_cast<double>(i) / steps;
                const cv::Point2d p = side == 0   ? cv::Point2d(s * size.width, 0)
                                      : side == 1 ? cv::Point2d(s * size.width, size.height)
                                      : side == 2 ? cv::Point2d(0, s * size.height)
                                                  : cv::Point2d(size.width, s * size.height);
                const cv::Vec3d d = ray(axes, view, size, p);
                const double tw = (truth.wall_z - o.z) / d[2];
                wx0 = std::min(wx0, o.x + tw * d[0]);
                wx1 = std::max(wx1, o.x + tw * d[0]);
                wy0 = std::min(wy0, o.y + tw * d[1]);
                wy1 = std::max(wy1, o.y + tw * d[1]);
                if (d[1] > 0) {
                    const double tf = (truth.floor_y - o.y) / d[1];
                    if (o.z + tf * d[2] < truth.wall_z) {
                        fx0 = std::min(fx0, o.x + tf * d[0]);
                        fx1 = std::max(fx1, o.x + tf * d[0]);
                        fz0 = std::min(fz0, o.z + tf * d[2]);
                    }
                }
            }
    }
    const double margin = 0.5;
    wy1 = std::min(wy1, truth.floor_y);
    fx0 = std::min(fx0, wx0);
    fx1 = std::max(fx1, wx1);
    fz0 = std::min(fz0, truth.wall_z - 1.0);

    ParallaxTextures t;
    t.wall_area = {wx0 - margin, wy0 - margin, wx1 - wx0 + 2 * margin, wy1 - wy0 + 2 * margin};
    t.floor_area = {fx0 - margin, fz0 - margin, fx1 - fx0 + 2 * margin,
                    truth.wall_z - fz0 + 2 * margin};
    const double focal = truth.views[truth.views.size() / 2].focal;
    const double max_texels = 16e6;
    const double wall_density =
        texel_density(focal, column_distance + truth.wall_z, t.wall_area, max_texels);
    const double floor_density =
        texel_density(focal, column_distance + 1.0, t.floor_area, max_texels);
    cv::RNG wall_rng = stream_rng(options.seed, Stream::Wall);
    t.wall = make_texture(texture_size(t.wall_area, wall_density), wall_density, wall_rng);
    cv::RNG floor_rng = stream_rng(options.seed, Stream::Floor);
    t.floor = make_texture(texture_size(t.floor_area, floor_density), floor_density, floor_rng);
    t.subjects.resize(truth.subjects.size());
    return t;
}

void add_subject_texture(ParallaxTextures& textures, const RigOptions& options,
                         const ParallaxTruth& truth, int take)
{
    const SceneSubject& s = truth.subjects.at(take);
    const cv::Rect2d area(0, 0, 2 * CV_PI * std::max(s.half_axes.x, s.half_axes.z),
                          CV_PI * s.half_axes.y);
    const double focal = truth.views[truth.views.size() / 2].focal;
    const double density = texel_density(focal, column_distance, area, 8e6);
    // A stream of its own per take: another subject, in other colours.
    cv::RNG rng =
        stream_rng(options.seed, static_cast<std::uint64_t>(Stream::Subjects) + 500 + take);
    textures.subjects.at(take) = make_texture(texture_size(area, density), density, rng);
}

cv::Mat render_view(const ParallaxTruth& truth, const ParallaxTextures& textures,
                    const ViewRequest& request, cv::Size size)
{
    const ViewPose& view = request.view;
    const cv::Matx33d axes = camera_axes(view);
    const cv::Point3d origin = camera_centre(view);
    const bool with_subject = request.take >= 0;
    Tracer tracer{truth, textures, std::nullopt,
                  with_subject ? &textures.subjects.at(request.take) : nullptr, request.reference};
    if (with_subject)
        tracer.subject.emplace(truth.subjects.at(request.take));
    const SrgbTables& tables = srgb();
    const cv::Matx23d& m = request.to_view;

    // Output pixel -> ray, all linear: one matrix.
    const cv::Point2d c = principal_point(size);
    const cv::Matx33d to_camera(1 / view.focal, 0, -c.x / view.focal, //
                                0, 1 / view.focal, -c.y / view.focal, //
                                0, 0, 1);
    const cv::Matx33d to_ray =
        axes * to_camera *
        cv::Matx33d(m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2), 0, 0, 1);

    cv::Mat image(size, CV_8UC3);
    cv::parallel_for_(cv::Range(0, size.height), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            auto* row = image.ptr<cv::Vec3b>(y);
            for (int x = 0; x < size.width; ++x) {
                cv::Vec3f sum(0, 0, 0);
                for (const double dy : {-0.25, 0.25})
                    for (const double dx : {-0.25, 0.25})
                        sum += tracer.trace(origin, to_ray * cv::Vec3d(x + dx, y + dy, 1.0));
                for (int c = 0; c < 3; ++c)
                    row[x][c] = tables.to_srgb(sum[c] / 4.0f);
            }
        }
    });

    return image;
}

void paint_stickers(cv::Mat& image, const ParallaxTruth& truth, const ViewRequest& request)
{
    // Balls on the column, each on a grey label facing the camera; the hidden
    // camera's are capped in dark grey.
    const ViewPose& view = request.view;
    const cv::Matx33d axes = camera_axes(view);
    const cv::Point3d origin = camera_centre(view);
    const cv::Matx23d& m = request.to_view;
    cv::Matx23d to_output;
    cv::invertAffineTransform(m, to_output);
    const double scale = std::sqrt(std::abs(cv::determinant(
        cv::Matx22d(to_output(0, 0), to_output(0, 1), to_output(1, 0), to_output(1, 1)))));
    const cv::Scalar paint =
        request.hidden ? cv::Scalar(60, 60, 60) : sticker_bgr(truth.sticker_colour);
    const std::array<cv::Point3d, 3> centres = {cv::Point3d(0, -truth.sticker_spacing, 0),
                                                cv::Point3d(0, 0, 0),
                                                cv::Point3d(0, truth.sticker_spacing, 0)};
    for (const cv::Point3d& c : centres) {
        const cv::Point3d d = c - origin;
        const double depth = (axes.t() * cv::Vec3d(d.x, d.y, d.z))[2];
        const double radius = view.focal * truth.sticker_radius / depth * scale;
        const cv::Point2d at = apply(to_output, project(view, image.size(), c));
        paint_disc(image, at, 1.4 * radius, cv::Scalar(160, 160, 160));
        paint_disc(image, at, radius, paint);
    }
}

cv::Mat apply_colour_response(const cv::Mat& neutral, const ColourResponse& response)
{
    if (response.neutral())
        return neutral.clone();
    const SrgbTables& tables = srgb();
    const double exposure = std::pow(2.0, response.exposure_ev);
    const cv::Point2d c = principal_point(neutral.size());
    const double corner2 = c.x * c.x + c.y * c.y;
    cv::Mat out(neutral.size(), CV_8UC3);
    cv::parallel_for_(cv::Range(0, neutral.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const auto* in = neutral.ptr<cv::Vec3b>(y);
            auto* row = out.ptr<cv::Vec3b>(y);
            for (int x = 0; x < neutral.cols; ++x) {
                const double r2 = ((x - c.x) * (x - c.x) + (y - c.y) * (y - c.y)) / corner2;
                const double light = exposure * (1.0 - response.vignetting * r2);
                for (int ch = 0; ch < 3; ++ch)
                    row[x][ch] = tables.to_srgb(
                        static_cast<float>(tables.decode[in[x][ch]] * response.gain[ch] * light));
            }
        }
    });
    return out;
}

ViewRequest photo_request(const RigOptions& options, const ParallaxTruth& truth, int camera,
                          int take)
{
    ViewRequest request;
    request.view = truth.views.at(camera);
    request.take = take;
    request.reference = take < 0;
    request.hidden = request.reference && camera == options.hidden_camera;
    if (!request.reference && camera == options.moved_camera)
        request.to_view = inverse_camera_matrix(options.move, {options.width, options.height});
    return request;
}

ViewRequest aligned_request(const RigOptions& options, const ParallaxTruth& truth, double position,
                            int take)
{
    const cv::Size size(options.width, options.height);
    ViewRequest request;
    request.view = view_at(truth, position);
    request.take = take;
    cv::invertAffineTransform(alignment_of(truth, request.view, size), request.to_view);
    return request;
}
