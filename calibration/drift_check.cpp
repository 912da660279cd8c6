#include "calibration/drift_check.h"

#include "photo/image_file.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <QImage>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstring>

namespace {

constexpr int descriptor_bytes = 32;
// Features looked for in a shot: more than a reference keeps, since up to half
// of the shot may show a subject the reference never saw.
constexpr int shot_features = 2000;
// Fewer features in agreement than this and the shot cannot be compared.
constexpr int min_matches = 20;

// Two levels are enough for a camera that moved by a few percent at most, and
// the finest levels keep the positions precise.
cv::Ptr<cv::ORB> detector(int features)
{
    return cv::ORB::create(features, 1.2f, 2, 31, 0, 2, cv::ORB::HARRIS_SCORE, 31, 10);
}

cv::Point2f to_photo_point(const cv::Point2f& p, double to_photo)
{
    // A reduced pixel spans to_photo photo pixels from its left edge.
    return {static_cast<float>((p.x + 0.5) * to_photo - 0.5),
            static_cast<float>((p.y + 0.5) * to_photo - 0.5)};
}

// The strongest features of each cell of a grid first, so that a subject
// covering half the picture still leaves features elsewhere.
std::vector<int> spread_selection(const std::vector<cv::KeyPoint>& keypoints, cv::Size size,
                                  int wanted)
{
    constexpr int columns = 8, rows = 6;
    std::vector<std::vector<int>> cells(columns * rows);
    for (int i = 0; i < static_cast<int>(keypoints.size()); ++i) {
        const int cx = std::clamp(static_cast<int>(keypoints[i].pt.x * columns / size.width), 0,
                                  columns - 1);
        const int cy = std::clamp(static_cast<int>(keypoints[i].pt.y * rows / size.height), 0,
                                  rows - 1);
        cells[cy * columns + cx].push_back(i);
    }
    for (std::vector<int>& cell : cells)
        std::sort(cell.begin(), cell.end(),
                  [&](int a, int b) { return keypoints[a].response > keypoints[b].response; });
    std::vector<int> chosen;
    for (std::size_t rank = 0; static_cast<int>(chosen.size()) < wanted; ++rank) {
        bool any = false;
        for (const std::vector<int>& cell : cells) {
            if (rank < cell.size() && static_cast<int>(chosen.size()) < wanted) {
                chosen.push_back(cell[rank]);
                any = true;
            }
        }
        if (!any)
            break;
    }
    return chosen;
}

// FAST places features on whole pixels, and a camera moved by half a pixel
// moves them all the same way; refined to a fraction of a pixel they agree.
void refine_positions(const cv::Mat& grey, std::vector<cv::Point2f>& points)
{
    if (points.empty())
        return;
    cv::cornerSubPix(grey, points, cv::Size(4, 4), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, 0.01));
}

// For each reference descriptor, its two nearest among a shot's, by Hamming
// distance: what BFMatcher's knnMatch with k = 2 finds.
struct NearestTwo
{
    int best = -1;
    int best_distance = 0;
    int second_distance = 0;
};

// The loop shared by the two builds below; inlined into each, so that the
// processor's bit count instruction is used where it is there.
template <typename Count>
inline __attribute__((always_inline)) void nearest_two_loop(const cv::Mat& queries,
                                                            const cv::Mat& train,
                                                            std::vector<NearestTwo>& nearest,
                                                            Count count)
{
    std::vector<std::array<std::uint64_t, 4>> words(static_cast<std::size_t>(train.rows));
    for (int j = 0; j < train.rows; ++j)
        std::memcpy(words[j].data(), train.ptr(j), descriptor_bytes);
    for (int i = 0; i < queries.rows; ++i) {
        std::array<std::uint64_t, 4> q;
        std::memcpy(q.data(), queries.ptr(i), descriptor_bytes);
        int best = -1, best_distance = INT_MAX, second_distance = INT_MAX;
        for (int j = 0; j < train.rows; ++j) {
            const std::array<std::uint64_t, 4>& t = words[j];
            const int d = count(q[0] ^ t[0]) + count(q[1] ^ t[1]) + count(q[2] ^ t[2]) +
                          count(q[3] ^ t[3]);
            if (d < best_distance) {
                second_distance = best_distance;
                best_distance = d;
                best = j;
            } else if (d < second_distance) {
                second_distance = d;
            }
        }
        nearest[i] = {best, best_distance, second_distance};
    }
}

struct BitCount
{
    inline __attribute__((always_inline)) int operator()(std::uint64_t v) const
    {
        return __builtin_popcountll(v);
    }
};

void nearest_two_generic(const cv::Mat& queries, const cv::Mat& train,
                         std::vector<NearestTwo>& nearest)
{
    nearest_two_loop(queries, train, nearest, BitCount());
}

#if defined(__x86_64__) || defined(__i386__)
// OpenCV's own distance counts bits without the instruction on a generic
// x86-64 build: six times slower here, a sixth of the check's time.
__attribute__((target("popcnt"))) void nearest_two_popcnt(const cv::Mat& queries,
                                                          const cv::Mat& train,
                                                          std::vector<NearestTwo>& nearest)
{
    nearest_two_loop(queries, train, nearest, BitCount());
}
#endif

std::vector<NearestTwo> nearest_two(const cv::Mat& queries, const cv::Mat& train)
{
    std::vector<NearestTwo> nearest(static_cast<std::size_t>(queries.rows));
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("popcnt")) {
        nearest_two_popcnt(queries, train, nearest);
        return nearest;
    }
#endif
    nearest_two_generic(queries, train, nearest);
    return nearest;
}

Similarity similarity_of(const cv::Mat& m)
{
    const double a = m.at<double>(0, 0), b = m.at<double>(1, 0);
    Similarity s;
    s.scale = std::hypot(a, b);
    s.rotation = std::atan2(b, a);
    s.translation = {m.at<double>(0, 2), m.at<double>(1, 2)};
    return s;
}

// Catmull-Rom weights of the four pixels around a position `f` past the second.
void cubic_weights(double f, double w[4])
{
    const double f2 = f * f, f3 = f2 * f;
    w[0] = 0.5 * (-f3 + 2 * f2 - f);
    w[1] = 0.5 * (3 * f3 - 5 * f2 + 2);
    w[2] = 0.5 * (-3 * f3 + 4 * f2 + f);
    w[3] = 0.5 * (f3 - f2);
}

