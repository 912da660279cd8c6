// Calibrates a synthetic rig and measures how well its aligned frames match:
// the shot markers of every frame against the middle camera's frame.
//   alignment_accuracy [--size WxH] [--cameras N] [--seed S] [--offset DX,DY]

#include "calibration/calibration_construction.h"
#include "output/aligned_images.h"
#include "tools/make_rig/alignment_residuals.h"
#include "tools/make_rig/rig_writer.h"

#include <opencv2/imgcodecs.hpp>

#include <QCoreApplication>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <iostream>
#include <sstream>

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
        } else {
            std::cerr << "unknown option " << name.toStdString() << "\n";
            return 2;
        }
    }
    QTemporaryDir folder;
    std::ostringstream quiet;
    const RigWriteResult written = write_rig(rig, folder.filePath("rig"), quiet);
    if (!written.ok()) {
        std::cerr << written.error << "\n";
        return 1;
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
        return 1;
    }
    const AlignedImages frames = write_aligned_images(shots, calibration, folder.path(), 95);
    if (frames.frame_count != rig.cameras) {
        std::cerr << "wrote " << frames.frame_count << " of " << rig.cameras << " frames\n";
        return 1;
    }
    std::vector<cv::Mat> images;
    for (int k = 0; k < frames.frame_count; ++k)
        images.push_back(
            cv::imread(folder.filePath(QString("output_img_%1.jpg").arg(k)).toStdString()));
    const AlignmentResiduals residuals = measure_alignment(images, written.truth.middle_camera, 0.6,
                                                           written.truth.marker_spacing / 2);
    std::printf("%dx%d, %d cameras, frames %dx%d, %zu markers: median %.3f px, max %.3f px\n",
                rig.width, rig.height, rig.cameras, frames.common_size.width(),
                frames.common_size.height(), residuals.distances.size(), residuals.median,
                residuals.maximum);
    return 0;
}
