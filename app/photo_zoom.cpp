#include "app/photo_zoom.h"

#include "app/pixel_picker.h"

#include <QCoreApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

double fit_zoom(QSize photo, QSize viewport)
{
    if (photo.isEmpty() || viewport.isEmpty())
        return 1.0;
    return std::min({1.0, double(viewport.width()) / photo.width(),
                     double(viewport.height()) / photo.height()});
}

QSize photo_view_minimum(QSize photo, QSize room, QSize floor)
{
    if (photo.isEmpty())
        return QSize(0, 0);
    const QSize wanted(std::min(photo.width() / 3, 1200), std::min(photo.height() / 3, 900));
    return wanted.boundedTo(room.expandedTo(floor));
}

double stepped_zoom(double current, int steps, double fit)
{
    const double zoom = current * std::pow(zoom_step, steps);
    // Steps land back on 100 % and on the fit rather than just beside them.
    if (std::abs(zoom - 1.0) < 0.01)
        return std::max(1.0, fit);
    return std::clamp(zoom, fit, largest_zoom);
}

double sticker_zoom(double radius, QSize viewport)
{
    if (radius <= 0.0 || viewport.isEmpty())
        return 1.0;
    return std::min(viewport.width(), viewport.height()) / (5.0 * 2.0 * radius);
}

PhotoZoom::PhotoZoom(QScrollArea* area, PixelPicker* picker, QObject* parent)
    : QObject(parent), area(area), picker(picker), viewport(area->viewport())
{
    viewport->installEventFilter(this);
}

double PhotoZoom::zoom() const
{
    return picker->display_scale;
}

double PhotoZoom::current_fit() const
{
    const QPixmap photo = picker->pixmap(Qt::ReturnByValue);
    // The picker's frame and the layout's margins take a little of the view.
    const int room = 2 * 16;
    return fit_zoom(photo.size(), area->viewport()->size() - QSize(room, room));
}

void PhotoZoom::fit()
{
    fitting = true;
    set_zoom(current_fit(), QPointF(area->viewport()->rect().center()));
}

void PhotoZoom::actual_size()
{
    fitting = false;
    set_zoom(1.0, QPointF(area->viewport()->rect().center()));
}

void PhotoZoom::photo_changed()
{
    if (fitting)
        fit();
    else
        set_zoom(std::clamp(zoom(), current_fit(), largest_zoom),
                 QPointF(area->viewport()->rect().center()));
}

void PhotoZoom::step(int steps)
{
    step(steps, QPointF(area->viewport()->rect().center()));
}

void PhotoZoom::step(int steps, QPointF anchor)
{
    fitting = false;
    set_zoom(stepped_zoom(zoom(), steps, current_fit()), anchor);
}

void PhotoZoom::set_zoom(double new_zoom, QPointF anchor)
{
    QScrollBar* horizontal = area->horizontalScrollBar();
    QScrollBar* vertical = area->verticalScrollBar();
    const auto picker_origin = [this] {
        return QPointF(picker->mapTo(area->widget(), QPoint(0, 0)) + picker->picture_origin());
    };
    // The photo point under the anchor, before.
    const QPointF contents_anchor = anchor + QPointF(horizontal->value(), vertical->value());
    place(new_zoom, (contents_anchor - picker_origin()) / zoom(), anchor);
}

void PhotoZoom::centre_on(QPointF point, double new_zoom)
{
    fitting = false;
    // A new status or instruction may still change the view's size: the
    // middle is the one it will have.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    place(std::clamp(new_zoom, current_fit(), largest_zoom), point,
          QPointF(area->viewport()->rect().center()));
}

QSize PhotoZoom::view_size() const
{
    return area->viewport()->size();
}

void PhotoZoom::place(double new_zoom, QPointF photo, QPointF anchor)
{
    QScrollBar* horizontal = area->horizontalScrollBar();
    QScrollBar* vertical = area->verticalScrollBar();
    const auto picker_origin = [this] {
        return QPointF(picker->mapTo(area->widget(), QPoint(0, 0)) + picker->picture_origin());
    };
    picker->set_display_scale(static_cast<float>(new_zoom));
    // Lay the new size out now, so the scroll bars know their new ranges.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);

    const QPointF target = photo * zoom() + picker_origin() - anchor;
    horizontal->setValue(static_cast<int>(std::lround(target.x())));
    vertical->setValue(static_cast<int>(std::lround(target.y())));
    emit zoom_changed(zoom());
}

bool PhotoZoom::eventFilter(QObject* watched, QEvent* event)
{
    // A photo shown fitted stays fitted as the window is resized (and when it is
    // first laid out, after the photo was given).
    // The viewport still sends events while the scroll area is being destroyed,
    // when it is no longer a scroll area: leave it alone then.
    if (watched != viewport || !qobject_cast<QScrollArea*>(viewport->parentWidget()))
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::Resize && fitting && std::abs(current_fit() - zoom()) > 1e-3)
        fit();
    if (event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->modifiers() & Qt::ControlModifier) {
            const int notches = wheel->angleDelta().y() / 120;
            if (notches != 0)
                step(notches, wheel->position());
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
