#include "output/in_between_frames.h"

#include "output/optical_flow.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <cmath>
#include <future>
#include <limits>

namespace {

// A flow that does not come back to within this many pixels of where it
// started marks a pixel the other frame does not see. Two pixels, not one:
// a tighter check turns away flow that is only slightly off, and such pixels
// then lose their share of the blend.
constexpr float consistent_within = 2.0f;
// Contributions this close in depth (pixels of motion) to the nearest one at
// a spot are the same surface and are blended.
constexpr float same_surface_within = 2.0f;
// Two spots whose colours differ by at most this much per channel, on average
// over 3 x 3 pixels, show the same thing.
constexpr int same_colours_within = 10;
// A frame's reading of a spot that shows a surface nearer than the spot's own
// by more than this (pixels of motion) shows what stands in front of it: the
// subject and the wall behind it differ by tens of pixels.
constexpr float in_front_by = 6.0f * same_surface_within;
// Weight of a pixel the other frame does not see: used where nothing seen by
// both lands.
constexpr float unseen_weight = 0.2f;
// Long side (pixels) at which the in-between view is worked out.
constexpr int work_long_side = 960;

// `frame` at the work size.
cv::Mat reduced(const cv::Mat& frame, cv::Size size)
{
    if (frame.size() == size)
        return frame;
    cv::Mat out;
    cv::resize(frame, out, size, 0, 0, cv::INTER_AREA);
    return out;
}

// `flow` brought to `size`, its vectors scaled with it: INTER_AREA to reduce
// a flow, INTER_LINEAR to enlarge one.
cv::Mat resized_flow(const cv::Mat& flow, cv::Size size, int interpolation)
{
    if (flow.size() == size)
        return flow;
    cv::Mat out;
    cv::resize(flow, out, size, 0, 0, interpolation);
    cv::multiply(out, cv::Scalar(double(size.width) / flow.cols, double(size.height) / flow.rows),
                 out);
    return out;
}

// `image` sampled at p + flow(p), clamped at the borders.
cv::Mat sample_along(const cv::Mat& image, const cv::Mat& flow, float factor)
{
    cv::Mat map(flow.size(), CV_32FC2);
    for (int y = 0; y < flow.rows; ++y) {
        const cv::Vec2f* f = flow.ptr<cv::Vec2f>(y);
        cv::Vec2f* m = map.ptr<cv::Vec2f>(y);
        for (int x = 0; x < flow.cols; ++x)
            m[x] = cv::Vec2f(x + factor * f[x][0], y + factor * f[x][1]);
    }
    cv::Mat sampled;
    cv::remap(image, sampled, map, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    return sampled;
}

// Per pixel of the frame `flow` starts from: 1 where the other frame sees it
// (its flow comes back, to the same colours), unseen_weight where it does not
// or where it leaves the picture: what only this frame shows near its border
// still comes from it, not from the neighbouring pixels' guess.
cv::Mat visibility(const cv::Mat& flow, const cv::Mat& other_flow, const cv::Mat& frame,
                   const cv::Mat& other_frame)
{
    const cv::Mat back = sample_along(other_flow, flow, 1.0f);
    // Flow smeared across an outline can come back and still be wrong: the
    // colours it leads to must match too.
    cv::Mat difference;
    cv::absdiff(frame, sample_along(other_frame, flow, 1.0f), difference);
    cv::cvtColor(difference, difference, cv::COLOR_BGR2GRAY);
    cv::blur(difference, difference, cv::Size(3, 3));
    cv::Mat weight(flow.size(), CV_32F);
    for (int y = 0; y < flow.rows; ++y) {
        const cv::Vec2f* f = flow.ptr<cv::Vec2f>(y);
        const cv::Vec2f* b = back.ptr<cv::Vec2f>(y);
        float* w = weight.ptr<float>(y);
        for (int x = 0; x < flow.cols; ++x) {
            const float tx = x + f[x][0], ty = y + f[x][1];
            if (tx < -0.5f || ty < -0.5f || tx > flow.cols - 0.5f || ty > flow.rows - 0.5f) {
                w[x] = unseen_weight;
                continue;
            }
            const float ex = f[x][0] + b[x][0], ey = f[x][1] + b[x][1];
            w[x] = ex * ex + ey * ey <= consistent_within * consistent_within &&
                           difference.at<uchar>(y, x) <= same_colours_within
                       ? 1.0f
                       : unseen_weight;
        }
    }
    return weight;
}

// Mean difference per channel over the 3 x 3 pixels of `frame` around x, y and
// of `other_frame` around where `f` takes them, or -1 when that lies outside.
int patch_difference(const cv::Mat& frame, const cv::Mat& other_frame, int x, int y,
                     const cv::Vec2f& f)
{
    const int tx = cvRound(x + f[0]), ty = cvRound(y + f[1]);
    if (tx < 1 || ty < 1 || tx >= frame.cols - 1 || ty >= frame.rows - 1 || x < 1 || y < 1 ||
        x >= frame.cols - 1 || y >= frame.rows - 1)
        return -1;
    int sum = 0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const cv::Vec3b a = frame.at<cv::Vec3b>(y + dy, x + dx);
            const cv::Vec3b b = other_frame.at<cv::Vec3b>(ty + dy, tx + dx);
            sum += std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]);
        }
    return sum / 27;
}