// A picture sampled between its pixels; false outside it. Cubic rather than
// linear: a linear sample pulls a patch's measured place towards whole pixels,
// and a shifted camera puts every patch at the same fraction.
bool sample(const cv::Mat& picture, double x, double y, float& value)
{
    if (!(x >= 1.0 && y >= 1.0 && x < picture.cols - 2.0 && y < picture.rows - 2.0))
        return false;
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    double wx[4], wy[4];
    cubic_weights(x - x0, wx);
    cubic_weights(y - y0, wy);
    double total = 0.0;
    for (int j = 0; j < 4; ++j) {
        const float* row = picture.ptr<float>(y0 - 1 + j) + x0 - 1;
        total += wy[j] * (wx[0] * row[0] + wx[1] * row[1] + wx[2] * row[2] + wx[3] * row[3]);
    }
    value = static_cast<float>(total);
    return true;
}

// `side` x `side` samples of `picture` one pixel apart from (x, y), row after
// row, as `sample` gives them; false when one falls outside. They all share
// their place between pixels, so the cubic goes along the rows, then down.
bool sample_grid(const cv::Mat& picture, double x, double y, int side, float* out)
{
    if (!(x >= 1.0 && y >= 1.0 && x + side - 1 < picture.cols - 2.0 &&
          y + side - 1 < picture.rows - 2.0))
        return false;
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    double wx[4], wy[4];
    cubic_weights(x - x0, wx);
    cubic_weights(y - y0, wy);
    constexpr int most = 32;
    if (side > most - 3)
        return false;
    double across[most][most];
    for (int j = 0; j < side + 3; ++j) {
        const float* row = picture.ptr<float>(y0 - 1 + j) + x0 - 1;
        for (int i = 0; i < side; ++i)
            across[j][i] = wx[0] * row[i] + wx[1] * row[i + 1] + wx[2] * row[i + 2] +
                           wx[3] * row[i + 3];
    }
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i)
            out[j * side + i] = static_cast<float>(wy[0] * across[j][i] + wy[1] * across[j + 1][i] +
                                                   wy[2] * across[j + 2][i] +
                                                   wy[3] * across[j + 3][i]);
    return true;
}

// Both a patch and the shot are smoothed a little before they are compared:
// a reduced copy keeps sharp edges that its coarse pixels alias, and aliased
// detail moves by other amounts than the camera did.
cv::Mat smoothed(const cv::Mat& grey)
{
    cv::Mat picture;
    grey.convertTo(picture, CV_32F);
    cv::GaussianBlur(picture, picture, cv::Size(3, 3), 0, 0, cv::BORDER_REPLICATE);
    return picture;
}

// One reference patch, zero-mean and of unit spread over its inner pixels
// (the border only serves the smoothing and the gradients), with its gradients.
struct PatchModel
{
    std::vector<float> values, gx, gy; // inner pixels, row after row
    cv::Matx22d inverse_hessian;
};

constexpr int patch_margin = 2;
constexpr int patch_inner = drift_patch_side - 2 * patch_margin;

// Nothing when the patch is too flat, or textured one way only (an edge
// slides along itself).
std::optional<PatchModel> patch_model(const uchar* pixels)
{
    const int side = drift_patch_side;
    const cv::Mat patch =
        smoothed(cv::Mat(side, side, CV_8U, const_cast<uchar*>(pixels)));
    double sum = 0.0, squares = 0.0;
    for (int y = patch_margin; y < side - patch_margin; ++y)
        for (int x = patch_margin; x < side - patch_margin; ++x) {
            const double v = patch.at<float>(y, x);
            sum += v;
            squares += v * v;
        }
    const int n = patch_inner * patch_inner;
    const double mean = sum / n;
    const double spread = std::sqrt(std::max(0.0, squares / n - mean * mean));
    if (spread < 2.0)
        return std::nullopt;
    const cv::Mat normalised = (patch - mean) / spread;
    PatchModel model;
    double xx = 0.0, xy = 0.0, yy = 0.0;
    for (int y = patch_margin; y < side - patch_margin; ++y)
        for (int x = patch_margin; x < side - patch_margin; ++x) {
            const float gx =
                0.5f * (normalised.at<float>(y, x + 1) - normalised.at<float>(y, x - 1));
            const float gy =
                0.5f * (normalised.at<float>(y + 1, x) - normalised.at<float>(y - 1, x));
            model.values.push_back(normalised.at<float>(y, x));
            model.gx.push_back(gx);
            model.gy.push_back(gy);
            xx += gx * gx;
            xy += gx * gy;
            yy += gy * gy;
        }
    const double half_trace = 0.5 * (xx + yy);
    const double root = std::sqrt(std::max(0.0, half_trace * half_trace - (xx * yy - xy * xy)));
    const double least = half_trace - root, most = half_trace + root;
    if (least < 0.02 * n || least < 0.1 * most)
        return std::nullopt;
    model.inverse_hessian = cv::Matx22d(xx, xy, xy, yy).inv();
    return model;
}

