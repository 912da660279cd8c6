// Arbitrary bytes as a photo file, through every reader a photo meets: the
// cut-short check, detection's decode with its EXIF orientation, and the Qt
// reads of the header size, the stored pixels and the upright picture, which
// must all agree on the size of what they read. The buffers are kept from one
// input to the next, as a worker keeps them.

#include "photo/image_file.h"
#include "photo/image_reading.h"

#include <opencv2/core.hpp>

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr qint64 max_pixels = 4'000'000;

QString photo_path()
{
    static const QTemporaryDir folder;
    if (!folder.isValid())
        std::abort();
    return folder.filePath("photo");
}

void write_photo(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    is_cut_short_jpeg(bytes);

    static const QString path = photo_path();
    write_photo(path, bytes);

    // A few header bytes can claim a picture of 180 megapixels, which the
    // decoders then fill with grey for a minute under the sanitizers without
    // reaching any code a small picture does not; such claims stop here.
    const QSize header = read_oriented_size(path);
    if (header.isValid() && qint64(header.width()) * header.height() > max_pixels)
        return 0;

    static cv::Mat bgr;
    static QByteArray file_bytes;
    static QImage stored;
    const bool detected = read_bgr_image(path, bgr, file_bytes);
    const auto orientation = read_stored_image(path, stored, file_bytes);
    const QImage upright = read_oriented_image(path);
    // Detection and output must see the same picture the same way up, or the
    // stickers found would be applied in another frame than the one written.
    if (detected && orientation && !upright.isNull()) {
        const QSize decoded(bgr.cols, bgr.rows);
        if (decoded != upright.size() || decoded != header) {
            std::fprintf(stderr, "detection reads %dx%d, the window %dx%d, the header %dx%d\n",
                         decoded.width(), decoded.height(), upright.width(), upright.height(),
                         header.width(), header.height());
            std::abort();
        }
    }
    return 0;
}
