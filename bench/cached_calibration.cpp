#include "bench/cached_calibration.h"

#include <fstream>
#include <iomanip>

bool save_cached_calibration(const Calibration& calibration, const QString& path)
{
    std::ofstream file(path.toLocal8Bit().toStdString());
    file << std::setprecision(17) << calibration.image_count << '\n';
    for (int i = 0; i < calibration.image_count; ++i) {
        file << calibration.translation_x[i] << ' ' << calibration.translation_y[i] << ' '
             << calibration.rotation_deg[i] << ' ' << calibration.scale[i] << ' '
             << calibration.aligned[i] << '\n';
    }
    return bool(file.flush());
}

std::optional<Calibration> load_cached_calibration(const QString& path)
{
    std::ifstream file(path.toLocal8Bit().toStdString());
    int count = 0;
    if (!(file >> count) || count < 0)
        return std::nullopt;
    Calibration calibration = Calibration::with_count(count);
    for (int i = 0; i < count; ++i) {
        bool aligned = false;
        if (!(file >> calibration.translation_x[i] >> calibration.translation_y[i] >>
              calibration.rotation_deg[i] >> calibration.scale[i] >> aligned))
            return std::nullopt;
        calibration.aligned[i] = aligned;
    }
    return calibration;
}