// Where a reference patch lies in the shot: `origin` is the shot's reduced
// pixel under the patch's centre as the motion predicts it, `axes` the shot's
// reduced pixels one patch pixel spans along x and y. Finds the patch's own
// offset from there (in patch pixels) by Lucas-Kanade steps on the normalised
// pixels, so that a change of light does not pull it; nothing when the shot
// there does not look like the patch (the subject stands in front of it).
std::optional<cv::Point2d> track_patch(const PatchModel& model, const cv::Mat& shot,
                                       const cv::Point2d& origin, const cv::Matx22d& axes)
{
    const int half = drift_patch_side / 2;
    const int n = patch_inner * patch_inner;
    std::vector<float> seen(static_cast<std::size_t>(n));
    cv::Point2d offset(0.0, 0.0);
    double likeness = 0.0;
    // A shot of the reference's scale and turn is sampled on a grid.
    const bool upright = axes == cv::Matx22d::eye();
    for (int step = 0; step < 8; ++step) {
        double sum = 0.0, squares = 0.0;
        int i = 0;
        if (upright) {
            const double first = patch_margin - half;
            if (!sample_grid(shot, origin.x + first + offset.x, origin.y + first + offset.y,
                             patch_inner, seen.data()))
                return std::nullopt;
            for (i = 0; i < n; ++i) {
                sum += seen[i];
                squares += double(seen[i]) * seen[i];
            }
        } else {
            for (int y = patch_margin - half; y <= half - patch_margin; ++y)
                for (int x = patch_margin - half; x <= half - patch_margin; ++x, ++i) {
                    const cv::Vec2d at = axes * cv::Vec2d(x + offset.x, y + offset.y);
                    if (!sample(shot, origin.x + at[0], origin.y + at[1], seen[i]))
                        return std::nullopt;
                    sum += seen[i];
                    squares += double(seen[i]) * seen[i];
                }
        }
        const double mean = sum / n;
        const double spread = std::sqrt(std::max(0.0, squares / n - mean * mean));
        if (spread < 1.0)
            return std::nullopt;
        double bx = 0.0, by = 0.0;
        likeness = 0.0;
        for (i = 0; i < n; ++i) {
            const double difference = (seen[i] - mean) / spread - model.values[i];
            bx += model.gx[i] * difference;
            by += model.gy[i] * difference;
            likeness += model.values[i] * (seen[i] - mean) / spread;
        }
        likeness /= n;
        // A patch still this unlike the shot after a few steps is hidden by
        // the subject, not yet in place.
        if (step >= 3 && likeness < 0.6)
            return std::nullopt;
        const cv::Vec2d delta = model.inverse_hessian * cv::Vec2d(bx, by);
        offset -= cv::Point2d(delta[0], delta[1]);
        if (std::hypot(offset.x, offset.y) > 2.0)
            return std::nullopt;
        if (std::hypot(delta[0], delta[1]) < 0.01)
            break;
    }
    if (likeness < 0.92)
        return std::nullopt;
    const cv::Vec2d at = axes * cv::Vec2d(offset.x, offset.y);
    return cv::Point2d(origin.x + at[0], origin.y + at[1]);
}

// Fewer patches in agreement than this and the features' motion stands.
constexpr int min_patches = 12;
// Patches found by the search after which it tries to stop.
constexpr int enough_found = 2 * min_patches;

// A reference patch as the search compares it with the shot: its pixels less
// their mean, and the root of their sum of squares.
struct SearchTemplate
{
    std::vector<float> values; // side x side, row after row
    int side = 0;
    double norm = 0.0;
};

SearchTemplate search_template(const cv::Mat& picture)
{
    SearchTemplate t;
    t.side = picture.cols;
    const double mean = cv::mean(picture)[0];
    double squares = 0.0;
    for (int y = 0; y < picture.rows; ++y)
        for (int x = 0; x < picture.cols; ++x) {
            const float v = static_cast<float>(picture.at<float>(y, x) - mean);
            t.values.push_back(v);
            squares += double(v) * v;
        }
    t.norm = std::sqrt(squares);
    return t;
}

// The best normalised correlation of `t` over the places of `window` in
// `picture` (CV_32F) and where its top left corner is then: what matchTemplate
// gives with TM_CCOEFF_NORMED, whose set-up costs more than the sums on
// windows this small. A flat place scores 0.
double best_correlation(const cv::Mat& picture, const cv::Rect& window, const SearchTemplate& t,
                        cv::Point& where)
{
    const int side = t.side, n = side * side;
    double best = -1.0;
    where = cv::Point(0, 0);
    for (int dy = 0; dy + side <= window.height; ++dy)
        for (int dx = 0; dx + side <= window.width; ++dx) {
            double cross = 0.0, sum = 0.0, squares = 0.0;
            const float* model = t.values.data();
            for (int y = 0; y < side; ++y, model += side) {
                const float* row = picture.ptr<float>(window.y + dy + y) + window.x + dx;
                float row_cross = 0.0f, row_sum = 0.0f, row_squares = 0.0f;
                for (int x = 0; x < side; ++x) {
                    row_cross += model[x] * row[x];
                    row_sum += row[x];
                    row_squares += row[x] * row[x];
                }
                cross += row_cross;
                sum += row_sum;
                squares += row_squares;
            }
            const double spread = squares - sum * sum / n;
            const double score =
                spread > 1e-6 * n && t.norm > 0.0 ? cross / (t.norm * std::sqrt(spread)) : 0.0;
            if (score > best) {
                best = score;
                where = cv::Point(dx, dy);
            }
        }
    return best;
}

} // namespace

// A reference's patches ready to be looked for (see DriftReference): their
// models for the refinement (nothing for a patch too flat to place), and the
// smoothed patch and its halved copy for the search. `patches` are the ones
// they were made from, held so that their buffer cannot be freed and reused by
// other patches that would then pass for them.
struct DriftPatchModels
{
    cv::Mat patches;
    std::vector<std::optional<PatchModel>> models; // one per patch
    std::vector<SearchTemplate> fine, coarse;
};

