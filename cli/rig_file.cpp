#include "cli/rig_file.h"

#include "calibration/calibration_file.h"
#include "cli/console.h"
#include "cli/exit_status.h"

#include <QFileInfo>
#include <QStringList>

RigFile read_rig_for_processing(const QString& path)
{
    RigFile file;
    CalibrationRead read = read_calibration_file(path);
    if (!read.ok()) {
        print_error(read.error);
        file.exit_status = ExitFailed;
        return file;
    }
    file.rig = std::move(read.calibration);
    QStringList unaligned;
    for (int i = 0; i < file.rig.camera_count(); ++i) {
        if (file.rig.cameras[i].method == AlignmentMethod::NotAligned)
            unaligned << QStringLiteral("%1 (%2)").arg(i + 1).arg(
                QFileInfo(file.rig.cameras[i].reference_photo).fileName());
    }
    if (!unaligned.isEmpty()) {
        print_error(QStringLiteral("'%1' : calibrage incomplet, caméra(s) non alignée(s) : %2 ; "
                                   "terminez-le avec « quorvane calibrate --points » ou dans la "
                                   "fenêtre")
                        .arg(path, unaligned.join(QStringLiteral(", "))));
        file.exit_status = ExitCalibrationIncomplete;
    }
    return file;
}
