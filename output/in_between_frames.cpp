#include "output/in_between_frames.h"

#include "output/optical_flow.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace {

// A flow that does not come back to within this many pixels of where it
// started marks a pixel the other frame does not see.
constexpr float consistent_within = 1.0f;
// Contributions this close in depth (pixels of motion) to the nearest one at
// a spot are the same surface and are blended.
constexpr float same_surface_within = 2.0f;
// Two spots whose colours differ by at most this much per channel, on average
// over 3 x 3 pixels, show the same thing.
constexpr int same_colours_within = 10;
// Weight of a pixel the other frame does not see: used where nothing seen by
// both lands.
constexpr float unseen_weight = 0.05f;

cv::Mat grey_for_flow(const cv::Mat& frame, double scale)
{
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    if (scale < 1.0)
        cv::resize(grey, grey, cv::Size(), scale, scale, cv::INTER_AREA);
    return grey;
}

cv::Mat full_size_flow(const cv::Mat& flow, cv::Size size)
{
    if (flow.size() == size)
        return flow;
    cv::Mat scaled;
    cv::resize(flow, scaled, size, 0, 0, cv::INTER_LINEAR);
    const double sx = static_cast<double>(size.width) / flow.cols;
    const double sy = static_cast<double>(size.height) / flow.rows;
    cv::multiply(scaled, cv::Scalar(sx, sy), scaled);
    return scaled;
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
// (its flow comes back, to the same colours), unseen_weight where it does not,
// 0 where it leaves the picture.
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
                w[x] = 0.0f;
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

// `flow` mended where the other frame does not seem to see a pixel. Flow is
// smeared across outlines, in both frames, so each such pixel tries the flow of
// its nearest seen neighbours along the row, left and right: one that takes it
// to the same colours in the other frame makes it seen after all (a pixel of
// either surface beside the outline). Failing both, the pixel is being hidden
// by what stands in front: it belongs to the surface behind and takes the
// farther neighbour's flow.
cv::Mat mend_unseen(const cv::Mat& flow, const cv::Mat& frame, const cv::Mat& other_frame,
                    cv::Mat& visible, float far)
{
    cv::Mat mended = flow.clone();
    std::vector<int> left(flow.cols);
    // Mean difference per channel over the 3 x 3 pixels around x, y and around
    // where `f` takes them, or -1 when that lies outside.
    auto difference = [&](int x, int y, const cv::Vec2f& f) {
        const int tx = cvRound(x + f[0]), ty = cvRound(y + f[1]);
        if (tx < 1 || ty < 1 || tx >= flow.cols - 1 || ty >= flow.rows - 1 || x < 1 || y < 1 ||
            x >= flow.cols - 1 || y >= flow.rows - 1)
            return -1;
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const cv::Vec3b a = frame.at<cv::Vec3b>(y + dy, x + dx);
                const cv::Vec3b b = other_frame.at<cv::Vec3b>(ty + dy, tx + dx);
                sum += std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]);
            }
        return sum / 27;
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
                m[x] = f[l < 0                               ? last
                         : last < 0                          ? l
                         : far * f[l][0] >= far * f[last][0] ? l
                                                             : last];
            }
        }
    }
    return mended;
}

// One frame carried along `flow` times `factor` to the in-between position:
// each pixel spread over the four it lands between. Where several surfaces
// land on one spot only the nearest counts; `depth` orders them (smaller is
// nearer).
struct Splat
{
    cv::Mat colour;  // CV_32FC3, weighted sums
    cv::Mat weight;  // CV_32F
    cv::Mat nearest; // CV_32F, depth of the nearest seen pixel landed, +inf if none
};