namespace {

// Nothing when the reference keeps too few patches, or patches that do not
// match their centres in count, size or type (they would be read past their end).
std::shared_ptr<const DriftPatchModels> make_patch_models(const DriftReference& reference)
{
    const int count = static_cast<int>(reference.patch_centres.size());
    const cv::Mat& patches = reference.patches;
    if (count < min_patches || reference.patch_scale <= 0.0 || patches.rows != count
        || patches.cols != drift_patch_side * drift_patch_side || patches.type() != CV_8U)
        return nullptr;
    auto ready = std::make_shared<DriftPatchModels>();
    ready->patches = patches;
    const int side = drift_patch_side;
    for (int i = 0; i < count; ++i) {
        ready->models.push_back(patch_model(patches.ptr<uchar>(i)));
        const cv::Mat patch =
            smoothed(cv::Mat(side, side, CV_8U, const_cast<uchar*>(patches.ptr<uchar>(i))));
        cv::Mat small;
        cv::pyrDown(patch, small);
        ready->fine.push_back(search_template(patch));
        ready->coarse.push_back(search_template(small));
    }
    return ready;
}

// The reference's patches ready to be looked for and the smoothed shot they
// are looked for in.
struct PatchSearch
{
    std::shared_ptr<const DriftPatchModels> ready;
    cv::Mat picture;
    // Made only around the patches instead (see windowed_search): by patch,
    // its window of the smoothed shot (empty for none) and where that window's
    // top left corner is in the shot; `size` is the shot's.
    std::vector<cv::Mat> windows;
    std::vector<cv::Point> window_corners;
    cv::Size size;
};

// The reference's patch models as it keeps them, or made now when it keeps
// none or kept them for other patches.
std::shared_ptr<const DriftPatchModels> patch_models_of(const DriftReference& reference)
{
    const std::shared_ptr<const DriftPatchModels>& kept = reference.patch_models;
    if (kept && kept->patches.data == reference.patches.data &&
        kept->patches.rows == reference.patches.rows &&
        kept->models.size() == reference.patch_centres.size())
        return kept;
    return make_patch_models(reference);
}

std::optional<PatchSearch> patch_search(const DriftReference& reference, const DriftPicture& shot)
{
    PatchSearch search;
    search.ready = patch_models_of(reference);
    if (!search.ready)
        return std::nullopt;
    search.picture = smoothed(shot.grey);
    search.size = search.picture.size();
    return search;
}

// The similarity taking the patches' places in the shot (`from`) to theirs in
// the reference (`to`), fitted by RANSAC within `tolerance` photo pixels;
// nothing unless at least `min_patches` of them agree.
std::optional<Similarity> agreed_motion(const std::vector<cv::Point2f>& from,
                                        const std::vector<cv::Point2f>& to, double tolerance,
                                        int* agreeing = nullptr)
{
    if (static_cast<int>(from.size()) < min_patches)
        return std::nullopt;
    std::vector<uchar> inliers;
    const cv::Mat fit =
        cv::estimateAffinePartial2D(from, to, inliers, cv::RANSAC, tolerance, 2000, 0.999, 30);
    const int count = fit.empty() ? 0 : cv::countNonZero(inliers);
    if (agreeing)
        *agreeing = count;
    if (count < min_patches)
        return std::nullopt;
    return similarity_of(fit);
}

// The motion refined on the reference's patches: each is looked for in the
// shot from where `motion` puts it, found to a small fraction of a pixel, and
// the similarity fitted again on those that agree. Nothing when too few
// patches could be found.
std::optional<Similarity> refine_on_patches(const DriftReference& reference,
                                            const PatchSearch& search, double to_photo,
                                            const Similarity& motion, int* agreeing = nullptr)
{
    const int count = static_cast<int>(reference.patch_centres.size());
    const Similarity back = inverse(motion);
    const double length = back.scale * reference.patch_scale / to_photo;
    const double c = std::cos(back.rotation), n = std::sin(back.rotation);
    const cv::Matx22d axes(length * c, -length * n, length * n, length * c);
    std::vector<cv::Point2f> from, to;
    for (int i = 0; i < count; ++i) {
        const std::optional<PatchModel>& model = search.ready->models[i];
        if (!model)
            continue;
        const cv::Point2d centre(reference.patch_centres[i]);
        const cv::Point2d in_shot = apply(back, centre);
        const cv::Point2d origin((in_shot.x + 0.5) / to_photo - 0.5,
                                 (in_shot.y + 0.5) / to_photo - 0.5);
        std::optional<cv::Point2d> found;
        if (search.windows.empty()) {
            found = track_patch(*model, search.picture, origin, axes);
        } else if (!search.windows[i].empty()) {
            // Tracked on its window: a sample past it loses the patch.
            const cv::Point2d corner(search.window_corners[i]);
            found = track_patch(*model, search.windows[i], origin - corner, axes);
            if (found)
                *found += corner;
        }
        if (!found)
            continue;
        from.push_back(to_photo_point(cv::Point2f(*found), to_photo));
        to.push_back(cv::Point2f(centre));
    }
    return agreed_motion(from, to, 0.25 * to_photo, agreeing);
}

// Most shots come from a camera still in place, or moved by a pixel or two:
// its patches are then tracked from where they were, without the search. The
// motion found counts when a third of the patches agree on it (up to half of
// the shot may show a subject in front of them); one that moves the picture
// by more than half a reduced pixel is refined again from there, where the
// patches the first tracking lost are in reach. Nothing when too few agree:
// the search decides. The second tracking is only made when the first motion
// moves no point of the picture by more than `reach` reduced pixels.
std::optional<Similarity> motion_from_rest(const DriftReference& reference,
                                           const PatchSearch& search, double to_photo,
                                           double reach = 1e9)
{
    const int models = static_cast<int>(
        std::count_if(search.ready->models.begin(), search.ready->models.end(),
                      [](const std::optional<PatchModel>& model) { return bool(model); }));
    int agreeing = 0;
    const std::optional<Similarity> found =
        refine_on_patches(reference, search, to_photo, Similarity(), &agreeing);
    if (!found || 3 * agreeing < models)
        return std::nullopt;
    const double w = search.size.width * to_photo, h = search.size.height * to_photo;
    double largest = 0.0;
    for (const cv::Point2d& corner :
         {cv::Point2d(0, 0), cv::Point2d(w, 0), cv::Point2d(w, h), cv::Point2d(0, h)}) {
        const cv::Point2d d = apply(*found, corner) - corner;
        largest = std::max(largest, std::hypot(d.x, d.y));
    }
    if (largest < 0.5 * to_photo)
        return found;
    if (largest > reach * to_photo)
        return std::nullopt;
    return refine_on_patches(reference, search, to_photo, *found);
}

// How far around its centre, in reduced pixels, a patch's window of the shot
// reaches (see windowed_search), and how far the patches may then be tracked
// from their centres: a tracked patch samples its inner half side, two more
// pixels of offset at most and two of the cubic's reach, scaled by up to 1.05.
constexpr int window_half = 13;
constexpr double window_reach = window_half - 1.05 * (patch_inner / 2 + 2) - 2;

// The grey of the pixels of `colour` (32-bit, as stored) reduced by
// `reduction` over `area` (reduced pixels), each the mean colour of the block
// it covers weighted as OpenCV's grey conversion weighs it, in `grey`. Red and
// blue are summed in the two halves of one word.
void reduced_grey_area(const QImage& colour, int reduction, const cv::Rect& area, cv::Mat& grey)
{
    grey.create(area.height, area.width, CV_32F);
    const float norm = 1.0f / (reduction * reduction);
    std::vector<std::uint32_t> red_blue(static_cast<std::size_t>(area.width));
    std::vector<std::uint32_t> green(static_cast<std::size_t>(area.width));
    for (int row = 0; row < area.height; ++row) {
        std::fill(red_blue.begin(), red_blue.end(), 0u);
        std::fill(green.begin(), green.end(), 0u);
        const int y0 = (area.y + row) * reduction;
        for (int y = y0; y < y0 + reduction; ++y) {
            const auto* line =
                reinterpret_cast<const std::uint32_t*>(colour.constScanLine(y)) +
                area.x * reduction;
            if (reduction == 2) {
                for (int column = 0; column < area.width; ++column) {
                    const std::uint32_t a = line[2 * column], b = line[2 * column + 1];
                    red_blue[column] += (a & 0x00FF00FFu) + (b & 0x00FF00FFu);
                    green[column] += ((a >> 8) & 0xFFu) + ((b >> 8) & 0xFFu);
                }
                continue;
            }
            for (int column = 0; column < area.width; ++column) {
                std::uint32_t rb = 0, g = 0;
                for (int k = 0; k < reduction; ++k) {
                    const std::uint32_t p = line[column * reduction + k];
                    rb += p & 0x00FF00FFu;
                    g += (p >> 8) & 0xFFu;
                }
                red_blue[column] += rb;
                green[column] += g;
            }
        }
        float* out = grey.ptr<float>(row);
        for (int column = 0; column < area.width; ++column)
            out[column] = norm * (0.299f * float(red_blue[column] >> 16) +
                                  0.587f * float(green[column]) +
                                  0.114f * float(red_blue[column] & 0xFFFFu));
    }
}

// The patch search's picture made only around the patches, from a shot
// decoded in full, upright and 32-bit, whose sides `reduction` divides: each
// window reduced and smoothed as the whole picture is (block means, then the
// same 1-2-1 blur, the edges replicated where they are the picture's). A
// camera in place is tracked there in a fraction of the time the whole
// picture would take to make. Nothing when the reference has no patches ready.
std::optional<PatchSearch> windowed_search(const DriftReference& reference, const QImage& stored,
                                           int reduction, double to_photo)
{
    PatchSearch search;
    search.ready = patch_models_of(reference);
    if (!search.ready)
        return std::nullopt;
    search.size = cv::Size(stored.width() / reduction, stored.height() / reduction);
    const cv::Rect whole(cv::Point(0, 0), search.size);
    const std::size_t count = search.ready->models.size();
    search.windows.resize(count);
    search.window_corners.resize(count);
    // Each window, and the wider one its blur reads.
    std::vector<cv::Rect> windows(count), wider(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!search.ready->models[i])
            continue;
        const cv::Point2f& centre = reference.patch_centres[i];
        const int cx = static_cast<int>(std::floor((centre.x + 0.5) / to_photo - 0.5));
        const int cy = static_cast<int>(std::floor((centre.y + 0.5) / to_photo - 0.5));
        windows[i] =
            cv::Rect(cx - window_half, cy - window_half, 2 * window_half + 2, 2 * window_half + 2) &
            whole;
        const cv::Rect& w = windows[i];
        wider[i] = cv::Rect(w.x - 1, w.y - 1, w.width + 2, w.height + 2) & whole;
    }
    // The shot was decoded a while ago and its pixels are out of the cache:
    // the next window's lines are asked for while this one is made.
    const auto prefetch = [&](std::size_t i) {
        if (i >= count || wider[i].empty())
            return;
        const cv::Rect& w = wider[i];
        for (int y = w.y * reduction; y < (w.y + w.height) * reduction; ++y) {
            const uchar* line = stored.constScanLine(y) + 4 * w.x * reduction;
            for (int x = 0; x < 4 * w.width * reduction; x += 64)
                __builtin_prefetch(line + x);
        }
    };
    prefetch(0);
    cv::Mat grey;
    std::vector<float> across;
    for (std::size_t i = 0; i < count; ++i) {
        prefetch(i + 1);
        const cv::Rect& window = windows[i];
        if (window.empty())
            continue;
        reduced_grey_area(stored, reduction, wider[i], grey);
        const int left = window.x - wider[i].x, top = window.y - wider[i].y;
        const int last_column = wider[i].width - 1, last_row = wider[i].height - 1;
        cv::Mat& smooth = search.windows[i];
        smooth.create(window.size(), CV_32F);
        search.window_corners[i] = window.tl();
        across.resize(static_cast<std::size_t>(wider[i].width));
        for (int y = 0; y < window.height; ++y) {
            const int gy = top + y;
            const float* up = grey.ptr<float>(std::max(gy - 1, 0));
            const float* mid = grey.ptr<float>(gy);
            const float* down = grey.ptr<float>(std::min(gy + 1, last_row));
            for (int x = 0; x <= last_column; ++x)
                across[x] = 0.25f * up[x] + 0.5f * mid[x] + 0.25f * down[x];
            float* out = smooth.ptr<float>(y);
            for (int x = 0; x < window.width; ++x) {
                const int gx = left + x;
                out[x] = 0.25f * across[std::max(gx - 1, 0)] + 0.5f * across[gx] +
                         0.25f * across[std::min(gx + 1, last_column)];
            }
        }
    }
    return search;
}

