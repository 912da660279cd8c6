#pragma once

#include "tools/make_rig/parallax_scene.h"
#include "tools/make_rig/rig_options.h"

#include <opencv2/core.hpp>

#include <array>
#include <vector>

// Gains (blue, green, red) in linear light that a light of `kelvin` leaves on a
// camera balanced for daylight (5500 K): green 1, red above 1 and blue below for
// a warmer light, the other way round for a cooler one; exactly 1 at 5500 K.
std::array<double, 3> light_gains(double kelvin);

// Each camera's response for the flat references: the light's gains and the
// exposure plus the camera's own offset, drawn from the seed within
// +- options.exposure_spread. No vignetting.
std::vector<ColourResponse> reference_light(const RigOptions& options);

// `bgr` (8-bit levels) as a camera with `response` records it, before noise
// and compression, with the exact sRGB curve.
cv::Scalar lit_colour(const cv::Scalar& bgr, const ColourResponse& response);

// The reference photo as camera `camera` takes it: `response` applied in linear
// light, then Gaussian noise of `options.noise` levels on every channel, drawn
// from the seed and the camera.
cv::Mat take_reference(const cv::Mat& painted, const ColourResponse& response,
                       const RigOptions& options, int camera);
