#include "tools/make_rig/scene_light.h"

#include <algorithm>
#include <cmath>

namespace {

// A black body's colour at `kelvin` as sRGB levels (blue, green, red): a common
// fit to the Planckian locus, close enough for a light's cast.
std::array<double, 3> black_body_srgb(double kelvin)
{
    const double t = kelvin / 100.0;
    const double red = t <= 66.0 ? 255.0 : 329.698727446 * std::pow(t - 60.0, -0.1332047592);
    const double green = t <= 66.0 ? 99.4708025861 * std::log(t) - 161.1195681661
                                   : 288.1221695283 * std::pow(t - 60.0, -0.0755148492);
    const double blue =
        t >= 66.0 ? 255.0 : (t <= 19.0 ? 0.0 : 138.5177312231 * std::log(t - 10.0) - 305.0447927307);
    const auto level = [](double v) { return std::clamp(v, 1.0, 255.0); };
    return {level(blue), level(green), level(red)};
}

std::array<double, 3> linear_relative_to_green(double kelvin)
{
    std::array<double, 3> c = black_body_srgb(kelvin);
    for (double& v : c)
        v = std::pow(v / 255.0, 2.2);
    return {c[0] / c[1], 1.0, c[2] / c[1]};
}

std::uint64_t mix(std::uint64_t seed, std::uint64_t salt)
{
    return (seed + 1) * 0x9E3779B97F4A7C15ULL ^ salt * 0xBF58476D1CE4E5B9ULL;
}

} // namespace

std::array<double, 3> light_gains(double kelvin)
{
    if (kelvin == 5500.0)
        return {1.0, 1.0, 1.0};
    const std::array<double, 3> light = linear_relative_to_green(kelvin);
    const std::array<double, 3> daylight = linear_relative_to_green(5500.0);
    return {light[0] / daylight[0], 1.0, light[2] / daylight[2]};
}

std::vector<ColourResponse> reference_light(const RigOptions& options)
{
    // A stream of its own, so the poses and backgrounds of a seed stay as they are.
    cv::RNG rng(mix(options.seed, 0x11947));
    const std::array<double, 3> gains = light_gains(options.light_kelvin);
    std::vector<ColourResponse> responses(options.cameras);
    for (ColourResponse& response : responses) {
        response.gain = gains;
        response.exposure_ev = options.exposure_ev + options.exposure_spread * rng.uniform(-1.0, 1.0);
    }
    return responses;
}

cv::Scalar lit_colour(const cv::Scalar& bgr, const ColourResponse& response)
{
    cv::Scalar out;
    for (int ch = 0; ch < 3; ++ch) {
        const double v = bgr[ch] / 255.0;
        double linear = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        linear = std::clamp(linear * response.gain[ch] * std::pow(2.0, response.exposure_ev), 0.0, 1.0);
        out[ch] = 255.0 * (linear <= 0.0031308 ? 12.92 * linear
                                               : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055);
    }
    return out;
}

cv::Mat take_reference(const cv::Mat& painted, const ColourResponse& response,
                       const RigOptions& options, int camera)
{
    cv::Mat photo = apply_colour_response(painted, response);
    if (options.noise <= 0.0)
        return photo;
    cv::RNG rng(mix(options.seed, 0x2000 + static_cast<std::uint64_t>(camera)));
    cv::Mat grain(photo.size(), CV_32FC3);
    rng.fill(grain, cv::RNG::NORMAL, 0.0, options.noise);
    cv::Mat noisy;
    photo.convertTo(noisy, CV_32FC3);
    noisy += grain;
    noisy.convertTo(photo, CV_8UC3);
    return photo;
}
