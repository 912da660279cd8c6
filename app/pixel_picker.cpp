#include "app/pixel_picker.h"

#include <QMouseEvent>
#include <QStyle>

PixelPicker::PixelPicker(QWidget* parent) : QLabel(parent) {}

void PixelPicker::mousePressEvent(QMouseEvent* event)
{
    if (!armed)
        return;
    // Disarm before emitting, so the receiver may arm again for the next click.
    armed = false;

    const QPoint press = event->pos() - picture_origin();
    const int x = static_cast<int>(press.x() / display_scale);
    const int y = static_cast<int>(press.y() / display_scale);
    emit clicked(x, y);
}

QPoint PixelPicker::picture_origin() const
{
    const QPixmap picture = pixmap(Qt::ReturnByValue);
    if (picture.isNull())
        return {};
    // The same placement QLabel's painting uses.
    QRect area = contentsRect();
    area.adjust(margin(), margin(), -margin(), -margin());
    const Qt::Alignment placement = QStyle::visualAlignment(layoutDirection(), alignment());
    return QStyle::alignedRect(layoutDirection(), placement, picture.size(), area).topLeft();
}
