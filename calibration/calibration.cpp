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
    if (image_index < 0 || image_index >= image_count)
        return {};
    return {translation_x[image_index], translation_y[image_index], rotation_deg[image_index],
            scale[image_index], aligned[image_index]};
}

bool Calibration::all_aligned() const
{
    return image_count > 0 && std::all_of(aligned.begin(), aligned.end(), [](bool b) { return b; });
}