// A moved camera is a few percent of the picture off at most (a 20 px shift,
// a degree, 1 % of zoom put a corner some 30 px away): the reference's patches
// are looked for directly around where they were, first on a copy halved
// again, then on the shot itself, and a similarity fitted on the places found
// is the motion to refine. Nothing when too few places agree (the features
// then decide); the refinement decides whether what was found holds.
std::optional<Similarity> motion_from_patch_search(const DriftReference& reference,
                                                   const PatchSearch& search, double to_photo)
{
    // The patches were cut at the shot's own scale: of another scale they
    // would not match without resampling, which the features do better.
    if (std::abs(reference.patch_scale / to_photo - 1.0) > 0.02)
        return std::nullopt;
    const cv::Mat& fine = search.picture;
    cv::Mat coarse;
    cv::pyrDown(fine, coarse);
    const int reach = std::max(4, static_cast<int>(std::lround(
                                      0.016 * std::max(coarse.cols, coarse.rows))));
    const int side = drift_patch_side, half = side / 2;
    const int coarse_side = (side + 1) / 2;
    constexpr int fine_reach = 3;
    const DriftPatchModels& ready = *search.ready;
    std::vector<cv::Point2f> from, to;
    for (int i = 0; i < static_cast<int>(ready.models.size()); ++i) {
        if (!ready.models[i])
            continue;
        const cv::Point2d centre(reference.patch_centres[i]);
        const cv::Point2d at((centre.x + 0.5) / to_photo - 0.5, (centre.y + 0.5) / to_photo - 0.5);
        // On the halved copy: the patch's top left corner within `reach`.
        const int cx = static_cast<int>(std::lround((at.x - half) / 2.0)) - reach;
        const int cy = static_cast<int>(std::lround((at.y - half) / 2.0)) - reach;
        const cv::Rect coarse_window(cx, cy, coarse_side + 2 * reach, coarse_side + 2 * reach);
        if ((coarse_window & cv::Rect(0, 0, coarse.cols, coarse.rows)) != coarse_window)
            continue;
        cv::Point where;
        if (best_correlation(coarse, coarse_window, ready.coarse[i], where) < 0.7)
            continue;
        // Then on the shot, a few pixels around the coarse place.
        const int fx = 2 * (cx + where.x) - fine_reach, fy = 2 * (cy + where.y) - fine_reach;
        const cv::Rect fine_window(fx, fy, side + 2 * fine_reach, side + 2 * fine_reach);
        if ((fine_window & cv::Rect(0, 0, fine.cols, fine.rows)) != fine_window)
            continue;
        if (best_correlation(fine, fine_window, ready.fine[i], where) < 0.8)
            continue;
        const cv::Point2f found(static_cast<float>(fx + where.x + half),
                                static_cast<float>(fy + where.y + half));
        from.push_back(to_photo_point(found, to_photo));
        to.push_back(cv::Point2f(centre));
        // The patches come spread over the picture, strongest first: once
        // enough of them agree the rest add nothing the refinement needs.
        if (static_cast<int>(from.size()) == enough_found)
            if (std::optional<Similarity> motion = agreed_motion(from, to, 1.5 * to_photo))
                return motion;
    }
    return agreed_motion(from, to, 1.5 * to_photo);
}

