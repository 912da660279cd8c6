// Arbitrary bytes as a calibration file. What the reader accepts must write
// back to the same bytes it would write again (nothing read that cannot be
// kept), and must give the rig's common frame rectangle without fault, as a
// processing run with shots of the reference size computes it.

#include "calibration/calibration_file.h"
#include "output/frame_geometry.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

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
    const Calibration calibration = read.calibration.calibration();
    std::vector<QSize> sizes;
    std::vector<ImageAlignment> alignments;
    for (int k = 0; k < read.calibration.camera_count(); ++k) {
        sizes.push_back(read.calibration.cameras[k].reference_size);
        alignments.push_back(calibration.alignment(k));
    }
    common_frame_rect(sizes, alignments, read.calibration.camera_count() / 2);
    return 0;
}