Splat splat(const cv::Mat& frame, const cv::Mat& flow, float factor, const cv::Mat& visible,
            const cv::Mat& depth)
{
    const int w = frame.cols, h = frame.rows;
    Splat out;
    out.colour = cv::Mat::zeros(frame.size(), CV_32FC3);
    out.weight = cv::Mat::zeros(frame.size(), CV_32F);
    out.nearest = cv::Mat(frame.size(), CV_32F, cv::Scalar(std::numeric_limits<float>::infinity()));

    auto for_each_landing = [&](auto&& visit) {
        for (int y = 0; y < h; ++y) {
            const cv::Vec2f* f = flow.ptr<cv::Vec2f>(y);
            const float* v = visible.ptr<float>(y);
            const float* z = depth.ptr<float>(y);
            const cv::Vec3b* c = frame.ptr<cv::Vec3b>(y);
            for (int x = 0; x < w; ++x) {
                if (v[x] <= 0.0f)
                    continue;
                const float tx = x + factor * f[x][0], ty = y + factor * f[x][1];
                const float fx = std::floor(tx), fy = std::floor(ty);
                const int x0 = static_cast<int>(fx), y0 = static_cast<int>(fy);
                const float ax = tx - fx, ay = ty - fy;
                const float corner[4] = {(1 - ax) * (1 - ay), ax * (1 - ay), (1 - ax) * ay,
                                         ax * ay};
                for (int k = 0; k < 4; ++k) {
                    const int qx = x0 + (k & 1), qy = y0 + (k >> 1);
                    if (qx < 0 || qy < 0 || qx >= w || qy >= h || corner[k] <= 0.0f)
                        continue;
                    visit(qx, qy, corner[k] * v[x], z[x], c[x]);
                }
            }
        }
    };
    // The nearest surface seen by both frames at each spot.
    for_each_landing([&](int qx, int qy, float weight, float z, const cv::Vec3b&) {
        if (weight >= 0.25f * 0.25f) {
            float& n = out.nearest.at<float>(qy, qx);
            n = std::min(n, z);
        }
    });
    for_each_landing([&](int qx, int qy, float weight, float z, const cv::Vec3b& c) {
        if (z > out.nearest.at<float>(qy, qx) + same_surface_within)
            return;
        out.colour.at<cv::Vec3f>(qy, qx) += cv::Vec3f(c[0], c[1], c[2]) * weight;
        out.weight.at<float>(qy, qx) += weight;
    });
    return out;
}

// The sign that makes a pixel's horizontal motion grow with its distance
// behind the sticker column: after alignment on the column most of a frame
// (the background) lies behind it and moves one way, what stands in front
// moves less or the other way.
float far_sign(const cv::Mat& forward)
{
    std::vector<float> xs;
    const int step = std::max(1, static_cast<int>(forward.total() / 20000));
    for (size_t i = 0; i < forward.total(); i += step)
        xs.push_back(forward.at<cv::Vec2f>(static_cast<int>(i / forward.cols),
                                           static_cast<int>(i % forward.cols))[0]);
    if (xs.empty())
        return 1.0f;
    std::nth_element(xs.begin(), xs.begin() + xs.size() / 2, xs.end());
    return xs[xs.size() / 2] < 0.0f ? -1.0f : 1.0f;
}

} // namespace

PairFlow measure_pair_flow(const cv::Mat& first, const cv::Mat& second,
                           const InBetweenOptions& options)
{
    CV_Assert(first.type() == CV_8UC3 && second.type() == CV_8UC3 && first.size() == second.size());
    const int long_side = std::max(first.cols, first.rows);
    const double scale = options.flow_long_side > 0 && options.flow_long_side < long_side
                             ? static_cast<double>(options.flow_long_side) / long_side
                             : 1.0;
    const cv::Mat a = grey_for_flow(first, scale);
    const cv::Mat b = grey_for_flow(second, scale);
    PairFlow flow;
    if (options.parallel_flows) {
        std::thread other([&] { flow.backward = dense_flow(b, a, options.method); });
        flow.forward = dense_flow(a, b, options.method);
        other.join();
    } else {
        flow.forward = dense_flow(a, b, options.method);
        flow.backward = dense_flow(b, a, options.method);
    }
    flow.forward = full_size_flow(flow.forward, first.size());
    flow.backward = full_size_flow(flow.backward, first.size());
    return flow;
}

