#include "app/pixel_picker.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

#include <cmath>

PixelPicker::PixelPicker(QWidget* parent) : QLabel(parent) {}

void PixelPicker::set_display_scale(float scale)
{
    if (scale == display_scale)
        return;
    display_scale = scale;
    updateGeometry();
    update();
}

QSize PixelPicker::shown_size() const
{
    const QPixmap picture = pixmap(Qt::ReturnByValue);
    if (picture.isNull())
        return {};
    return QSize(static_cast<int>(std::ceil(picture.width() * display_scale)),
                 static_cast<int>(std::ceil(picture.height() * display_scale)));
}

QSize PixelPicker::sizeHint() const
{
    const QSize shown = shown_size();
    if (shown.isEmpty())
        return QLabel::sizeHint();
    const int frame = 2 * (frameWidth() + margin());
    return shown + QSize(frame, frame);
}

QSize PixelPicker::minimumSizeHint() const
{
    return shown_size().isEmpty() ? QLabel::minimumSizeHint() : sizeHint();
}

void PixelPicker::mousePressEvent(QMouseEvent* event)
{
    if (!armed)
        return;
    // Disarm before emitting, so the receiver may arm again for the next click.
    armed = false;

    const QPoint press = event->pos() - picture_origin();
    const int x = static_cast<int>(std::floor(press.x() / display_scale));
    const int y = static_cast<int>(std::floor(press.y() / display_scale));
    last_photo_point = photo_point(event->localPos());
    // Much reduced, the point under the press can lie more than a pixel away
    // from the pixel it names: the pixel is taken then.
    const bool near =
        std::abs(last_photo_point.x() - x) <= 1.0 && std::abs(last_photo_point.y() - y) <= 1.0;
    emit clicked(near ? last_photo_point : QPointF(x, y), QPoint(x, y));
}

QPointF PixelPicker::photo_point(QPointF position) const
{
    // A press names the screen pixel under the pointer; its centre is half a
    // screen pixel in, and a photo pixel's centre half a photo pixel in.
    const QPointF half(0.5, 0.5);
    return (position + half - QPointF(picture_origin())) / display_scale - half;
}

QPointF PixelPicker::label_position(QPointF photo_point) const
{
    const QPointF half(0.5, 0.5);
    return (photo_point + half) * display_scale + QPointF(picture_origin()) - half;
}

void PixelPicker::paint_photo(QPaintEvent* event)
{
    const QPixmap picture = pixmap(Qt::ReturnByValue);
    if (picture.isNull() || display_scale == 1.0f) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    const QRect target(picture_origin(), shown_size());
    if (display_scale < 1.0f) {
        // Reduced smoothly once per photo and scale, not at every repaint.
        if (reduced_key != picture.cacheKey() || reduced_scale != display_scale) {
            reduced =
                picture.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            reduced_key = picture.cacheKey();
            reduced_scale = display_scale;
        }
        painter.drawPixmap(target.topLeft(), reduced);
        return;
    }
    // Enlarged, each photo pixel a sharp square; only the exposed part is drawn.
    painter.drawPixmap(QRectF(target.topLeft(), QSizeF(picture.size()) * display_scale), picture,
                       QRectF(picture.rect()));
}

QPoint PixelPicker::picture_origin() const
{
    const QSize shown = shown_size();
    if (shown.isEmpty())
        return {};
    // The same placement QLabel's painting uses.
    QRect area = contentsRect();
    area.adjust(margin(), margin(), -margin(), -margin());
    const Qt::Alignment placement = QStyle::visualAlignment(layoutDirection(), alignment());
    return QStyle::alignedRect(layoutDirection(), placement, shown, area).topLeft();
}

void PixelPicker::set_marks(std::vector<QPoint> points)
{
    mark_points = std::move(points);
    update();
}

void PixelPicker::paintEvent(QPaintEvent* event)
{
    paint_photo(event);
    if (mark_points.empty())
        return;
    // The marks keep one size on screen whatever the photo's: a ring around the
    // clicked pixel, a dot on it, and its number beside it, dark-edged so that it
    // reads on light and dark backgrounds alike.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(16);
    painter.setFont(font);
    for (std::size_t i = 0; i < mark_points.size(); ++i) {
        const QPointF centre = label_position(QPointF(mark_points[i]));
        for (const auto& [colour, width] : {std::pair{QColor(Qt::black), 4}, {Qt::cyan, 2}}) {
            painter.setPen(QPen(colour, width));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(centre, 10, 10);
            painter.drawPoint(centre);
        }
        const QString number = QString::number(i + 1);
        const QPointF text_at = centre + QPointF(13, -13);
        QPainterPath path;
        path.addText(text_at, font, number);
        painter.strokePath(path, QPen(Qt::black, 3));
        painter.fillPath(path, Qt::cyan);
    }
}
