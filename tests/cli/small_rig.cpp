#include "small_rig.h"

#include "calibration/calibration_construction.h"
#include "calibration/calibration_file.h"
#include "tools/make_rig/rig_writer.h"

#include <QDir>

#include <sstream>

SmallRig write_small_rig(const QString& folder, int cameras, int hidden_camera)
{
    RigOptions options;
    options.cameras = cameras;
    options.width = 640;
    options.height = 480;
    options.hidden_camera = hidden_camera;
    std::ostringstream log;
    const RigWriteResult written = write_rig(options, folder, log);
    SmallRig rig;
    rig.error = written.error;
    rig.truth = written.truth;
    for (int k = 0; k < cameras; ++k) {
        rig.references << QDir(folder).filePath(reference_file_name(k));
        rig.shots << QDir(folder).filePath(shot_file_name(k));
    }
    return rig;
}

QString write_small_rig_calibration(const SmallRig& rig, const QString& path)
{
    std::ostringstream log;
    ReferenceTriple reference;
    const RigCalibration calibrated =
        construct_rig_calibration(rig.references, StickerColor::Yellow, reference, log);
    if (!calibrated.calibration().all_aligned())
        return QStringLiteral("not every camera was aligned by detection");
    return write_calibration_file(path, calibrated);
}
