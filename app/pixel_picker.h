#pragma once

#include <QLabel>

// The label that shows the current photo and reports one mouse press, in the
// photo's pixel coordinates, each time the window arms it.
class PixelPicker : public QLabel
{
    Q_OBJECT

public:
    explicit PixelPicker(QWidget* parent = nullptr);

    // True while exactly one press is to be reported; the press clears it.
    bool armed = false;
    // Displayed pixels per photo pixel.
    float display_scale = 1.0f;

    // Where the top-left pixel of the photo is drawn, in label coordinates: the
    // label may be larger than the photo and places it by its alignment.
    QPoint picture_origin() const;

signals:
    void clicked(int, int);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