// Features that agree on a wild motion are a coincidence, not the room.
bool plausible(const Similarity& motion)
{
    return motion.scale > 0.8 && motion.scale < 1.25 && std::abs(motion.rotation) < 0.2 &&
           std::isfinite(motion.translation.x) && std::isfinite(motion.translation.y);
}

} // namespace

int drift_reduction(QSize size)
{
    const int long_side = std::max(size.width(), size.height());
    int reduction = 1;
    while (reduction < 8 && long_side / (2 * reduction) >= 750)
        reduction *= 2;
    return reduction;
}

namespace {

// The size of the reference's own picture, a photo of `photo_size` decoded
// reduced by drift_reduction (sides rounded up, as the decoder rounds them).
cv::Size reference_picture_size(QSize photo_size)
{
    const int reduction = drift_reduction(photo_size);
    return {(photo_size.width() + reduction - 1) / reduction,
            (photo_size.height() + reduction - 1) / reduction};
}

} // namespace

int shot_drift_reduction(QSize shot_size, QSize photo_size)
{
    if (shot_size.isEmpty() || photo_size.isEmpty())
        return drift_reduction(photo_size);
    // A smaller shot is reduced less, a larger one more.
    const int wanted = reference_picture_size(photo_size).width;
    int shot_reduction = 8;
    while (shot_reduction > 1 && shot_size.width() / shot_reduction < wanted * 97 / 100)
        shot_reduction /= 2;
    return shot_reduction;
}

ReducedPhoto read_drift_copy(const QString& path, QSize photo_size)
{
    return read_reduced_photo(path,
                              shot_drift_reduction(read_oriented_size(path), photo_size));
}

DriftPicture read_drift_picture(const QString& path, QSize photo_size)
{
    if (photo_size.isEmpty())
        return {};
    return drift_picture(read_drift_copy(path, photo_size), photo_size);
}

namespace {

// `grey` (upright) as a drift picture of a photo measured in pixels of
// `photo_size`: brought to the size of the reference's own picture when it is
// more than a little larger or smaller (a shot of another size), since
// features and patches are only found again at the scale they were taken at.
DriftPicture at_reference_scale(cv::Mat grey, QSize photo_size)
{
    const cv::Size reference = reference_picture_size(photo_size);
    if (grey.cols > 0 && std::abs(double(grey.cols) / reference.width - 1.0) > 0.03) {
        cv::Mat resized;
        cv::resize(grey, resized, reference, 0, 0,
                   grey.cols > reference.width ? cv::INTER_AREA : cv::INTER_LINEAR);
        grey = resized;
    }
    DriftPicture picture;
    picture.grey = grey;
    picture.to_photo = static_cast<double>(photo_size.width()) / picture.grey.cols;
    return picture;
}

// The same from an upright grey image (Grayscale8); empty when it is null.
DriftPicture at_reference_scale(const QImage& upright_grey, QSize photo_size)
{
    if (upright_grey.isNull())
        return {};
    cv::Mat grey(upright_grey.height(), upright_grey.width(), CV_8U);
    for (int y = 0; y < upright_grey.height(); ++y)
        std::memcpy(grey.ptr(y), upright_grey.constScanLine(y), upright_grey.width());
    return at_reference_scale(grey, photo_size);
}

} // namespace

DriftPicture drift_picture(const ReducedPhoto& photo, QSize photo_size)
{
    if (photo.empty() || photo_size.isEmpty())
        return {};
    // Upright, as the reference's features were found.
    return at_reference_scale(
        upright_image(photo.stored, photo.turn).convertToFormat(QImage::Format_Grayscale8),
        photo_size);
}

namespace {

// The means of `reduction` x `reduction` blocks of `full`, the last ones
// partial, as the reduced decode of the references gives them: a side that
// the reduction does not divide is first extended by its edge pixels, so that
// each reduced pixel covers the same photo pixels as in the reference. A plain
// resize to the same size would spread the remainder over the whole side and
// put the far edge up to a photo pixel off, which reads as a moved camera.
cv::Mat block_means(const cv::Mat& full, int reduction, cv::Size reduced)
{
    cv::Mat means;
    const int right = reduced.width * reduction - full.cols;
    const int bottom = reduced.height * reduction - full.rows;
    if (right == 0 && bottom == 0) {
        cv::resize(full, means, reduced, 0, 0, cv::INTER_AREA);
    } else {
        cv::Mat extended;
        cv::copyMakeBorder(full, extended, 0, bottom, 0, right, cv::BORDER_REPLICATE);
        cv::resize(extended, means, reduced, 0, 0, cv::INTER_AREA);
    }
    return means;
}

} // namespace