// The wall's motion between two frames as a homography, from corners tracked
// both ways: after alignment on the sticker column the wall moves farther than
// anything else, and where it moves far beside a large subject the dense flow
// loses it, while a corner tracked over a deep pyramid does not.
struct WallMotion
{
    bool found = false;
    float far = 1.0f;              // the sign of the wall's horizontal motion
    cv::Matx33f forward, backward; // point in one frame to the same point in the other

    cv::Vec2f flow(const cv::Matx33f& map, int x, int y) const
    {
        const float d = map(2, 0) * x + map(2, 1) * y + map(2, 2);
        return cv::Vec2f((map(0, 0) * x + map(0, 1) * y + map(0, 2)) / d - x,
                         (map(1, 0) * x + map(1, 1) * y + map(1, 2)) / d - y);
    }
};

WallMotion wall_motion(const cv::Mat& first, const cv::Mat& second)
{
    WallMotion wall;
    cv::Mat a, b;
    cv::cvtColor(first, a, cv::COLOR_BGR2GRAY);
    cv::cvtColor(second, b, cv::COLOR_BGR2GRAY);
    std::vector<cv::Point2f> corners, there, back;
    cv::goodFeaturesToTrack(a, corners, 800, 0.01, 8);
    if (corners.size() < 24)
        return wall;
    std::vector<uchar> found, found_back;
    std::vector<float> error;
    const cv::Size window(21, 21);
    const int levels = 5; // motion of a hundred pixels and more at the work size
    cv::calcOpticalFlowPyrLK(a, b, corners, there, found, error, window, levels);
    cv::calcOpticalFlowPyrLK(b, a, there, back, found_back, error, window, levels);
    std::vector<cv::Point2f> from, to;
    std::vector<float> xs;
    for (size_t i = 0; i < corners.size(); ++i)
        if (found[i] && found_back[i] && cv::norm(back[i] - corners[i]) <= 0.5) {
            from.push_back(corners[i]);
            to.push_back(there[i]);
            xs.push_back(there[i].x - corners[i].x);
        }
    if (xs.size() < 24)
        return wall;
    std::vector<float> sorted = xs;
    std::sort(sorted.begin(), sorted.end());
    const float lowest = sorted[sorted.size() / 20];
    const float highest = sorted[sorted.size() - 1 - sorted.size() / 20];
    wall.far = -lowest > highest ? -1.0f : 1.0f;
    const float farthest = wall.far > 0 ? highest : -lowest;
    // The wall: the tracks within a fifth of the farthest motion.
    std::vector<cv::Point2f> wall_from, wall_to;
    for (size_t i = 0; i < xs.size(); ++i)
        if (wall.far * xs[i] >= 0.8f * farthest) {
            wall_from.push_back(from[i]);
            wall_to.push_back(to[i]);
        }
    constexpr int fewest = 12;
    if (wall_from.size() < fewest)
        return wall;
    // A plane seen from two cameras: a homography, not an affine map, so that
    // the wall's slant away from the cameras does not turn its tracks away.
    std::vector<uchar> inliers;
    cv::Mat map = cv::findHomography(wall_from, wall_to, cv::RANSAC, 1.5, inliers, 2000, 0.999);
    const int kept = cv::countNonZero(inliers);
    if (map.empty() || kept < fewest || 2 * kept < static_cast<int>(wall_from.size()))
        return wall;
    map.convertTo(map, CV_32F);
    const cv::Matx33f forward(map.ptr<float>());
    // Fitted on a few tracks, a homography can bend away wherever there are
    // none. The wall lies behind everything over the whole picture, so at its
    // corners and centre its motion must stay on the far side, within a
    // quarter to twice the farthest motion tracked, and mostly sideways, as
    // the cameras stand side by side.
    const float w = static_cast<float>(first.cols - 1), h = static_cast<float>(first.rows - 1);
    const cv::Point2f spots[] = {{0, 0}, {w, 0}, {0, h}, {w, h}, {w / 2, h / 2}};
    for (const cv::Point2f& p : spots) {
        const cv::Vec2f f = wall.flow(forward, cvRound(p.x), cvRound(p.y));
        if (!(wall.far * f[0] >= 0.25f * farthest && wall.far * f[0] <= 2.0f * farthest &&
              std::abs(f[1]) <= 0.5f * farthest))
            return wall;
    }
    wall.found = true;
    wall.forward = forward;
    wall.backward = wall.forward.inv();
    return wall;
}

