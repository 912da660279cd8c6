#include "tests/support/cmyk_jpeg.h"

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <vector>

QByteArray cmyk_jpeg(const cv::Mat& bgr, int quality, bool varied_black)
{
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = bgr.cols;
    info.image_height = bgr.rows;
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(4 * bgr.cols);
    while (info.next_scanline < info.image_height) {
        const cv::Vec3b* pixels = bgr.ptr<cv::Vec3b>(info.next_scanline);
        for (int x = 0; x < bgr.cols; ++x) {
            row[4 * x + 0] = pixels[x][2];
            row[4 * x + 1] = pixels[x][1];
            row[4 * x + 2] = pixels[x][0];
            row[4 * x + 3] = varied_black ? static_cast<unsigned char>(200 + x % 56) : 255;
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const QByteArray bytes(reinterpret_cast<const char*>(buffer), static_cast<int>(size));
    std::free(buffer);
    return bytes;
}
