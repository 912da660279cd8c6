#include "detection/sticker_snap.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// A round component of a mask, in photo pixels.
struct Blob
{
    cv::Point2d centre;
    double radius = 0.0;
    double edge_distance = 0.0; // from the click to the blob; 0 when it holds the click
    cv::Point2d ellipse_centre; // of the ellipse fitted to its outline
};

// Second-moment ellipse of one component, and whether the component fills it
// as a disc or a disc seen at an angle does. `labels` holds the component as
// `label`, `box` is its bounding box.
bool is_round(const cv::Mat& labels, int label, const cv::Rect& box, int area)
{
    const cv::Mat own = labels(box) == label;
    const cv::Moments m = cv::moments(own, true);
    if (m.m00 <= 0.0)
        return false;
    const double xx = m.mu20 / m.m00, yy = m.mu02 / m.m00, xy = m.mu11 / m.m00;
    const double mean = (xx + yy) / 2, spread = std::sqrt((xx - yy) * (xx - yy) / 4 + xy * xy);
    const double major = mean + spread, minor = mean - spread;
    if (!(minor > 0.0) || minor / major < 0.25) // axes more than 2 : 1 apart
        return false;
    // A filled ellipse of these moments has half axes 2 sqrt(eigenvalue).
    const double a = 2 * std::sqrt(major), b = 2 * std::sqrt(minor);
    const double angle = 0.5 * std::atan2(2 * xy, xx - yy);
    const double c = std::cos(angle), s = std::sin(angle);
    const double cx = m.m10 / m.m00 + box.x, cy = m.m01 / m.m00 + box.y;
    const cv::Rect around = cv::Rect(box.x - 2, box.y - 2, box.width + 4, box.height + 4) &
                            cv::Rect(0, 0, labels.cols, labels.rows);
    // Pixels where the component and its ellipse disagree: few for a disc
    // (its digitised rim only), many for a ring, a square or a smudge.
    int disagreeing = 0;
    for (int y = around.y; y < around.y + around.height; ++y) {
        const int* row = labels.ptr<int>(y);
        for (int x = around.x; x < around.x + around.width; ++x) {
            const double u = (c * (x - cx) + s * (y - cy)) / a;
            const double v = (-s * (x - cx) + c * (y - cy)) / b;
            disagreeing += (u * u + v * v <= 1.0) != (row[x] == label);
        }
    }
    const double rim = CV_PI * (a + b);
    return disagreeing <= 0.12 * area + 0.5 * rim;
}

