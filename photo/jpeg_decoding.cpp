#include "photo/jpeg_decoding.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jerror.h>
#include <jpeglib.h>

#include "photo/libjpeg_errors.h"

namespace {

// libjpeg reports damaged data as a warning and goes on, filling in what it
// could not read; the picture would pass for whole. Only the warnings that say
// nothing about the pixels are let through.
void on_message(j_common_ptr info, int level)
{
    if (level >= 0)
        return; // trace messages
    const int code = info->err->msg_code;
    if (code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM)
        return;
    jump_on_libjpeg_error(info);
}

// Inverted CMYK (as Adobe writes it, 255 = no ink) to each library's colours:
// OpenCV's arithmetic for detection, Qt's for the frames, so that each sees the
// pixels it saw before.
void cmyk_to_bgr(const unsigned char* cmyk, unsigned char* bgr, unsigned width)
{
    for (unsigned x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        const int k = cmyk[3];
        bgr[2] = static_cast<unsigned char>(k - ((255 - cmyk[0]) * k >> 8));
        bgr[1] = static_cast<unsigned char>(k - ((255 - cmyk[1]) * k >> 8));
        bgr[0] = static_cast<unsigned char>(k - ((255 - cmyk[2]) * k >> 8));
    }
}

void cmyk_to_bgrx(const unsigned char* cmyk, unsigned char* bgrx, unsigned width)
{
    for (unsigned x = 0; x < width; ++x, cmyk += 4, bgrx += 4) {
        const int k = cmyk[3];
        bgrx[2] = static_cast<unsigned char>(k * cmyk[0] / 255);
        bgrx[1] = static_cast<unsigned char>(k * cmyk[1] / 255);
        bgrx[0] = static_cast<unsigned char>(k * cmyk[2] / 255);
        bgrx[3] = 255;
    }
}

// Everything that must survive a longjmp lives in `info` and `errors`, outside
// this frame; the only C++ object touched here, `target`, is called and done with
// before libjpeg decodes a pixel.
bool decode_into(jpeg_decompress_struct& info, LibjpegErrors& errors, const QByteArray& data,
                 JpegPixels pixels, const std::function<JpegTarget(int, int)>& target,
                 int reduction)
{
    if (setjmp(errors.escape))
        return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);

    const bool cmyk = info.num_components == 4;
    if (cmyk)
        info.out_color_space = JCS_CMYK;
    else
        info.out_color_space = pixels == JpegPixels::Bgr ? JCS_EXT_BGR : JCS_EXT_BGRX;
    info.scale_num = 1;
    info.scale_denom = static_cast<unsigned>(reduction);
    jpeg_start_decompress(&info);

    const JpegTarget into =
        target(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
    if (!into.first_row) {
        std::snprintf(errors.message, sizeof errors.message, "out of memory");
        return false;
    }
    if (cmyk) {
        // The one row of CMYK samples lives in libjpeg's pool, freed with `info`.
        JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info),
                                                   JPOOL_IMAGE, info.output_width * 4, 1);
        while (info.output_scanline < info.output_height) {
            unsigned char* out = into.first_row + into.stride * info.output_scanline;
            jpeg_read_scanlines(&info, row, 1);
            if (pixels == JpegPixels::Bgr)
                cmyk_to_bgr(row[0], out, info.output_width);
            else
                cmyk_to_bgrx(row[0], out, info.output_width);
        }
    } else {
        while (info.output_scanline < info.output_height) {
            JSAMPROW out = into.first_row + into.stride * info.output_scanline;
            jpeg_read_scanlines(&info, &out, 1);
        }
    }
    // Reads on to the end-of-image marker, where bytes left over in the last
    // scan are reported.
    jpeg_finish_decompress(&info);
    return true;
}

bool is_marker_without_length(unsigned char marker)
{
    // TEM, RSTn, SOI and EOI stand alone; every other marker carries a length.
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9);
}

bool is_frame_header(unsigned char marker)
{
    // SOF0 to SOF15, less DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

} // namespace

QString decode_jpeg(const QByteArray& data, JpegPixels pixels,
                    const std::function<JpegTarget(int, int)>& target, int reduction)
{
    jpeg_decompress_struct info{};
    LibjpegErrors errors{};
    info.err = jpeg_std_error(&errors.library);
    errors.library.error_exit = jump_on_libjpeg_error;
    errors.library.emit_message = on_message;
    errors.message[0] = '\0';
    const bool decoded = decode_into(info, errors, data, pixels, target,
                                     reduction == 2 || reduction == 4 || reduction == 8 ? reduction
                                                                                        : 1);
    jpeg_destroy_decompress(&info);
    if (decoded)
        return QString();
    return errors.message[0] ? QString::fromLatin1(errors.message)
                             : QStringLiteral("JPEG decoding failed");
}

bool looks_like_jpeg(const QByteArray& data)
{
    return data.size() >= 2 && static_cast<unsigned char>(data[0]) == 0xFF &&
           static_cast<unsigned char>(data[1]) == 0xD8;
}

// libjpeg pads a truncated stream with grey and still returns a full-size picture,
// so a cut-off JPEG is recognised from its structure: the segments (embedded
// thumbnails skipped by their lengths), then the entropy-coded data of each scan,
// up to an end marker that closes a picture that has a frame and a scan.
bool jpeg_stream_complete(const QByteArray& data)
{
    if (!looks_like_jpeg(data))
        return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    const int size = data.size();
    int pos = 2; // after SOI
    bool in_scan = false;
    bool seen_frame = false;
    bool seen_scan = false;
    int scan_begin = 0;
    while (pos + 1 < size) {
        if (in_scan) {
            // Entropy-coded data ends at the first marker that is neither a
            // stuffed 0xFF00 nor a restart marker.
            const void* marker = std::memchr(bytes + pos, 0xFF, size - pos);
            if (!marker)
                return false;
            pos = static_cast<int>(static_cast<const unsigned char*>(marker) - bytes);
            if (pos + 1 >= size)
                return false;
            const unsigned char next = bytes[pos + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7) || next == 0xFF) {
                pos += next == 0xFF ? 1 : 2;
                continue;
            }
            in_scan = false;
            // A scan counts once it holds data, and after a frame header.
            seen_scan = seen_scan || (seen_frame && pos > scan_begin);
        }
        if (bytes[pos] != 0xFF) {
            // Stray bytes between segments: libjpeg skips them to the next marker
            // (and the decoder then refuses the photo as damaged).
            const void* next = std::memchr(bytes + pos, 0xFF, size - pos);
            if (!next)
                return false;
            pos = static_cast<int>(static_cast<const unsigned char*>(next) - bytes);
            continue;
        }
        const unsigned char marker = bytes[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xD9) {
            // An end marker before any scan is a stray pair in a stream cut
            // short in its headers, not the end of a picture.
            if (seen_frame && seen_scan)
                return true;
            pos += 2;
            continue;
        }
        if (is_marker_without_length(marker)) {
            pos += 2;
            continue;
        }
        if (pos + 3 >= size)
            return false;
        const int length = (bytes[pos + 2] << 8) | bytes[pos + 3];
        if (length < 2)
            return false;
        if (pos + 2 + length > size)
            return false; // a segment running past the end of the file
        seen_frame = seen_frame || is_frame_header(marker);
        in_scan = marker == 0xDA;
        pos += 2 + length;
        scan_begin = pos;
    }
    return false;
}
