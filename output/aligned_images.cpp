#include "output/aligned_images.h"

#include "output/crop.h"
#include "output/frame_geometry.h"
#include "output/image_file.h"

#include <QFile>
#include <QImage>
#include <algorithm>
#include <vector>

namespace {

QString intermediate_path(const QString& folder, int index)
{
    return folder + "/output_img_uncropped_" + QString::number(index) + ".jpg";
}

QString frame_path(const QString& folder, int index)
{
    return folder + "/output_img_" + QString::number(index) + ".jpg";
}

void remove_files(const QStringList& paths)
{
    for (const QString& path : paths)
        QFile::remove(path);
}

} // namespace

AlignedImages write_aligned_images(const QStringList& inputs, const Calibration& calibration,
                                   const QString& folder, int quality)
{
    AlignedImages result;
    const int count = std::max(calibration.image_count, 0);
    if (inputs.size() < count) {
        result.common_size = QSize(0, 0);
        return result;
    }

    // Headers only: a run that cannot finish is refused before it writes a file,
    // so it never leaves frames of mixed sizes behind.
    std::vector<QSize> inner_sizes;
    for (int k = 0; k < count; ++k) {
        const QSize size = read_oriented_size(inputs[k]);
        if (!size.isValid()) {
            result.unreadable_input = inputs[k];
            return result;
        }
        inner_sizes.push_back(frame_geometry(size, calibration_entry(calibration, k)).inner);
    }
    result.common_size = common_frame_size(inner_sizes);
    if (count == 0 || result.common_size.isEmpty())
        return result;

    // First pass: each frame cut to its own inner rectangle, kept on disk so
    // that only one image is in memory at a time.
    inner_sizes.clear();
    QStringList intermediates;
    for (int k = 0; k < count; ++k) {
        const QImage input = read_oriented_image(inputs[k]);
        if (input.isNull()) {
            remove_files(intermediates);
            result.unreadable_input = inputs[k];
            return result;
        }
        const ImageAlignment alignment = calibration_entry(calibration, k);
        const FrameGeometry geometry = frame_geometry(input.size(), alignment);
        inner_sizes.push_back(geometry.inner);
        if (geometry.inner.isEmpty())
            continue;
        const QImage frame = render_frame(input, geometry, alignment);
        intermediates << intermediate_path(folder, k);
        if (frame.isNull() || !frame.save(intermediates.back(), nullptr, 100)) {
            remove_files(intermediates);
            result.unwritable_output = intermediates.back();
            return result;
        }
    }
    // Same as the header estimate unless a file decoded to another size than it announced.
    result.common_size = common_frame_size(inner_sizes);
    if (result.common_size.isEmpty()) {
        remove_files(intermediates);
        return result;
    }

    // Second pass: the common crop.
    for (int k = 0; k < count; ++k) {
        QImage frame;
        if (!frame.load(intermediates[k])) {
            remove_files(intermediates.mid(k));
            result.unwritable_output = intermediates[k];
            return result;
        }
        frame = crop_centered(frame, result.common_size.width(), result.common_size.height());
        const bool saved = frame.save(frame_path(folder, k), nullptr, quality);
        QFile::remove(intermediates[k]);
        if (!saved) {
            remove_files(intermediates.mid(k + 1));
            result.unwritable_output = frame_path(folder, k);
            return result;
        }
        ++result.frame_count;
    }
    return result;
}
