#include "calibration/drift_check.h"


#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <QImage>
#include <QtEndian>

#include <algorithm>
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

Similarity similarity_of(const cv::Mat& m)
{
    const double a = m.at<double>(0, 0), b = m.at<double>(1, 0);
    Similarity s;
    s.scale = std::hypot(a, b);
    s.rotation = std::atan2(b, a);
    s.translation = {m.at<double>(0, 2), m.at<double>(1, 2)};
    return s;
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

DriftPicture read_drift_picture(const QString& path, QSize photo_size)
{
    if (photo_size.isEmpty())
        return {};
    return drift_picture(read_reduced_photo(path, drift_reduction(photo_size)), photo_size);
}

DriftPicture drift_picture(const ReducedPhoto& photo, QSize photo_size)
{
    if (photo.empty() || photo_size.isEmpty())
        return {};
    // Upright, as the reference's features were found.
    const QImage image =
        upright_image(photo.stored, photo.turn).convertToFormat(QImage::Format_Grayscale8);
    if (image.isNull())
        return {};
    DriftPicture picture;
    picture.grey.create(image.height(), image.width(), CV_8U);
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(picture.grey.ptr(y), image.constScanLine(y), image.width());
    picture.to_photo = static_cast<double>(photo_size.width()) / picture.grey.cols;
    return picture;
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
    return reference;
}

DriftMeasure measure_drift(const DriftReference& reference, const DriftPicture& shot)
{
    DriftMeasure measure;
    if (reference.empty() || shot.grey.empty())
        return measure;
    std::vector<cv::KeyPoint> keypoints;
    cv::Mat descriptors;
    detector(shot_features)->detectAndCompute(shot.grey, cv::noArray(), keypoints, descriptors);
    if (static_cast<int>(keypoints.size()) < min_matches)
        return measure;

    // Each reference feature's best match, kept only when clearly better than
    // the second: a subject's features rarely pass for the room's.
    std::vector<std::vector<cv::DMatch>> candidates;
    cv::BFMatcher(cv::NORM_HAMMING).knnMatch(reference.descriptors, descriptors, candidates, 2);
    std::vector<cv::Point2f> from, to;
    for (const std::vector<cv::DMatch>& pair : candidates) {
        if (pair.size() < 2 || pair[0].distance >= 0.8f * pair[1].distance)
            continue;
        from.push_back(keypoints[pair[0].trainIdx].pt);
        to.push_back(reference.points[pair[0].queryIdx]);
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
    const Similarity motion = similarity_of(refined.empty() ? fit : refined);
    // Features that agree on a wild motion are a coincidence, not the room.
    if (!(motion.scale > 0.8 && motion.scale < 1.25 && std::abs(motion.rotation) < 0.2) ||
        !std::isfinite(motion.translation.x) || !std::isfinite(motion.translation.y))
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