DriftPicture drift_picture(const QImage& stored, QImageIOHandler::Transformations turn,
                           QSize photo_size)
{
    if (stored.isNull() || photo_size.isEmpty())
        return {};
    const QSize upright = (turn & QImageIOHandler::TransformationRotate90)
                              ? stored.size().transposed()
                              : stored.size();
    const int reduction = shot_drift_reduction(upright, photo_size);
    const cv::Size reduced((stored.width() + reduction - 1) / reduction,
                           (stored.height() + reduction - 1) / reduction);
    cv::Mat grey;
    const QImage::Format format = stored.format();
    if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
        format == QImage::Format_ARGB32_Premultiplied) {
        // Reduced in colour, then made grey: the grey conversion then runs on
        // a quarter of the pixels or fewer.
        const cv::Mat colour(stored.height(), stored.width(), CV_8UC4,
                             const_cast<uchar*>(stored.constBits()),
                             static_cast<std::size_t>(stored.bytesPerLine()));
        cv::cvtColor(block_means(colour, reduction, reduced), grey, cv::COLOR_BGRA2GRAY);
    } else {
        const QImage converted = stored.convertToFormat(QImage::Format_Grayscale8);
        if (converted.isNull())
            return {};
        const cv::Mat full(converted.height(), converted.width(), CV_8U,
                           const_cast<uchar*>(converted.constBits()),
                           static_cast<std::size_t>(converted.bytesPerLine()));
        grey = block_means(full, reduction, reduced);
    }
    if (turn == QImageIOHandler::TransformationNone)
        return at_reference_scale(grey, photo_size);
    const QImage flat(grey.data, grey.cols, grey.rows, static_cast<int>(grey.step),
                      QImage::Format_Grayscale8);
    return at_reference_scale(upright_image(flat, turn), photo_size);
}

DriftReference make_drift_reference(const DriftPicture& picture)
{
    DriftReference reference;
    if (picture.grey.empty())
        return reference;
    std::vector<cv::KeyPoint> keypoints;
    cv::Mat descriptors;
    detector(4 * drift_reference_features)
        ->detectAndCompute(picture.grey, cv::noArray(), keypoints, descriptors);
    if (static_cast<int>(keypoints.size()) < drift_reference_min_features)
        return reference;
    const std::vector<int> chosen =
        spread_selection(keypoints, picture.grey.size(), drift_reference_features);
    reference.descriptors.create(static_cast<int>(chosen.size()), descriptor_bytes, CV_8U);
    std::vector<cv::Point2f> points;
    for (int row = 0; row < static_cast<int>(chosen.size()); ++row) {
        points.push_back(keypoints[chosen[row]].pt);
        descriptors.row(chosen[row]).copyTo(reference.descriptors.row(row));
    }
    refine_positions(picture.grey, points);
    for (const cv::Point2f& p : points)
        reference.points.push_back(to_photo_point(p, picture.to_photo));

    // The patches around the first features chosen: the strongest of each
    // part of the picture.
    const int half = drift_patch_side / 2;
    cv::Mat patches(0, drift_patch_side * drift_patch_side, CV_8U);
    for (const cv::Point2f& p : points) {
        if (patches.rows == drift_reference_patches)
            break;
        const int x = static_cast<int>(std::lround(p.x)), y = static_cast<int>(std::lround(p.y));
        if (x < half || y < half || x + half >= picture.grey.cols || y + half >= picture.grey.rows)
            continue;
        const cv::Mat patch = picture.grey(cv::Rect(x - half, y - half, drift_patch_side,
                                                    drift_patch_side)).clone();
        if (!patch_model(patch.data))
            continue;
        patches.push_back(patch.reshape(1, 1));
        reference.patch_centres.push_back(to_photo_point(cv::Point2f(x, y), picture.to_photo));
    }
    reference.patches = patches;
    reference.patch_scale = reference.patch_centres.empty() ? 0.0 : picture.to_photo;
    reference.patch_models = make_patch_models(reference);
    return reference;
}

DriftMeasure measure_drift(const DriftReference& reference, const QImage& stored,
                           QImageIOHandler::Transformations turn, QSize photo_size)
{
    const QImage::Format format = stored.format();
    const int reduction = shot_drift_reduction(stored.size(), photo_size);
    if (!reference.empty() && !stored.isNull() && !photo_size.isEmpty() &&
        turn == QImageIOHandler::TransformationNone &&
        (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
         format == QImage::Format_ARGB32_Premultiplied) &&
        stored.width() % reduction == 0 && stored.height() % reduction == 0) {
        const double to_photo =
            static_cast<double>(photo_size.width()) / (stored.width() / reduction);
        // Patches larger in the shot than in the reference would reach past
        // their windows.
        if (reference.patch_scale > 0.0 && reference.patch_scale / to_photo < 1.03) {
            if (const std::optional<PatchSearch> search =
                    windowed_search(reference, stored, reduction, to_photo)) {
                const std::optional<Similarity> rest =
                    motion_from_rest(reference, *search, to_photo, window_reach);
                if (rest && plausible(*rest)) {
                    DriftMeasure measure;
                    measure.motion = *rest;
                    return measure;
                }
            }
        }
    }
    return measure_drift(reference, drift_picture(stored, turn, photo_size));
}

