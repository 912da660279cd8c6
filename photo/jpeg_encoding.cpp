#include "photo/jpeg_encoding.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include "photo/libjpeg_errors.h"

namespace {

// libjpeg's output goes straight into the byte array, over all the memory it
// kept from the last picture, grown by half as much again when that is full;
// its size is cut to what was written once the picture is finished.
struct Destination
{
    jpeg_destination_mgr library; // first, so that libjpeg's pointer is ours too
    QByteArray* bytes;
    int used;
};

constexpr int first_capacity = 1 << 16;

void give_room(Destination& destination)
{
    QByteArray& bytes = *destination.bytes;
    destination.library.next_output_byte =
        reinterpret_cast<JOCTET*>(bytes.data()) + destination.used;
    destination.library.free_in_buffer = std::size_t(bytes.size() - destination.used);
}

void start_destination(j_compress_ptr info)
{
    auto* destination = reinterpret_cast<Destination*>(info->dest);
    destination->used = 0;
    QByteArray& bytes = *destination->bytes;
    bytes.resize(std::max(bytes.capacity(), first_capacity));
    give_room(*destination);
}

boolean grow_destination(j_compress_ptr info)
{
    auto* destination = reinterpret_cast<Destination*>(info->dest);
    QByteArray& bytes = *destination->bytes;
    // libjpeg asks for more only once the whole buffer is full.
    destination->used = bytes.size();
    if (bytes.size() > (1 << 29))
        ERREXIT(info, JERR_OUT_OF_MEMORY);
    bytes.resize(bytes.size() + bytes.size() / 2);
    give_room(*destination);
    return TRUE;
}

void finish_destination(j_compress_ptr info)
{
    auto* destination = reinterpret_cast<Destination*>(info->dest);
    destination->used = destination->bytes->size() - int(destination->library.free_in_buffer);
}

// Everything that must survive a longjmp lives in `info`, `errors` and
// `destination`, outside this frame.
bool encode_into(jpeg_compress_struct& info, LibjpegErrors& errors, Destination& destination,
                 const QImage& image, int quality)
{
    if (setjmp(errors.escape))
        return false;
    jpeg_create_compress(&info);
    info.dest = &destination.library;
    info.image_width = JDIMENSION(image.width());
    info.image_height = JDIMENSION(image.height());
    // RGB32 is B, G, R, X in memory on a little-endian machine; RGB888 is R, G, B.
    const bool packed = image.format() == QImage::Format_RGB888;
    info.input_components = packed ? 3 : 4;
    info.in_color_space = packed ? JCS_RGB : JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    // The density as Qt's writer puts it: in whole dots per inch, or per
    // centimetre when that is the closer whole number.
    const double per_inch_x = image.dotsPerMeterX() * 0.0254;
    const double per_cm_x = image.dotsPerMeterX() / 100.0;
    if (std::abs(per_inch_x - std::round(per_inch_x)) < std::abs(per_cm_x - std::round(per_cm_x))) {
        info.density_unit = 1;
        info.X_density = UINT16(std::lround(per_inch_x));
        info.Y_density = UINT16(std::lround(image.dotsPerMeterY() * 0.0254));
    } else {
        info.density_unit = 2;
        info.X_density = UINT16(std::lround(per_cm_x));
        info.Y_density = UINT16(std::lround(image.dotsPerMeterY() / 100.0));
    }
    jpeg_set_quality(&info, std::clamp(quality, 0, 100), TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

} // namespace

QString encode_jpeg(const QImage& image, int quality, QByteArray& encoded)
{
    if (image.isNull() || (image.format() != QImage::Format_RGB32 &&
                             image.format() != QImage::Format_RGB888))
        return QStringLiteral("JPEG encoding failed");
    // Reserved, the array keeps its memory when cut to a smaller size.
    if (encoded.capacity() < first_capacity)
        encoded.reserve(first_capacity);
    jpeg_compress_struct info{};
    LibjpegErrors errors{};
    info.err = jpeg_std_error(&errors.library);
    errors.library.error_exit = jump_on_libjpeg_error;
    errors.message[0] = '\0';
    Destination destination{};
    destination.bytes = &encoded;
    destination.library.init_destination = start_destination;
    destination.library.empty_output_buffer = grow_destination;
    destination.library.term_destination = finish_destination;
    const bool done = encode_into(info, errors, destination, image, quality);
    jpeg_destroy_compress(&info);
    encoded.resize(done ? destination.used : 0);
    if (done)
        return QString();
    return errors.message[0] ? QString::fromLatin1(errors.message)
                             : QStringLiteral("JPEG encoding failed");
}
