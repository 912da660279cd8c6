#include "serve/qr_svg.h"

#include <qrencode.h>

#include <memory>

QByteArray qr_svg(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code)
        return {};
    const int width = code->width;
    constexpr int quiet = 4;
    const int side = width + 2 * quiet;
    QByteArray path;
    for (int y = 0; y < width; ++y) {
        for (int x = 0; x < width; ++x) {
            // Bit 0 of each module is its colour (1: dark).
            if (code->data[y * width + x] & 1)
                path += "M" + QByteArray::number(x + quiet) + "," + QByteArray::number(y + quiet) +
                        "h1v1h-1z";
        }
    }
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + QByteArray::number(side) +
           " " + QByteArray::number(side) +
           "\" shape-rendering=\"crispEdges\"><rect width=\"100%\" height=\"100%\" "
           "fill=\"#fff\"/><path fill=\"#000\" d=\"" +
           path + "\"/></svg>";
}
