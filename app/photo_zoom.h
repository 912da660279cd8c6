#pragma once

#include <QObject>
#include <QPointF>
#include <QSize>

class PixelPicker;
class QScrollArea;

// Smallest and largest zoom, and the step of Ctrl++ / Ctrl+- and of one wheel notch.
constexpr double largest_zoom = 4.0;
constexpr double zoom_step = 1.25;

// The zoom a photo of `photo` pixels needs to fit `viewport`, never above 100 %.
double fit_zoom(QSize photo, QSize viewport);

// The smallest view of a photo of `photo` pixels the window keeps: a third of
// the photo, at most 1200 x 900 of it, and never more than `room` (what the
// screen leaves once the rest of the window is laid out), nor less than
// `floor` (the view's own smallest useful size). A null photo needs no view.
QSize photo_view_minimum(QSize photo, QSize room, QSize floor);

// The zoom `steps` steps away from `current` (negative: out), kept between
// `fit` and largest_zoom.
double stepped_zoom(double current, int steps, double fit);

// The zoom at which a sticker of `radius` photo pixels spans a fifth of the
// shorter side of `viewport`: large enough to click its centre within a pixel
// or two, with room around it for a guess that is a little off.
double sticker_zoom(double radius, QSize viewport);

// Zooms the photo a PixelPicker shows inside its scroll area: fitted to the
// window at first and after fit(); a zoom chosen is kept for the next photo.
// Ctrl+wheel zooms about the cursor; the others about the middle of the view.
class PhotoZoom : public QObject
{
    Q_OBJECT

public:
    // `area` shows `picker` (directly or inside its widget); both outlive this.
    PhotoZoom(QScrollArea* area, PixelPicker* picker, QObject* parent = nullptr);

    double zoom() const;
    void fit();
    void actual_size();
    void zoom_in() { step(1); }
    void zoom_out() { step(-1); }
    // After the picker was given a new photo.
    void photo_changed();
    // `steps` steps about viewport point `anchor`.
    void step(int steps, QPointF anchor);
    void step(int steps);
    // Shows photo point `point` in the middle of the view at `zoom` (kept
    // between the fit and largest_zoom); the zoom stays for the next photo.
    void centre_on(QPointF point, double zoom);
    // The view's size, for sticker_zoom.
    QSize view_size() const;

signals:
    void zoom_changed(double zoom);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    double current_fit() const;
    // Sets the zoom keeping the photo point under viewport point `anchor` in place.
    void set_zoom(double zoom, QPointF anchor);
    // Sets the zoom and puts photo point `photo` under viewport point `anchor`.
    void place(double zoom, QPointF photo, QPointF anchor);

    QScrollArea* const area;
    PixelPicker* const picker;
    QWidget* const viewport;
    bool fitting = true;
};