// Pixels the other frame does not seem to see that the wall's motion takes to
// the same colours: the wall, its flow lost. They take the wall's motion.
void rescue_wall(cv::Mat& flow, const cv::Mat& frame, const cv::Mat& other_frame,
                 cv::Mat& visible, const WallMotion& wall, const cv::Matx33f& map)
{
    for (int y = 0; y < flow.rows; ++y) {
        cv::Vec2f* f = flow.ptr<cv::Vec2f>(y);
        float* v = visible.ptr<float>(y);
        for (int x = 0; x < flow.cols; ++x) {
            if (v[x] >= 1.0f || v[x] <= 0.0f)
                continue;
            const cv::Vec2f w = wall.flow(map, x, y);
            const int d = patch_difference(frame, other_frame, x, y, w);
            if (d >= 0 && d <= same_colours_within) {
                f[x] = w;
                v[x] = 1.0f;
            }
        }
    }
}

// Per row of `flow`, the motion of the farthest surface the other frame sees
// there (`far` orders depth): what the subject uncovers or covers belongs to
// the surface behind it, and the flow found on such pixels is a guess smeared
// from the subject. Measured over a band of rows, at a high percentile so that
// stray pixels do not count; a row that sees none takes the nearest row's.
std::vector<cv::Vec2f> background_by_row(const cv::Mat& flow, const cv::Mat& visible, float far)
{
    constexpr int band = 12;         // rows either side
    constexpr double farthest = 0.9; // share of the row's seen pixels nearer than it
    std::vector<cv::Vec2f> rows(flow.rows);
    std::vector<char> found(flow.rows, 0);
    std::vector<float> depths;
    std::vector<float> ys;
    for (int y = 0; y < flow.rows; y += 2) {
        depths.clear();
        for (int r = std::max(0, y - band); r <= std::min(flow.rows - 1, y + band); r += 2) {
            const cv::Vec2f* f = flow.ptr<cv::Vec2f>(r);
            const float* v = visible.ptr<float>(r);
            for (int x = 0; x < flow.cols; x += 2)
                if (v[x] >= 1.0f)
                    depths.push_back(far * f[x][0]);
        }
        if (depths.size() < 16)
            continue;
        const size_t at = static_cast<size_t>(farthest * (depths.size() - 1));
        std::nth_element(depths.begin(), depths.begin() + at, depths.end());
        const float depth = depths[at];
        // Its vertical motion: the median of the pixels at that depth.
        ys.clear();
        for (int r = std::max(0, y - band); r <= std::min(flow.rows - 1, y + band); r += 2) {
            const cv::Vec2f* f = flow.ptr<cv::Vec2f>(r);
            const float* v = visible.ptr<float>(r);
            for (int x = 0; x < flow.cols; x += 2)
                if (v[x] >= 1.0f && std::abs(far * f[x][0] - depth) <= same_surface_within)
                    ys.push_back(f[x][1]);
        }
        std::nth_element(ys.begin(), ys.begin() + ys.size() / 2, ys.end());
        rows[y] = cv::Vec2f(far * depth, ys.empty() ? 0.0f : ys[ys.size() / 2]);
        found[y] = 1;
    }
    // Odd rows and rows that found nothing take the nearest row that did.
    int last = -1;
    for (int y = 0; y < flow.rows; ++y)
        if (found[y]) {
            for (int g = last + 1; g < y; ++g)
                rows[g] = last < 0 || y - g < g - last ? rows[y] : rows[last];
            last = y;
        }
    if (last < 0)
        return {};
    for (int g = last + 1; g < flow.rows; ++g)
        rows[g] = rows[last];
    return rows;
}

