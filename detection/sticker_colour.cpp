#include "detection/sticker_colour.h"

#include <opencv2/imgproc.hpp>

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

// Half the side of the square read around a click: wide enough to span a
// sticker's edge or a few noisy pixels, small enough to stay on the sticker.
constexpr int seed_radius = 4;
// Half the side of the square the clicked region may grow in.
constexpr int region_radius = 200;

double hue_distance(double a, double b)
{
    const double d = std::fmod(std::abs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

struct Sample
{
    double hue;
    double chroma;
};

std::vector<Sample> coloured_samples(const cv::Mat& bgr, const cv::Rect& area)
{
    std::vector<Sample> samples;
    for (int y = area.y; y < area.y + area.height; ++y) {
        const cv::Vec3b* row = bgr.ptr<cv::Vec3b>(y);
        for (int x = area.x; x < area.x + area.width; ++x) {
            const cv::Vec3b& p = row[x];
            if (std::max({p[0], p[1], p[2]}) < least_sticker_brightness)
                continue;
            Sample s{};
            hue_and_chroma(p[0], p[1], p[2], s.hue, s.chroma);
            if (s.chroma >= least_sticker_chroma)
                samples.push_back(s);
        }
    }
    return samples;
}

// The circular mean hue and the median chroma of the samples.
LearnedColour typical_colour(std::vector<Sample> samples)
{
    double sx = 0.0, sy = 0.0;
    for (const Sample& s : samples) {
        sx += std::cos(s.hue * pi / 180.0);
        sy += std::sin(s.hue * pi / 180.0);
    }
    LearnedColour colour;
    colour.hue = std::atan2(sy, sx) * 180.0 / pi;
    if (colour.hue < 0.0)
        colour.hue += 360.0;
    const auto middle = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
    std::nth_element(samples.begin(), middle, samples.end(),
                     [](const Sample& a, const Sample& b) { return a.chroma < b.chroma; });
    colour.chroma = middle->chroma;
    // Whole numbers: what the log says is what is kept and written.
    colour.hue = std::fmod(std::round(colour.hue), 360.0);
    colour.chroma = std::round(colour.chroma);
    return colour;
}

// How far `value` of the samples lies from the centre, at the 95th percentile.
template <typename Distance>
double spread(const std::vector<Sample>& samples, Distance distance)
{
    std::vector<double> d;
    d.reserve(samples.size());
    for (const Sample& s : samples)
        d.push_back(distance(s));
    const auto at = d.begin() + static_cast<std::ptrdiff_t>(d.size() * 95 / 100);
    std::nth_element(d.begin(), at, d.end());
    return *at;
}

// Tolerances as narrow as the sticker's own pixels allow, plus room for the
// differences between cameras (a stop of exposure changes the chroma by a few
// percent where a channel clips or nears black), never wider than the
// defaults: a looser band lets the background's pale or dark versions of the
// hue in, and the rules then take their pieces for stickers.
void fit_tolerances(LearnedColour& colour, const std::vector<Sample>& members)
{
    const LearnedColour defaults;
    const double hue_spread =
        spread(members, [&](const Sample& s) { return hue_distance(s.hue, colour.hue); });
    const double chroma_spread =
        spread(members, [&](const Sample& s) { return std::abs(s.chroma - colour.chroma); });
    colour.hue_tolerance = std::round(std::clamp(hue_spread + 7.0, 10.0, defaults.hue_tolerance));
    colour.chroma_tolerance =
        std::round(std::clamp(chroma_spread + 12.0, 14.0, defaults.chroma_tolerance));
}

const QString too_grey = QStringLiteral(
    "la couleur cliquée n'est pas assez saturée pour être celle d'un sticker (gris, blanc ou "
    "noir)");

} // namespace

void hue_and_chroma(int blue, int green, int red, double& hue, double& chroma)
{
    const int high = std::max({blue, green, red});
    const int low = std::min({blue, green, red});
    const double range = high - low;
    chroma = high > 0 ? 100.0 * range / high : 0.0;
    if (range == 0.0) {
        hue = 0.0;
        return;
    }
    if (high == red)
        hue = 60.0 * ((green - blue) / range);
    else if (high == green)
        hue = 60.0 * ((blue - red) / range + 2.0);
    else
        hue = 60.0 * ((red - green) / range + 4.0);
    if (hue < 0.0)
        hue += 360.0;
}

bool matches(const LearnedColour& colour, int blue, int green, int red)
{
    if (std::max({blue, green, red}) < least_sticker_brightness)
        return false;
    double hue = 0.0, chroma = 0.0;
    hue_and_chroma(blue, green, red, hue, chroma);
    // A grey pixel's hue means nothing, whatever the tolerance.
    const double least = std::max(colour.chroma - colour.chroma_tolerance, 0.6 * least_sticker_chroma);
    return chroma >= least && chroma <= colour.chroma + colour.chroma_tolerance &&
           hue_distance(hue, colour.hue) <= colour.hue_tolerance;
}

void colour_mask(const cv::Mat& bgr, const StickerMatch& match, cv::Mat& mask)
{
    if (!match.learned) {
        const ColorThresholds& t = match.thresholds;
        cv::inRange(bgr, cv::Scalar(t.lower_blue, t.lower_green, t.lower_red, 0),
                    cv::Scalar(t.upper_blue, t.upper_green, t.upper_red, 0), mask);
        return;
    }
    mask.create(bgr.size(), CV_8UC1);
    const LearnedColour& colour = *match.learned;
    // Pixels near the colour's middle: every sticker has plenty, even where a
    // brighter camera clips a channel, whereas the noise of a neighbouring hue
    // only reaches the band's edge.
    LearnedColour middle = colour;
    middle.hue_tolerance *= 0.7;
    middle.chroma_tolerance *= 0.7;
    cv::Mat core(bgr.size(), CV_8UC1);
    for (int y = 0; y < bgr.rows; ++y) {
        const cv::Vec3b* in = bgr.ptr<cv::Vec3b>(y);
        unsigned char* out = mask.ptr<unsigned char>(y);
        unsigned char* centre = core.ptr<unsigned char>(y);
        for (int x = 0; x < bgr.cols; ++x) {
            const bool in_band = matches(colour, in[x][0], in[x][1], in[x][2]);
            out[x] = in_band ? 255 : 0;
            centre[x] = in_band && matches(middle, in[x][0], in[x][1], in[x][2]) ? 255 : 0;
        }
    }
    // Where two other colours meet, the blend of their edge can pass for the
    // sticker's: thin lines, which the detection's dilation would swell into
    // sticker-sized blobs. A sticker is a solid disc and keeps its shape.
    static const cv::Mat thin = cv::getStructuringElement(cv::MORPH_RECT, {5, 5});
    cv::morphologyEx(mask, mask, cv::MORPH_OPEN, thin);
    // Only the patches of the band that hold some of its middle are kept.
    cv::Mat labels;
    const int count = cv::connectedComponents(mask, labels, 8, CV_32S);
    std::vector<unsigned char> keep(static_cast<size_t>(count), 0);
    for (int y = 0; y < bgr.rows; ++y) {
        const int* label = labels.ptr<int>(y);
        const unsigned char* centre = core.ptr<unsigned char>(y);
        for (int x = 0; x < bgr.cols; ++x) {
            if (centre[x] && label[x] > 0)
                keep[static_cast<size_t>(label[x])] = 255;
        }
    }
    for (int y = 0; y < bgr.rows; ++y) {
        const int* label = labels.ptr<int>(y);
        unsigned char* out = mask.ptr<unsigned char>(y);
        for (int x = 0; x < bgr.cols; ++x)
            out[x] = keep[static_cast<size_t>(label[x])];
    }
}

LearnedColour preset_colour(StickerColor color)
{
    // The middle of each preset's box.
    const ColorThresholds t = thresholds_for(color);
    LearnedColour colour;
    hue_and_chroma((t.lower_blue + t.upper_blue) / 2, (t.lower_green + t.upper_green) / 2,
                   (t.lower_red + t.upper_red) / 2, colour.hue, colour.chroma);
    colour.hue = std::round(colour.hue);
    colour.chroma = std::round(colour.chroma);
    return colour;
}

ColourLearning colour_from_hex(const QString& text)
{
    static const QRegularExpression hex(QStringLiteral("^#([0-9A-Fa-f]{2})([0-9A-Fa-f]{2})([0-9A-Fa-f]{2})$"));
    const QRegularExpressionMatch found = hex.match(text);
    if (!found.hasMatch())
        return {std::nullopt, QStringLiteral("« %1 » n'est pas une couleur #RRGGBB").arg(text)};
    const int red = found.captured(1).toInt(nullptr, 16);
    const int green = found.captured(2).toInt(nullptr, 16);
    const int blue = found.captured(3).toInt(nullptr, 16);
    LearnedColour colour;
    hue_and_chroma(blue, green, red, colour.hue, colour.chroma);
    colour.hue = std::fmod(std::round(colour.hue), 360.0);
    colour.chroma = std::round(colour.chroma);
    if (colour.chroma < least_sticker_chroma || std::max({red, green, blue}) < least_sticker_brightness)
        return {std::nullopt, QStringLiteral("« %1 » : ").arg(text) + too_grey};
    return {colour, {}};
}

ColourLearning learn_colour(const cv::Mat& bgr, const cv::Point& click,
                            const std::optional<LearnedColour>& guess)
{
    const cv::Rect image(0, 0, bgr.cols, bgr.rows);
    if (bgr.empty() || bgr.type() != CV_8UC3 || !image.contains(click))
        return {std::nullopt, QStringLiteral("le point (%1, %2) est hors de la photo")
                                  .arg(click.x)
                                  .arg(click.y)};

    const cv::Rect seed_area =
        cv::Rect(click.x - seed_radius, click.y - seed_radius, 2 * seed_radius + 1,
                 2 * seed_radius + 1) &
        image;
    std::vector<Sample> seeds = coloured_samples(bgr, seed_area);
    // A click on a sticker's edge, or just beside it, still has the sticker on a
    // good part of its neighbourhood; on a grey surface it has next to none.
    if (seeds.size() * 6 < static_cast<size_t>(seed_area.area()))
        return {std::nullopt, too_grey};
    if (guess) {
        LearnedColour loose = *guess;
        loose.hue_tolerance *= 2.0;
        loose.chroma_tolerance = 100.0;
        std::vector<Sample> near_guess;
        for (const Sample& s : seeds) {
            if (hue_distance(s.hue, loose.hue) <= loose.hue_tolerance)
                near_guess.push_back(s);
        }
        if (near_guess.size() * 6 >= static_cast<size_t>(seed_area.area()))
            seeds = std::move(near_guess);
    }
    const LearnedColour seed = typical_colour(seeds);

    // The region of the seed's colour, connected to the click's neighbourhood.
    const cv::Rect window =
        cv::Rect(click.x - region_radius, click.y - region_radius, 2 * region_radius + 1,
                 2 * region_radius + 1) &
        image;
    cv::Mat mask;
    colour_mask(bgr(window), seed, mask);
    cv::Mat labels;
    const int count = cv::connectedComponents(mask, labels, 8, CV_32S);
    std::vector<int> votes(count, 0);
    const cv::Rect seed_in_window = seed_area - window.tl();
    for (int y = seed_in_window.y; y < seed_in_window.y + seed_in_window.height; ++y) {
        for (int x = seed_in_window.x; x < seed_in_window.x + seed_in_window.width; ++x)
            ++votes[labels.at<int>(y, x)];
    }
    votes[0] = 0;
    const int region = static_cast<int>(std::max_element(votes.begin(), votes.end()) - votes.begin());
    if (region == 0)
        return {std::nullopt, too_grey};

    // The sticker's inside, away from the rim where it blends with its
    // surroundings: its pixels say how much the colour itself varies.
    const cv::Mat region_mask = labels == region;
    cv::Mat inside;
    cv::erode(region_mask, inside, cv::Mat(), cv::Point(-1, -1), 2);
    if (cv::countNonZero(inside) < 16)
        inside = region_mask;
    std::vector<Sample> members;
    for (int y = 0; y < labels.rows; ++y) {
        const unsigned char* row = inside.ptr<unsigned char>(y);
        const cv::Vec3b* pixels = bgr.ptr<cv::Vec3b>(y + window.y) + window.x;
        for (int x = 0; x < labels.cols; ++x) {
            if (!row[x])
                continue;
            Sample s{};
            hue_and_chroma(pixels[x][0], pixels[x][1], pixels[x][2], s.hue, s.chroma);
            members.push_back(s);
        }
    }
    LearnedColour learned = typical_colour(members);
    if (learned.chroma < least_sticker_chroma)
        return {std::nullopt, too_grey};
    fit_tolerances(learned, members);
    return {learned, {}};
}
