#include "output/shot_sizes.h"

#include "output/frame_geometry.h"
#include "photo/image_file.h"

#include <algorithm>
#include <cmath>
#include <ostream>

ShotCalibration fit_calibration_to_shots(const RigCalibration& rig, const QStringList& shots,
                                         std::ostream& log)
{
    ShotCalibration result{rig.calibration(), std::nullopt};
    const int count = std::min(rig.camera_count(), static_cast<int>(shots.size()));
    for (int i = 0; i < count; ++i) {
        const CameraCalibration& camera = rig.cameras[i];
        const QSize reference = camera.reference_size;
        if (camera.method == AlignmentMethod::NotAligned || reference.isEmpty())
            continue;
        const QSize shot = read_oriented_size(shots[i]);
        if (shot.isEmpty() || shot == reference)
            continue;

        const double kx = double(shot.width()) / reference.width();
        const double ky = double(shot.height()) / reference.height();
        // Cameras round a reduced size to multiples of 8 or 16 (6000 x 4000 gives
        // 4240 x 2832): the same proportions within 1 %, where 4:3 against 3:2
        // differ by 11 % and a quarter turn by far more.
        if (std::abs(kx / ky - 1.0) > 0.01) {
            result.mismatch = ShotSizeMismatch{i, shots[i], shot, reference};
            return result;
        }
        const double k = (kx + ky) / 2;
        const ImageAlignment resized = alignment_for_resized_input(camera.transform, k);
        result.calibration.translation_x[i] = resized.translation_x;
        result.calibration.translation_y[i] = resized.translation_y;
        result.calibration.rotation_deg[i] = resized.rotation_deg;
        result.calibration.scale[i] = resized.scale;
        log << "Camera " << i + 1 << ": shot " << shot.width() << "x" << shot.height() << ", reference "
            << reference.width() << "x" << reference.height() << ", alignment scaled by " << k
            << std::endl;
    }
    return result;
}
