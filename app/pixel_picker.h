#pragma once

#include <QLabel>
#include <QPixmap>
#include <QPoint>
#include <QPointF>

#include <vector>

// The label that shows the current photo, drawn at `display_scale`, and
// reports one mouse press, in the photo's pixel coordinates, each time the
// window arms it.
class PixelPicker : public QLabel
{
    Q_OBJECT

public:
    explicit PixelPicker(QWidget* parent = nullptr);

    // True while exactly one press is to be reported; the press clears it.
    bool armed = false;
    // Displayed pixels per photo pixel. Change it with set_display_scale.
    float display_scale = 1.0f;
    // The photo point of the last press reported, to a fraction of a pixel:
    // pixel (x, y) has its centre at (x, y).
    QPointF last_photo_point;

    void set_display_scale(float scale);

    // Where the top-left pixel of the photo is drawn, in label coordinates: the
    // label may be larger than the photo and places it by its alignment.
    QPoint picture_origin() const;
    // The photo point under label position `position`, and back.
    QPointF photo_point(QPointF position) const;
    QPointF label_position(QPointF photo_point) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Numbered marks drawn over the photo (1 for the first point), in photo pixels.
    void set_marks(std::vector<QPoint> points);
    const std::vector<QPoint>& marks() const { return mark_points; }

signals:
    // `point`: the press in photo pixels, to a fraction of a pixel; `pixel`: the
    // photo pixel under it, as the log names it.
    void clicked(QPointF point, QPoint pixel);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The photo at `display_scale`, as QLabel would draw it unscaled.
    void paint_photo(QPaintEvent* event);
    QSize shown_size() const;
    // The photo reduced once for scales below 100 %.
    QPixmap reduced;
    qint64 reduced_key = 0;
    float reduced_scale = 0.0f;
    std::vector<QPoint> mark_points;
};
