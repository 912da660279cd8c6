#include "calibration/calibration.h"

#include <algorithm>

Calibration Calibration::with_count(int count)
{
    Calibration calibration;
    calibration.resize(count);
    return calibration;
}

void Calibration::resize(int n)
{
    n = std::max(n, 0);
    if (n == image_count)
        return;
    image_count = n;
    translation_x.resize(n, 0.0);
    translation_y.resize(n, 0.0);
    rotation_deg.resize(n, 0.0);
    scale.resize(n, 0.0);
    aligned.resize(n, false);
}

ImageAlignment Calibration::alignment(int image_index) const
{
    // The arrays are public: a record filled by hand may hold fewer entries than
    // image_count, and a missing entry reads as unaligned zeros.
    const auto at = [image_index](const auto& values, auto missing) {
        return static_cast<std::size_t>(image_index) < values.size() ? values[image_index]
                                                                     : missing;
    };
    if (image_index < 0 || image_index >= image_count)
        return {};
    return {at(translation_x, 0.0), at(translation_y, 0.0), at(rotation_deg, 0.0), at(scale, 0.0),
            at(aligned, false)};
}

bool Calibration::all_aligned() const
{
    return image_count > 0 && std::all_of(aligned.begin(), aligned.end(), [](bool b) { return b; });
}