cv::Mat frame_between(const cv::Mat& first, const cv::Mat& second, const PairFlow& flow,
                      double position)
{
    const float t = static_cast<float>(position);
    cv::Mat visible_first = visibility(flow.forward, flow.backward, first, second);
    cv::Mat visible_second = visibility(flow.backward, flow.forward, second, first);

    // One depth scale for both frames: a surface's motion from first to second.
    const float sign = far_sign(flow.forward);
    const cv::Mat forward = mend_unseen(flow.forward, first, second, visible_first, sign);
    const cv::Mat backward = mend_unseen(flow.backward, second, first, visible_second, -sign);
    std::vector<cv::Mat> parts;
    cv::split(forward, parts);
    const cv::Mat depth_first = parts[0] * sign;
    cv::split(backward, parts);
    const cv::Mat depth_second = parts[0] * -sign;

    Splat from_first, from_second;
    std::thread other(
        [&] { from_second = splat(second, backward, 1.0f - t, visible_second, depth_second); });
    from_first = splat(first, forward, t, visible_first, depth_first);
    other.join();

    // Where no pixel lands, each frame is read back along its flow at the spot.
    const cv::Mat fallback_first = sample_along(first, flow.forward, -t);
    const cv::Mat fallback_second = sample_along(second, flow.backward, -(1.0f - t));

    cv::Mat result(first.size(), CV_8UC3);
    constexpr float fallback_weight = 1e-3f;
    for (int y = 0; y < result.rows; ++y) {
        const cv::Vec3f* ca = from_first.colour.ptr<cv::Vec3f>(y);
        const cv::Vec3f* cb = from_second.colour.ptr<cv::Vec3f>(y);
        const float* wa = from_first.weight.ptr<float>(y);
        const float* wb = from_second.weight.ptr<float>(y);
        const float* za = from_first.nearest.ptr<float>(y);
        const float* zb = from_second.nearest.ptr<float>(y);
        const cv::Vec3b* fa = fallback_first.ptr<cv::Vec3b>(y);
        const cv::Vec3b* fb = fallback_second.ptr<cv::Vec3b>(y);
        cv::Vec3b* out = result.ptr<cv::Vec3b>(y);
        for (int x = 0; x < result.cols; ++x) {
            // Each frame's share: nearer in time counts more, and a frame whose
            // nearest surface here lies behind the other's does not count.
            float ka = (1.0f - t) / std::max(wa[x], 1.0f);
            float kb = t / std::max(wb[x], 1.0f);
            if (za[x] > zb[x] + same_surface_within)
                ka = 0.0f;
            else if (zb[x] > za[x] + same_surface_within)
                kb = 0.0f;
            const float fallback_a = fallback_weight * (1.0f - t), fallback_b = fallback_weight * t;
            const float total = ka * wa[x] + kb * wb[x] + fallback_a + fallback_b;
            for (int c = 0; c < 3; ++c) {
                const float sum =
                    ka * ca[x][c] + kb * cb[x][c] + fallback_a * fa[x][c] + fallback_b * fb[x][c];
                out[x][c] = cv::saturate_cast<uchar>(sum / total);
            }
        }
    }
    return result;
}

std::vector<cv::Mat> in_between_frames(const cv::Mat& first, const cv::Mat& second, int count,
                                       const InBetweenOptions& options)
{
    std::vector<cv::Mat> frames;
    if (count < 1)
        return frames;
    const PairFlow flow = measure_pair_flow(first, second, options);
    for (int j = 1; j <= count; ++j)
        frames.push_back(frame_between(first, second, flow, static_cast<double>(j) / (count + 1)));
    return frames;
}