// `flow` mended where the other frame does not seem to see a pixel. Flow is
// smeared across outlines, in both frames, so each such pixel tries the flow of
// its nearest seen neighbours along the row, left and right: one that takes it
// to the same colours in the other frame makes it seen after all (a pixel of
// either surface beside the outline). Failing both, the pixel is being hidden
// by what stands in front, or uncovered: it belongs to the surface behind, the
// farthest of its neighbours' and the row's background (`background`): beside
// the subject the neighbours often carry the subject's smeared flow too. A
// neighbour as far as the background is preferred: it follows the surface's
// own slant.
cv::Mat mend_unseen(const cv::Mat& flow, const cv::Mat& frame, const cv::Mat& other_frame,
                    cv::Mat& visible, float far, const std::vector<cv::Vec2f>& background)
{
    cv::Mat mended = flow.clone();
    std::vector<int> left(flow.cols);
    auto difference = [&](int x, int y, const cv::Vec2f& f) {
        return patch_difference(frame, other_frame, x, y, f);
    };
    for (int y = 0; y < flow.rows; ++y) {
        const cv::Vec2f* f = flow.ptr<cv::Vec2f>(y);
        float* v = visible.ptr<float>(y);
        cv::Vec2f* m = mended.ptr<cv::Vec2f>(y);
        int last = -1;
        for (int x = 0; x < flow.cols; ++x) {
            if (v[x] >= 1.0f)
                last = x;
            left[x] = last;
        }
        last = -1;
        for (int x = flow.cols - 1; x >= 0; --x) {
            if (v[x] >= 1.0f) {
                last = x;
                continue;
            }
            if (v[x] <= 0.0f)
                continue;
            const int l = left[x];
            if (l < 0 && last < 0)
                continue;
            const int from_left = l < 0 ? -1 : difference(x, y, f[l]);
            const int from_right = last < 0 ? -1 : difference(x, y, f[last]);
            const bool left_fits = from_left >= 0 && from_left <= same_colours_within;
            const bool right_fits = from_right >= 0 && from_right <= same_colours_within;
            if (left_fits || right_fits) {
                m[x] = f[left_fits && (!right_fits || from_left <= from_right) ? l : last];
                v[x] = 1.0f;
            } else {
                const cv::Vec2f& neighbour = f[l < 0                               ? last
                                               : last < 0                          ? l
                                               : far * f[l][0] >= far * f[last][0] ? l
                                                                                   : last];
                m[x] = background.empty() ||
                               far * neighbour[0] >= far * background[y][0] - same_surface_within
                           ? neighbour
                           : background[y];
            }
        }
    }
    return mended;
}

// The in-between view as flows: per spot of it, where to read each frame and
// how much of the view comes from the second frame. Work-size pixels.
struct ViewFlow
{
    cv::Mat to_first;  // CV_32FC2: the spot shows first(p + to_first(p))
    cv::Mat to_second; // CV_32FC2
    cv::Mat share;     // CV_32F: the second frame's share of the colour
};