cv::Point2d fitted_centre(const cv::Mat& labels, int label, const cv::Rect& box, cv::Point2d centroid)
{
    cv::Mat own = labels(box) == label;
    std::vector<std::vector<cv::Point>> outlines;
    cv::findContours(own, outlines, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    const auto longest = std::max_element(
        outlines.begin(), outlines.end(),
        [](const auto& p, const auto& q) { return p.size() < q.size(); });
    if (longest == outlines.end() || longest->size() < 6)
        return centroid;
    const cv::RotatedRect fit = cv::fitEllipse(*longest);
    return {fit.center.x + box.x, fit.center.y + box.y};
}

// The round components of `mask` (the pixels of `window`) that do not touch
// its border, with an area in [least_area, most_area].
std::vector<Blob> round_blobs(const cv::Mat& mask, const cv::Rect& window, cv::Point2d click,
                              double least_area, double most_area)
{
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
    const cv::Point local(static_cast<int>(std::lround(click.x)) - window.x,
                          static_cast<int>(std::lround(click.y)) - window.y);
    const bool click_inside = local.x >= 0 && local.y >= 0 && local.x < mask.cols &&
                              local.y < mask.rows;
    const int clicked = click_inside ? labels.at<int>(local) : 0;
    std::vector<Blob> blobs;
    for (int label = 1; label < count; ++label) {
        const int area = stats.at<int>(label, cv::CC_STAT_AREA);
        const cv::Rect box(stats.at<int>(label, cv::CC_STAT_LEFT),
                           stats.at<int>(label, cv::CC_STAT_TOP),
                           stats.at<int>(label, cv::CC_STAT_WIDTH),
                           stats.at<int>(label, cv::CC_STAT_HEIGHT));
        if (area < least_area || area > most_area)
            continue;
        // Cut by the window: its centroid would be pulled inwards.
        if (box.x == 0 || box.y == 0 || box.x + box.width == mask.cols ||
            box.y + box.height == mask.rows)
            continue;
        if (!is_round(labels, label, box, area))
            continue;
        Blob blob;
        const cv::Point2d centroid(centroids.at<double>(label, 0), centroids.at<double>(label, 1));
        blob.centre = centroid + cv::Point2d(window.x, window.y);
        blob.radius = std::sqrt(area / CV_PI);
        blob.edge_distance =
            label == clicked ? 0.0 : std::max(0.0, cv::norm(blob.centre - click) - blob.radius);
        blob.ellipse_centre =
            fitted_centre(labels, label, box, centroid) + cv::Point2d(window.x, window.y);
        blobs.push_back(blob);
    }
    return blobs;
}

// The blob the click meant: the one holding it, else the nearest, and only
// when the click lies within about a diameter of the blob's centre.
std::optional<Blob> meant_blob(const std::vector<Blob>& blobs)
{
    std::optional<Blob> best;
    for (const Blob& blob : blobs) {
        if (blob.edge_distance > std::max(blob.radius, 4.0))
            continue;
        // Nested blobs (a sticker and its label) both hold the click: the
        // smaller is the sticker.
        if (!best || blob.edge_distance < best->edge_distance ||
            (blob.edge_distance == best->edge_distance && blob.radius < best->radius))
            best = blob;
    }
    return best;
}

// What the digitised rim of a disc of this radius leaves in its centroid
// however clean the picture, about 0.025 px at a radius of 30 px.
double rim_uncertainty(double radius)
{
    return 0.75 / std::max(radius, 1.0);
}

double median_of(std::vector<unsigned char>& values)
{
    if (values.empty())
        return -1.0;
    auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

struct Level
{
    double inside = -1.0;
    double outside = -1.0;
};

// The grey level of a disc and of the ring just outside it.
Level disc_levels(const cv::Mat& grey, cv::Point2d centre, double radius)
{
    const double ring_inner = radius + 1.5, ring_outer = radius + std::max(3.0, 0.3 * radius);
    std::vector<unsigned char> inside, outside;
    const int x0 = std::max(0, static_cast<int>(centre.x - ring_outer));
    const int x1 = std::min(grey.cols - 1, static_cast<int>(centre.x + ring_outer) + 1);
    const int y0 = std::max(0, static_cast<int>(centre.y - ring_outer));
    const int y1 = std::min(grey.rows - 1, static_cast<int>(centre.y + ring_outer) + 1);
    for (int y = y0; y <= y1; ++y) {
        const unsigned char* row = grey.ptr<unsigned char>(y);
        for (int x = x0; x <= x1; ++x) {
            const double d = std::hypot(x - centre.x, y - centre.y);
            if (d <= 0.6 * radius)
                inside.push_back(row[x]);
            else if (d >= ring_inner && d <= ring_outer)
                outside.push_back(row[x]);
        }
    }
    return {median_of(inside), median_of(outside)};
}

// The disc around `centre` cut at `level` of the way from its surroundings'
// grey to its own; nothing when it is no longer one round blob there.
std::optional<Blob> disc_at(const cv::Mat& grey, cv::Point2d centre, double radius,
                            const Level& levels, double fraction)
{
    const int reach = static_cast<int>(std::ceil(1.6 * radius + 4));
    const cv::Rect window = cv::Rect(static_cast<int>(centre.x) - reach,
                                     static_cast<int>(centre.y) - reach, 2 * reach + 1,
                                     2 * reach + 1) &
                            cv::Rect(0, 0, grey.cols, grey.rows);
    const double cut = levels.outside + fraction * (levels.inside - levels.outside);
    cv::Mat mask;
    if (levels.inside < levels.outside)
        mask = grey(window) < cut;
    else
        mask = grey(window) > cut;
    // Only the disc's own neighbourhood: a patch of the scene as dark (or as
    // light) touching its rim is not part of it.
    cv::Mat near = cv::Mat::zeros(mask.size(), CV_8U);
    cv::circle(near,
               cv::Point(static_cast<int>(std::lround(centre.x)) - window.x,
                         static_cast<int>(std::lround(centre.y)) - window.y),
               static_cast<int>(std::ceil(1.3 * radius + 3)), cv::Scalar(255), cv::FILLED);
    mask &= near;
    const double area = CV_PI * radius * radius;
    std::vector<Blob> blobs = round_blobs(mask, window, centre, 0.3 * area, 3.0 * area);
    std::optional<Blob> found = meant_blob(blobs);
    if (!found || found->edge_distance > 0.0)
        return std::nullopt;
    return found;
}

// A round blob standing out from its surroundings, either way, near the click;
// its centre refined at half its contrast, and its uncertainty from how far
// the centre moves between cuts at a third and two thirds of the contrast.
std::optional<StickerSnap> contrast_snap(const cv::Mat& grey, const cv::Rect& window,
                                         cv::Point2d click, double least_area, double most_area)
{
    const cv::Mat part = grey(window);
    std::vector<unsigned char> values(part.begin<unsigned char>(), part.end<unsigned char>());
    std::sort(values.begin(), values.end());
    const double low = values[values.size() / 50], high = values[values.size() - 1 - values.size() / 50];
    if (high - low < 12)
        return std::nullopt;
    std::vector<Blob> blobs;
    // Close to either end too: a cover as dark as the darkest of the scene
    // stands apart only just above its own grey.
    for (const double fraction : {0.05, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 0.95}) {
        const double cut = low + fraction * (high - low);
        for (const cv::Mat& mask : {cv::Mat(part < cut), cv::Mat(part > cut)}) {
            const std::vector<Blob> found = round_blobs(mask, window, click, least_area, most_area);
            blobs.insert(blobs.end(), found.begin(), found.end());
        }
    }
    std::optional<Blob> coarse = meant_blob(blobs);
    if (!coarse)
        return std::nullopt;

    // Twice: a coarse blob may be the sticker with its label around it. The
    // second pass only sharpens the first.
    std::optional<Blob> half;
    Level levels;
    for (int pass = 0; pass < 2; ++pass) {
        const Level seen = disc_levels(grey, coarse->centre, coarse->radius);
        if (seen.inside < 0 || seen.outside < 0 || std::abs(seen.inside - seen.outside) < 12)
            break;
        const std::optional<Blob> cut = disc_at(grey, coarse->centre, coarse->radius, seen, 0.5);
        if (!cut)
            break;
        half = cut;
        levels = seen;
        coarse = cut;
    }
    if (!half)
        return std::nullopt;
    // The cuts at a third and two thirds see the rim's noise and any lopsided
    // shading the half cut sees, and more of them (the rim's blur is symmetric
    // about the half cut only): on generated rigs they differ from it by
    // about twice its error. A cut that merges with the scene says only that
    // the outline is less sure: its share is then twice how far the
    // outline's ellipse lies from the centroid.
    double squares = 0.0;
    for (const double fraction : {1.0 / 3.0, 2.0 / 3.0}) {
        const std::optional<Blob> cut = disc_at(grey, half->centre, half->radius, levels, fraction);
        const double d = cut ? cv::norm(cut->centre - half->centre)
                             : 2 * cv::norm(half->ellipse_centre - half->centre);
        squares += d * d;
    }
    const double spread = std::sqrt(squares / 2) / 2;
    StickerSnap snap;
    snap.point = half->centre;
    snap.method = SnapMethod::Contrast;
    snap.radius = half->radius;
    snap.uncertainty = std::hypot(std::hypot(rim_uncertainty(half->radius), spread),
                                  cv::norm(half->ellipse_centre - half->centre));
    return snap;
}

} // namespace

QString StickerSnap::status() const
{
    switch (method) {
    case SnapMethod::Colour:
        return QStringLiteral("Point placé au centre du sticker");
    case SnapMethod::Contrast:
        return QStringLiteral("Point placé au centre de la pastille ronde");
    case SnapMethod::None:
        break;
    }
    return QStringLiteral("Aucun sticker rond trouvé près du clic : point gardé tel quel");
}

namespace {

// One search within `reach` pixels of the click, by colour (`colour` given)
// or by contrast.
std::optional<StickerSnap> snap_within(const cv::Mat& bgr, cv::Point2d click,
                                       const std::optional<StickerMatch>& colour, double reach,
                                       double least_area, double most_area)
{
    const cv::Rect whole(0, 0, bgr.cols, bgr.rows);
    const cv::Rect search = cv::Rect(static_cast<int>(std::floor(click.x - reach)),
                                     static_cast<int>(std::floor(click.y - reach)),
                                     static_cast<int>(2 * reach) + 1,
                                     static_cast<int>(2 * reach) + 1) &
                            whole;
    if (search.width < 5 || search.height < 5)
        return std::nullopt;
    // Only this much of the photo is looked at: the search and, around it,
    // room for the refinement of a disc at its edge.
    const int margin = static_cast<int>(reach);
    const cv::Rect region = cv::Rect(search.x - margin, search.y - margin,
                                     search.width + 2 * margin, search.height + 2 * margin) &
                            whole;
    const cv::Point2d origin(region.x, region.y);
    const cv::Point2d local_click = click - origin;
    const cv::Rect window(search.x - region.x, search.y - region.y, search.width, search.height);
    const cv::Mat part = bgr(region);
    most_area = std::min(most_area, 0.5 * window.area());

    if (colour) {
        cv::Mat mask;
        colour_mask(part(window), *colour, mask);
        const std::optional<Blob> blob =
            meant_blob(round_blobs(mask, window, local_click, least_area, most_area));
        if (!blob)
            return std::nullopt;
        StickerSnap snap;
        snap.point = blob->centre + origin;
        snap.method = SnapMethod::Colour;
        snap.radius = blob->radius;
        // A rim cut by colour shifts with the colours behind it, and one cut
        // by grey with their brightness: where the two centres part, or the
        // centroid and the outline's ellipse do, the cut is lopsided.
        double lopsided = cv::norm(blob->centre - blob->ellipse_centre);
        cv::Mat grey;
        cv::cvtColor(part, grey, cv::COLOR_BGR2GRAY);
        const Level levels = disc_levels(grey, blob->centre, blob->radius);
        if (std::abs(levels.inside - levels.outside) >= 12) {
            if (const auto cut = disc_at(grey, blob->centre, blob->radius, levels, 0.5))
                lopsided = std::max(lopsided, cv::norm(cut->centre - blob->centre));
        }
        snap.uncertainty = std::hypot(rim_uncertainty(blob->radius), lopsided);
        return snap;
    }
    cv::Mat grey;
    cv::cvtColor(part, grey, cv::COLOR_BGR2GRAY);
    std::optional<StickerSnap> snap =
        contrast_snap(grey, window, local_click, least_area, most_area);
    if (snap)
        snap->point += origin;
    return snap;
}

} // namespace

StickerSnap snap_to_sticker(const cv::Mat& bgr, cv::Point2d click,
                            const std::optional<StickerMatch>& colour, double expected_radius)
{
    StickerSnap kept;
    kept.point = click;
    kept.uncertainty = unsnapped_click_uncertainty;
    if (bgr.empty() || bgr.type() != CV_8UC3 || !std::isfinite(click.x) || !std::isfinite(click.y) ||
        click.x < -0.5 || click.y < -0.5 || click.x > bgr.cols - 0.5 || click.y > bgr.rows - 0.5)
        return kept;

    // Of a size known, a few diameters. Else from a small search outwards: a
    // disc the search cuts is no disc to it, so a sticker larger than thought
    // is found in a wider one, up to a quarter of the photo.
    std::vector<double> reaches;
    double least_area = 12.0;
    double most_area = 1e300;
    if (expected_radius > 0.0 && std::isfinite(expected_radius)) {
        reaches = {std::max(4.0 * expected_radius, 12.0)};
        least_area = 0.25 * CV_PI * expected_radius * expected_radius;
        most_area = 4.0 * CV_PI * expected_radius * expected_radius;
    } else {
        const double shorter = std::min(bgr.cols, bgr.rows);
        for (double reach = std::max(24.0, 0.08 * shorter); reach <= std::max(24.0, 0.25 * shorter);
             reach *= 2)
            reaches.push_back(reach);
    }
    if (colour) {
        for (const double reach : reaches) {
            if (const auto snap = snap_within(bgr, click, colour, reach, least_area, most_area))
                return *snap;
        }
    }
    for (const double reach : reaches) {
        if (const auto snap = snap_within(bgr, click, std::nullopt, reach, least_area, most_area))
            return *snap;
    }
    return kept;
}
