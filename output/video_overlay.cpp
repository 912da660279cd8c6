#include "output/video_overlay.h"

#include <QFileInfo>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace {

constexpr std::array<std::pair<OverlayPosition, const char*>, 6> positions{{
    {OverlayPosition::TopLeft, "top-left"},
    {OverlayPosition::TopRight, "top-right"},
    {OverlayPosition::BottomLeft, "bottom-left"},
    {OverlayPosition::BottomRight, "bottom-right"},
    {OverlayPosition::Center, "center"},
    {OverlayPosition::Full, "full"},
}};

} // namespace

QString overlay_position_name(OverlayPosition position)
{
    for (const auto& [value, name] : positions)
        if (value == position)
            return QString::fromLatin1(name);
    return QString();
}

std::optional<OverlayPosition> overlay_position_from_name(const QString& name)
{
    for (const auto& [value, text] : positions)
        if (name == QLatin1String(text))
            return value;
    return std::nullopt;
}

QString overlay_problem(const QString& file, QSize* size)
{
    const QFileInfo info(file);
    if (!info.exists())
        return QStringLiteral("fichier introuvable");
    if (!info.isFile() || !info.isReadable())
        return QStringLiteral("fichier illisible");
    // The content decides, not the name: a JPEG renamed .png has no transparency.
    QImageReader reader(file);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead() || reader.format() != "png")
        return QStringLiteral("ce n'est pas une image PNG");
    const QSize read = reader.size();
    if (read.isEmpty())
        return QStringLiteral("image PNG sans taille");
    if (read.width() > max_overlay_side || read.height() > max_overlay_side)
        return QStringLiteral("image trop grande (%1 × %2 pixels, au plus %3 de côté)")
            .arg(read.width())
            .arg(read.height())
            .arg(max_overlay_side);
    // A file cut short reads its header well and fails here, before any encode.
    if (reader.read().isNull())
        return QStringLiteral("image PNG illisible ou incomplète");
    if (size)
        *size = read;
    return QString();
}

QRect overlay_rect(const VideoOverlay& overlay, QSize image, QSize picture)
{
    if (image.isEmpty() || picture.isEmpty())
        return QRect();
    if (overlay.position == OverlayPosition::Full)
        return QRect(QPoint(0, 0), picture);
    const int margin = static_cast<int>(
        std::lround(picture.width() * std::clamp(overlay.margin_percent, 0, 100) / 100.0));
    const int room_w = std::max(1, picture.width() - 2 * margin);
    const int room_h = std::max(1, picture.height() - 2 * margin);
    double width = picture.width() *
                   std::clamp(overlay.size_percent, min_overlay_percent, max_overlay_percent) /
                   100.0;
    width = std::min(width, double(room_w));
    double height = width * image.height() / image.width();
    if (height > room_h) {
        height = room_h;
        width = height * image.width() / image.height();
    }
    const QSize size(std::max(1, int(std::lround(width))), std::max(1, int(std::lround(height))));
    const int left = margin;
    const int right = std::max(0, picture.width() - margin - size.width());
    const int top = margin;
    const int bottom = std::max(0, picture.height() - margin - size.height());
    switch (overlay.position) {
    case OverlayPosition::TopLeft:
        return QRect(QPoint(left, top), size);
    case OverlayPosition::TopRight:
        return QRect(QPoint(right, top), size);
    case OverlayPosition::BottomLeft:
        return QRect(QPoint(left, bottom), size);
    case OverlayPosition::BottomRight:
        return QRect(QPoint(right, bottom), size);
    case OverlayPosition::Center:
    case OverlayPosition::Full:
        break;
    }
    return QRect(QPoint((picture.width() - size.width()) / 2, (picture.height() - size.height()) / 2),
                 size);
}