// Both frames' pixels carried along their flow to the in-between position `t`,
// each spread over the four spots it lands between. Where several surfaces
// land on one spot only the nearest counts (`depth`, smaller is nearer), and a
// pixel adds to a frame's reading only as far as that frame sees it, so what
// the subject uncovers is read from the one frame that shows it. Spots nothing
// lands on take the farther of their nearest neighbours along the row: they
// open behind what moves in front.
ViewFlow splat_view(const cv::Mat& forward, const cv::Mat& backward, const cv::Mat& visible_first,
                    const cv::Mat& visible_second, const cv::Mat& depth_first,
                    const cv::Mat& depth_second, float t)
{
    const int w = forward.cols, h = forward.rows;
    cv::Mat nearest(forward.size(), CV_32F, cv::Scalar(std::numeric_limits<float>::infinity()));
    // Per spot: sums of weight x flow to each frame, the weights seen by each
    // frame and all the weight landed.
    cv::Mat sums(forward.size(), CV_32FC(7), cv::Scalar::all(0));

    // Each source: its flow, the factor to the in-between position, its
    // visibility in the other frame, its depth, and whether it is the first.
    struct Source
    {
        const cv::Mat& flow;
        float factor;
        const cv::Mat& visible;
        const cv::Mat& depth;
        bool first;
    };
    const Source sources[2] = {{forward, t, visible_first, depth_first, true},
                               {backward, 1.0f - t, visible_second, depth_second, false}};
    auto for_each_landing = [&](const Source& source, auto&& visit) {
        for (int y = 0; y < h; ++y) {
            const cv::Vec2f* f = source.flow.ptr<cv::Vec2f>(y);
            const float* v = source.visible.ptr<float>(y);
            const float* z = source.depth.ptr<float>(y);
            for (int x = 0; x < w; ++x) {
                if (v[x] <= 0.0f)
                    continue;
                const float tx = x + source.factor * f[x][0], ty = y + source.factor * f[x][1];
                const float fx = std::floor(tx), fy = std::floor(ty);
                const int x0 = static_cast<int>(fx), y0 = static_cast<int>(fy);
                if (x0 < -1 || y0 < -1 || x0 >= w || y0 >= h)
                    continue;
                const float ax = tx - fx, ay = ty - fy;
                const float corner[4] = {(1 - ax) * (1 - ay), ax * (1 - ay), (1 - ax) * ay,
                                         ax * ay};
                for (int k = 0; k < 4; ++k) {
                    const int qx = x0 + (k & 1), qy = y0 + (k >> 1);
                    if (qx < 0 || qy < 0 || qx >= w || qy >= h || corner[k] <= 0.0f)
                        continue;
                    visit(qx, qy, corner[k], f[x], v[x], z[x]);
                }
            }
        }
    };
    // Each frame lands on its own arrays, the two on two cores, and they are
    // merged after: the nearest depth first, then the sums against it.
    cv::Mat nearest_second = nearest.clone();
    cv::Mat sums_second = sums.clone();
    cv::parallel_for_(cv::Range(0, 2), [&](const cv::Range& range) {
        for (int s = range.start; s < range.end; ++s) {
            cv::Mat& near = s == 0 ? nearest : nearest_second;
            for_each_landing(sources[s], [&](int qx, int qy, float weight, const cv::Vec2f&,
                                             float, float z) {
                if (weight >= 0.25f * 0.25f) {
                    float& n = near.at<float>(qy, qx);
                    n = std::min(n, z);
                }
            });
        }
    }, 2);
    cv::min(nearest, nearest_second, nearest);
    using Sums = cv::Vec<float, 7>;
    cv::parallel_for_(cv::Range(0, 2), [&](const cv::Range& range) {
        for (int s = range.start; s < range.end; ++s) {
            const Source& source = sources[s];
            cv::Mat& landed_sums = s == 0 ? sums : sums_second;
            for_each_landing(source, [&](int qx, int qy, float weight, const cv::Vec2f& f,
                                         float seen, float z) {
                if (z > nearest.at<float>(qy, qx) + same_surface_within)
                    return;
                Sums& sum = landed_sums.at<Sums>(qy, qx);
                // The pixel's own frame sees it; the other one as far as `seen` says.
                const float in_first = weight * (source.first ? 1.0f : seen);
                const float in_second = weight * (source.first ? seen : 1.0f);
                const cv::Vec2f to_first = source.first ? -t * f : t * f;
                const cv::Vec2f to_second = source.first ? (1.0f - t) * f : -(1.0f - t) * f;
                sum[0] += in_first * to_first[0];
                sum[1] += in_first * to_first[1];
                sum[2] += in_second * to_second[0];
                sum[3] += in_second * to_second[1];
                sum[4] += in_first;
                sum[5] += in_second;
                sum[6] += weight;
            });
        }
    }, 2);
    sums += sums_second;

    // The nearest surface each frame shows within three pixels of every
    // pixel, from the pixels the other frame sees: their depth is measured,
    // not guessed, and the flow is smeared over an outline's last pixels.
    cv::Mat front_first, front_second;
    const cv::Mat around = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(7, 7));
    const auto front_of = [&](const cv::Mat& depth, const cv::Mat& visible, cv::Mat& front) {
        front = depth.clone();
        front.setTo(std::numeric_limits<float>::infinity(), visible < 1.0f);
        cv::erode(front, front, around);
    };
    front_of(depth_first, visible_first, front_first);
    front_of(depth_second, visible_second, front_second);

    ViewFlow view;
    view.to_first.create(forward.size(), CV_32FC2);
    view.to_second.create(forward.size(), CV_32FC2);
    view.share.create(forward.size(), CV_32F);
    // Row by row, each row on its own: shared over the cores. A spot nothing
    // landed on then takes the reading of the closest landed spot of its row on
    // either side, of the two the one lying farther back. Last, where one
    // frame's reading shows what stands in front of the spot (beside the
    // subject's outline, the subject's rim where the frame does not see the
    // wall) and the other's shows the spot's own surface, the spot comes from
    // the other alone: the weight an unseen pixel keeps would otherwise leave
    // a see-through copy of the rim there.
    const auto shows_in_front = [&](const cv::Mat& front, const cv::Vec2f& to, int x, int y,
                                    float depth) {
        const int qx = cvRound(x + to[0]), qy = cvRound(y + to[1]);
        if (qx < 0 || qy < 0 || qx >= w || qy >= h || !std::isfinite(depth))
            return false;
        return front.at<float>(qy, qx) < depth - in_front_by;
    };
    const auto shows_spot = [&](const cv::Mat& own_depth, const cv::Vec2f& to, int x, int y,
                                float depth) {
        const int qx = cvRound(x + to[0]), qy = cvRound(y + to[1]);
        if (qx < 0 || qy < 0 || qx >= w || qy >= h)
            return false;
        return std::abs(own_depth.at<float>(qy, qx) - depth) <= in_front_by;
    };
    cv::parallel_for_(cv::Range(0, h), [&](const cv::Range& rows) {
        std::vector<uchar> l(static_cast<size_t>(w));
        std::vector<float> depth(static_cast<size_t>(w));
        for (int y = rows.start; y < rows.end; ++y) {
            const Sums* sum = sums.ptr<Sums>(y);
            const float* n = nearest.ptr<float>(y);
            cv::Vec2f* a = view.to_first.ptr<cv::Vec2f>(y);
            cv::Vec2f* b = view.to_second.ptr<cv::Vec2f>(y);
            float* share = view.share.ptr<float>(y);
            for (int x = 0; x < w; ++x) {
                const Sums& s = sum[x];
                l[x] = s[6] > 0.0f;
                depth[x] = n[x];
                if (!l[x])
                    continue;
                // A frame that sees no part of the spot lends it the other's reading.
                const cv::Vec2f fa(s[0] / std::max(s[4], 1e-6f), s[1] / std::max(s[4], 1e-6f));
                const cv::Vec2f fb(s[2] / std::max(s[5], 1e-6f), s[3] / std::max(s[5], 1e-6f));
                a[x] = s[4] > 0.0f ? fa : -(t / (1.0f - t)) * fb;
                b[x] = s[5] > 0.0f ? fb : -((1.0f - t) / t) * fa;
                const float ka = (1.0f - t) * s[4], kb = t * s[5];
                share[x] = kb / std::max(ka + kb, 1e-6f);
            }
            int left = -1;
            for (int x = 0; x < w; ++x) {
                if (l[x]) {
                    left = x;
                    continue;
                }
                int right = x + 1;
                while (right < w && !l[right])
                    ++right;
                int from = left;
                if (right < w && (left < 0 || n[right] > n[left]))
                    from = right;
                if (from < 0) {
                    a[x] = b[x] = cv::Vec2f(0, 0);
                    share[x] = t;
                    depth[x] = std::numeric_limits<float>::infinity();
                    continue;
                }
                a[x] = a[from];
                b[x] = b[from];
                share[x] = share[from];
                depth[x] = n[from];
            }
            for (int x = 0; x < w; ++x) {
                const bool first_in_front = shows_in_front(front_first, a[x], x, y, depth[x]);
                const bool second_in_front = shows_in_front(front_second, b[x], x, y, depth[x]);
                if (first_in_front && !second_in_front &&
                    shows_spot(depth_second, b[x], x, y, depth[x]))
                    share[x] = 1.0f;
                else if (second_in_front && !first_in_front &&
                         shows_spot(depth_first, a[x], x, y, depth[x]))
                    share[x] = 0.0f;
            }
        }
    });
    return view;
}