DriftMeasure measure_drift(const DriftReference& reference, const DriftPicture& shot)
{
    DriftMeasure measure;
    if (reference.empty() || shot.grey.empty())
        return measure;
    const std::optional<PatchSearch> search = patch_search(reference, shot);
    if (search) {
        const std::optional<Similarity> rest = motion_from_rest(reference, *search, shot.to_photo);
        if (rest && plausible(*rest)) {
            measure.motion = *rest;
            return measure;
        }
        if (const std::optional<Similarity> found =
                motion_from_patch_search(reference, *search, shot.to_photo)) {
            const std::optional<Similarity> finer =
                refine_on_patches(reference, *search, shot.to_photo, *found);
            if (finer && plausible(*finer)) {
                measure.motion = *finer;
                return measure;
            }
        }
    }
    std::vector<cv::KeyPoint> keypoints;
    cv::Mat descriptors;
    detector(shot_features)->detectAndCompute(shot.grey, cv::noArray(), keypoints, descriptors);
    if (static_cast<int>(keypoints.size()) < min_matches)
        return measure;

    // Each reference feature's best match, kept only when clearly better than
    // the second: a subject's features rarely pass for the room's.
    const std::vector<NearestTwo> nearest = nearest_two(reference.descriptors, descriptors);
    std::vector<cv::Point2f> from, to;
    for (int i = 0; i < static_cast<int>(nearest.size()); ++i) {
        const NearestTwo& pair = nearest[i];
        if (pair.best < 0 || pair.best_distance >= 0.8f * pair.second_distance)
            continue;
        from.push_back(keypoints[pair.best].pt);
        to.push_back(reference.points[i]);
    }
    refine_positions(shot.grey, from);
    for (cv::Point2f& p : from)
        p = to_photo_point(p, shot.to_photo);
    if (static_cast<int>(from.size()) < min_matches)
        return measure;

    std::vector<uchar> inliers;
    const double tolerance = 2.5 * shot.to_photo;
    const cv::Mat fit = cv::estimateAffinePartial2D(from, to, inliers, cv::RANSAC, tolerance,
                                                    4000, 0.999, 20);
    if (fit.empty())
        return measure;
    // A second, tighter pass over the features the first agreed with.
    std::vector<cv::Point2f> kept_from, kept_to;
    const cv::Matx23d m(fit);
    for (std::size_t i = 0; i < from.size(); ++i) {
        const cv::Point2d p(from[i]);
        const cv::Point2d q(m(0, 0) * p.x + m(0, 1) * p.y + m(0, 2),
                            m(1, 0) * p.x + m(1, 1) * p.y + m(1, 2));
        if (inliers[i] && std::hypot(q.x - to[i].x, q.y - to[i].y) < 0.6 * tolerance) {
            kept_from.push_back(from[i]);
            kept_to.push_back(to[i]);
        }
    }
    measure.matches = static_cast<int>(kept_from.size());
    if (measure.matches < min_matches)
        return measure;
    std::vector<uchar> unused;
    const cv::Mat refined = cv::estimateAffinePartial2D(kept_from, kept_to, unused, cv::LMEDS,
                                                        tolerance, 2000, 0.999, 30);
    Similarity motion = similarity_of(refined.empty() ? fit : refined);
    if (search)
        if (const std::optional<Similarity> finer =
                refine_on_patches(reference, *search, shot.to_photo, motion))
            motion = *finer;
    if (!plausible(motion))
        return measure;
    measure.motion = motion;
    return measure;
}

QByteArray drift_points_bytes(const DriftReference& reference)
{
    QByteArray bytes(static_cast<int>(reference.points.size()) * 8, '\0');
    char* out = bytes.data();
    for (const cv::Point2f& p : reference.points) {
        qToLittleEndian(p.x, out);
        qToLittleEndian(p.y, out + 4);
        out += 8;
    }
    return bytes;
}

QByteArray drift_descriptor_bytes(const DriftReference& reference)
{
    const cv::Mat& d = reference.descriptors;
    QByteArray bytes;
    for (int row = 0; row < d.rows; ++row)
        bytes.append(reinterpret_cast<const char*>(d.ptr<uchar>(row)), descriptor_bytes);
    return bytes;
}

std::optional<DriftReference> drift_reference_from_bytes(const QByteArray& points,
                                                         const QByteArray& descriptors)
{
    const int count = points.size() / 8;
    if (points.size() % 8 != 0 || count == 0 || count > drift_reference_features ||
        descriptors.size() != count * descriptor_bytes)
        return std::nullopt;
    DriftReference reference;
    const char* in = points.constData();
    for (int i = 0; i < count; ++i, in += 8) {
        const float x = qFromLittleEndian<float>(in);
        const float y = qFromLittleEndian<float>(in + 4);
        if (!std::isfinite(x) || !std::isfinite(y))
            return std::nullopt;
        reference.points.emplace_back(x, y);
    }
    reference.descriptors.create(count, descriptor_bytes, CV_8U);
    std::memcpy(reference.descriptors.data, descriptors.constData(), descriptors.size());
    return reference;
}

QByteArray drift_patch_centre_bytes(const DriftReference& reference)
{
    DriftReference centres;
    centres.points = reference.patch_centres;
    return drift_points_bytes(centres);
}

QByteArray drift_patch_pixel_bytes(const DriftReference& reference)
{
    const cv::Mat& p = reference.patches;
    QByteArray bytes;
    for (int row = 0; row < p.rows; ++row)
        bytes.append(reinterpret_cast<const char*>(p.ptr<uchar>(row)), p.cols);
    return bytes;
}

bool set_drift_patches(DriftReference& reference, const QByteArray& centres,
                       const QByteArray& pixels, double scale)
{
    constexpr int patch_bytes = drift_patch_side * drift_patch_side;
    const int count = centres.size() / 8;
    if (centres.size() % 8 != 0 || count == 0 || count > drift_reference_patches ||
        pixels.size() != count * patch_bytes || !(scale > 0.0) || !(scale < 1e3))
        return false;
    std::vector<cv::Point2f> points;
    const char* in = centres.constData();
    for (int i = 0; i < count; ++i, in += 8) {
        const float x = qFromLittleEndian<float>(in);
        const float y = qFromLittleEndian<float>(in + 4);
        // Far beyond any photo's reduced pixels: a damaged or edited file,
        // whose centres would overflow the patches' pixel positions.
        if (!std::isfinite(x) || !std::isfinite(y) || std::abs(x) > 1e6f || std::abs(y) > 1e6f)
            return false;
        points.emplace_back(x, y);
    }
    reference.patch_centres = std::move(points);
    reference.patches.create(count, patch_bytes, CV_8U);
    std::memcpy(reference.patches.data, pixels.constData(), pixels.size());
    reference.patch_scale = scale;
    reference.patch_models = make_patch_models(reference);
    return true;
}
