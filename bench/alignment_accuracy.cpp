// Calibrates synthetic rigs and measures how well their aligned frames match:
// the shot markers of every frame against the middle camera's frame.
//   alignment_accuracy                       the whole set of cases
//   alignment_accuracy [--size WxH] [--cameras N] [--seed S] [--offset DX,DY]
//                      [--middle-shift F] [--tilt DEG]     one case
// The last line sums up every case against the bounds: median 0.3 px, max 1 px.

#include "calibration/calibration_construction.h"
#include "output/aligned_images.h"
#include "tools/make_rig/alignment_residuals.h"
#include "tools/make_rig/rig_writer.h"

#include <opencv2/imgcodecs.hpp>

#include <QCoreApplication>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>
#include <vector>

namespace {

constexpr double median_bound = 0.3;
constexpr double maximum_bound = 1.0;

// The residuals of one rig, or nothing after saying why on standard error.
std::optional<AlignmentResiduals> measure(const RigOptions& rig)
{
    QTemporaryDir folder;
    std::ostringstream quiet;
    const RigWriteResult written = write_rig(rig, folder.filePath("rig"), quiet);
    if (!written.ok()) {
        std::cerr << written.error << "\n";
        return std::nullopt;
    }
    QStringList references, shots;
    for (int k = 0; k < rig.cameras; ++k) {
        references << folder.filePath("rig/" + reference_file_name(k));
        shots << folder.filePath("rig/" + shot_file_name(k));
    }
    ReferenceTriple reference;
    const Calibration calibration =
        construct_calibration(references, thresholds_for(StickerColor::Yellow), reference, quiet);
    if (!calibration.all_aligned()) {
        std::cerr << "automatic calibration left cameras unaligned\n";
        return std::nullopt;
    }
    const AlignedImages frames = write_aligned_images(shots, calibration, folder.path(), 95);
    if (frames.frame_count != rig.cameras) {
        std::cerr << "wrote " << frames.frame_count << " of " << rig.cameras << " frames\n";
        return std::nullopt;
    }
    std::vector<cv::Mat> images;
    for (int k = 0; k < frames.frame_count; ++k)
        images.push_back(
            cv::imread(folder.filePath(QString("output_img_%1.jpg").arg(k)).toStdString()));
    const AlignmentResiduals residuals = measure_alignment(images, written.truth.middle_camera, 0.6,
                                                           written.truth.marker_spacing / 2);
    std::printf("%dx%d seed %llu, stickers %+.0f,%+.0f shift %+.2f tilt %+.1f: frames %dx%d, "
                "%zu markers, median %.3f px, max %.3f px\n",
                rig.width, rig.height, static_cast<unsigned long long>(rig.seed),
                rig.sticker_offset.x, rig.sticker_offset.y, rig.middle_shift, rig.sticker_tilt_deg,
                frames.common_size.width(), frames.common_size.height(), residuals.distances.size(),
                residuals.median, residuals.maximum);
    std::fflush(stdout);
    return residuals;
}

// The column at the centre, then moved a quarter of the photo each way with
// the middle sticker off the midpoint and the column tilted, for a few seeds.
std::vector<RigOptions> all_cases()
{
    struct Placement
    {
        double x, y, shift, tilt; // offsets as fractions of the width and height
    };
    const Placement placements[] = {{0, 0, 0, 0},
                                    {0.25, 0.25, 0.2, 10},
                                    {-0.25, -0.25, -0.2, -10},
                                    {0.25, -0.25, -0.2, 10},
                                    {-0.25, 0.25, 0.2, -10},
                                    {0.1, -0.05, 0.15, 8}};
    std::vector<RigOptions> cases;
    for (const auto& [width, height, seeds] :
         {std::tuple{1600, 1200, 3}, std::tuple{6000, 4000, 1}}) {
        for (int seed = 1; seed <= seeds; ++seed) {
            for (const Placement& p : placements) {
                RigOptions rig;
                rig.width = width;
                rig.height = height;
                rig.seed = static_cast<std::uint64_t>(seed);
                rig.sticker_offset = {p.x * width, p.y * height};
                rig.middle_shift = p.shift;
                rig.sticker_tilt_deg = p.tilt;
                cases.push_back(rig);
            }
        }
    }
    return cases;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    RigOptions rig;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (int i = 0; i + 1 < arguments.size(); i += 2) {
        const QString& name = arguments[i];
        const QString& value = arguments[i + 1];
        if (name == "--size") {
            rig.width = value.section('x', 0, 0).toInt();
            rig.height = value.section('x', 1, 1).toInt();
        } else if (name == "--cameras") {
            rig.cameras = value.toInt();
        } else if (name == "--seed") {
            rig.seed = value.toULongLong();
        } else if (name == "--offset") {
            rig.sticker_offset = {value.section(',', 0, 0).toDouble(),
                                  value.section(',', 1, 1).toDouble()};
        } else if (name == "--middle-shift") {
            rig.middle_shift = value.toDouble();
        } else if (name == "--tilt") {
            rig.sticker_tilt_deg = value.toDouble();
        } else {
            std::cerr << "unknown option " << name.toStdString() << "\n";
            return 2;
        }
    }
    const std::vector<RigOptions> cases =
        arguments.isEmpty() ? all_cases() : std::vector<RigOptions>{rig};

    std::vector<double> distances;
    for (const RigOptions& one : cases) {
        const std::optional<AlignmentResiduals> residuals = measure(one);
        if (!residuals)
            return 1;
        distances.insert(distances.end(), residuals->distances.begin(), residuals->distances.end());
    }
    if (distances.empty()) {
        std::cerr << "no marker measured\n";
        return 1;
    }
    std::sort(distances.begin(), distances.end());
    const double median =
        distances.size() % 2 == 1
            ? distances[distances.size() / 2]
            : (distances[distances.size() / 2 - 1] + distances[distances.size() / 2]) / 2;
    const double maximum = distances.back();
    std::printf("%zu cases, %zu markers: median %.3f px (%.2fx its bound), max %.3f px (%.2fx its "
                "bound)\n",
                cases.size(), distances.size(), median, median / median_bound, maximum,
                maximum / maximum_bound);
    return 0;
}