// The sign that makes a pixel's horizontal motion grow with its distance
// behind the sticker column. After alignment on the column what lies behind it
// moves one way and what stands in front the other, and the wall, twice as far
// from the cameras as the column, moves farther than a subject near the column:
// the motion of largest size, either way, is the wall's. (The median motion is
// not: a subject close to the cameras can fill most of the frame.)
float far_sign(const cv::Mat& forward)
{
    std::vector<float> xs;
    const int step = std::max(1, static_cast<int>(forward.total() / 20000));
    for (size_t i = 0; i < forward.total(); i += step)
        xs.push_back(forward.at<cv::Vec2f>(static_cast<int>(i / forward.cols),
                                           static_cast<int>(i % forward.cols))[0]);
    if (xs.empty())
        return 1.0f;
    // Percentiles, not the extremes: a few wild vectors do not decide it.
    const size_t low = xs.size() / 20, high = xs.size() - 1 - xs.size() / 20;
    std::nth_element(xs.begin(), xs.begin() + low, xs.end());
    const float lowest = xs[low];
    std::nth_element(xs.begin(), xs.begin() + high, xs.end());
    return -lowest > xs[high] ? -1.0f : 1.0f;
}

// The size of `frame` reduced to `long_side` (0 or larger: its own).
cv::Size reduced_size(cv::Size frame, int long_side)
{
    const int own = std::max(frame.width, frame.height);
    const double scale = long_side > 0 && long_side < own ? double(long_side) / own : 1.0;
    return {std::max(1, cvRound(frame.width * scale)), std::max(1, cvRound(frame.height * scale))};
}

