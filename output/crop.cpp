#include "output/crop.h"

#include <QRect>

QImage crop_centered(const QImage& image, int width, int height)
{
    const int left = (image.width() - width) / 2;
    const int top = (image.height() - height) / 2;
    return image.copy(QRect(left, top, width, height));
}
