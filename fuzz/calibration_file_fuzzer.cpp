// Arbitrary bytes as a calibration file. What the reader accepts must write
// back to the same bytes it would write again (nothing read that cannot be
// kept), and must give every camera a frame geometry without fault, as a
// processing run with shots of the reference size computes it.

#include "calibration/calibration_file.h"
#include "output/frame_geometry.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const CalibrationRead read = parse_calibration(content);
    if (!read.ok())
        return 0;

    const QByteArray written = calibration_json(read.calibration);
    const CalibrationRead reread = parse_calibration(written);
    if (!reread.ok() || calibration_json(reread.calibration) != written) {
        std::fprintf(stderr, "accepted, but does not read back the same: %s\n",
                     qPrintable(reread.error));
        std::abort();
    }
    for (const CameraCalibration& camera : read.calibration.cameras)
        frame_geometry(camera.reference_size, camera.transform);
    return 0;
}