// Both flows of a pair, measured on the frames reduced to the flow's size and
// brought to `size`. `first_small` and `second_small` are the frames already
// reduced to `size`, reused when the flow is measured at that size.
PairFlow flows_at(const cv::Mat& first, const cv::Mat& second, const cv::Mat& first_small,
                  const cv::Mat& second_small, const InBetweenOptions& options, cv::Size size)
{
    const cv::Size measured = reduced_size(first.size(), options.flow_long_side);
    const bool reuse = measured == size;
    cv::Mat a, b;
    cv::cvtColor(reuse ? first_small : reduced(first, measured), a, cv::COLOR_BGR2GRAY);
    cv::cvtColor(reuse ? second_small : reduced(second, measured), b, cv::COLOR_BGR2GRAY);
    PairFlow flow;
    if (options.parallel_flows) {
        // A future, not a bare thread: it is waited for even when the forward
        // flow throws, and an exception of its own comes back through get().
        std::future<cv::Mat> backward =
            std::async(std::launch::async, [&] { return dense_flow(b, a, options.method); });
        flow.forward = dense_flow(a, b, options.method);
        flow.backward = backward.get();
    } else {
        flow.forward = dense_flow(a, b, options.method);
        flow.backward = dense_flow(b, a, options.method);
    }
    const int interpolation = size.width < measured.width ? cv::INTER_AREA : cv::INTER_LINEAR;
    flow.forward = resized_flow(flow.forward, size, interpolation);
    flow.backward = resized_flow(flow.backward, size, interpolation);
    return flow;
}

// What each frame of a pair sees of the other, at the work size: the same for
// every in-between view of the pair, so it is worked out once.
struct PairSight
{
    cv::Mat forward, backward;             // mended flows
    cv::Mat visible_first, visible_second; // visibility weights
    cv::Mat depth_first, depth_second;     // larger is farther
};

PairSight pair_sight(const cv::Mat& a, const cv::Mat& b, const PairFlow& work_flow)
{
    PairSight sight;
    WallMotion wall;
    // Independent of one another: each on its own core.
    cv::parallel_for_(cv::Range(0, 3), [&](const cv::Range& range) {
        for (int task = range.start; task < range.end; ++task) {
            if (task == 0)
                wall = wall_motion(a, b);
            else if (task == 1)
                sight.visible_first = visibility(work_flow.forward, work_flow.backward, a, b);
            else
                sight.visible_second = visibility(work_flow.backward, work_flow.forward, b, a);
        }
    }, 3);
    // One depth scale for both frames: a surface's motion from first to second.
    const float sign = wall.found ? wall.far : far_sign(work_flow.forward);
    // Each frame's flow is mended on its own: the two on two cores.
    cv::parallel_for_(cv::Range(0, 2), [&](const cv::Range& range) {
        for (int task = range.start; task < range.end; ++task) {
            const bool forward = task == 0;
            const cv::Mat& frame = forward ? a : b;
            const cv::Mat& other = forward ? b : a;
            cv::Mat& visible = forward ? sight.visible_first : sight.visible_second;
            const float far = forward ? sign : -sign;
            cv::Mat flow = forward ? work_flow.forward : work_flow.backward;
            if (wall.found) {
                flow = flow.clone();
                rescue_wall(flow, frame, other, visible, wall,
                            forward ? wall.forward : wall.backward);
            }
            const std::vector<cv::Vec2f> behind = background_by_row(flow, visible, far);
            cv::Mat& mended = forward ? sight.forward : sight.backward;
            mended = mend_unseen(flow, frame, other, visible, far, behind);
            cv::Mat& depth = forward ? sight.depth_first : sight.depth_second;
            cv::extractChannel(mended, depth, 0);
            depth *= far;
        }
    }, 2);
    return sight;
}

// `picture` read along `flow` (work size) enlarged to the picture's size: the
// map is made in the one pass that scales the vectors, at full size the
// largest arrays of the step.
cv::Mat read_along(const cv::Mat& picture, const cv::Mat& flow)
{
    cv::Mat map;
    cv::resize(flow, map, picture.size(), 0, 0, cv::INTER_LINEAR);
    const float sx = static_cast<float>(picture.cols) / flow.cols,
                sy = static_cast<float>(picture.rows) / flow.rows;
    cv::parallel_for_(cv::Range(0, map.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            cv::Vec2f* m = map.ptr<cv::Vec2f>(y);
            for (int x = 0; x < map.cols; ++x)
                m[x] = cv::Vec2f(x + sx * m[x][0], y + sy * m[x][1]);
        }
    });
    cv::Mat read;
    cv::remap(picture, read, map, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    return read;
}

// The view at `t` from the full-size frames and their pair's sight (work size).
cv::Mat view_at(const cv::Mat& first, const cv::Mat& second, const PairSight& sight, float t)
{
    const ViewFlow view =
        splat_view(sight.forward, sight.backward, sight.visible_first, sight.visible_second,
                   sight.depth_first, sight.depth_second, t);
    cv::Mat share;
    cv::resize(view.share, share, first.size(), 0, 0, cv::INTER_LINEAR);
    const cv::Mat from_first = read_along(first, view.to_first);
    const cv::Mat from_second = read_along(second, view.to_second);
    cv::Mat result;
    cv::blendLinear(from_first, from_second, 1.0f - share, share, result);
    return result;
}

} // namespace

PairFlow measure_pair_flow(const cv::Mat& first, const cv::Mat& second,
                           const InBetweenOptions& options)
{
    CV_Assert(first.type() == CV_8UC3 && second.type() == CV_8UC3 && first.size() == second.size());
    return flows_at(first, second, first, second, options, first.size());
}

cv::Mat frame_between(const cv::Mat& first, const cv::Mat& second, const PairFlow& flow,
                      double position)
{
    CV_Assert(first.type() == CV_8UC3 && second.type() == CV_8UC3 && first.size() == second.size() &&
              flow.forward.size() == first.size() && flow.backward.size() == first.size());
    // Which frame sees what is worked out on reduced frames: the flow is smooth
    // and the cost grows with area; only the reading of the frames is at full size.
    const cv::Size work = reduced_size(first.size(), work_long_side);
    const PairFlow work_flow{resized_flow(flow.forward, work, cv::INTER_AREA),
                             resized_flow(flow.backward, work, cv::INTER_AREA)};
    return view_at(first, second,
                   pair_sight(reduced(first, work), reduced(second, work), work_flow),
                   static_cast<float>(position));
}

std::vector<cv::Mat> in_between_frames(const cv::Mat& first, const cv::Mat& second, int count,
                                       const InBetweenOptions& options)
{
    CV_Assert(first.type() == CV_8UC3 && second.type() == CV_8UC3 && first.size() == second.size());
    std::vector<cv::Mat> frames;
    if (count < 1)
        return frames;
    // The flow goes straight to the work size, and what each frame sees is
    // shared by all the views of the pair.
    const cv::Size work = reduced_size(first.size(), work_long_side);
    const cv::Mat a = reduced(first, work), b = reduced(second, work);
    const PairSight sight = pair_sight(a, b, flows_at(first, second, a, b, options, work));
    for (int j = 1; j <= count; ++j)
        frames.push_back(view_at(first, second, sight, static_cast<float>(j) / (count + 1)));
    return frames;
}
