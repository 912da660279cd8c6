#pragma once

#include "detection/color_thresholds.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

class QSettings;

// The options of the window's form, as they are kept between sessions.
struct WindowOptions
{
    int compression = 0;
    int fps = 0;
    bool boomerang = false;
    // The video's long side, as the size list's data; an unknown one keeps the default.
    QVariant video_long_side;
    bool gif = false;
    // Frames made between neighbouring cameras for the videos.
    int between = 0;
    // Each camera's colours matched to the middle camera's, as `process` does by default.
    bool colour_match = true;
    StickerColor sticker_color = StickerColor::Yellow;
    // The videos handed to guests: the overlay's PNG (empty: none), its
    // position as --overlay-position names it, its width and margin in % of
    // the video's width, the shape as "Format" names it, the length in seconds
    // and the still.
    QString overlay_file;
    QString overlay_position = QStringLiteral("bottom-right");
    int overlay_size = 20;
    int overlay_margin = 3;
    QString aspect = QStringLiteral("Originale");
    double min_duration = 0;
    double hold = 0;
    bool still = false;
};

// Every key the window keeps in its settings. Without settings nothing is
// kept and every value reads as its default.
class WindowSettings
{
public:
    explicit WindowSettings(QSettings* settings) : settings(settings) {}

    QByteArray geometry() const;
    void set_geometry(const QByteArray& geometry);

    // A file dialog's starting folder, and remembering the folder of its answer.
    QString last_folder(const char* dialog) const;
    void remember_folder(const char* dialog, const QString& path);

    // The calibration file used last (an absolute path), empty when none.
    QString last_calibration() const;
    void remember_calibration(const QString& path);

    // The options kept, each taking its value from `defaults` when none is kept.
    WindowOptions options(const WindowOptions& defaults) const;
    void set_options(const WindowOptions& options);

    bool enabled() const { return settings != nullptr; }

private:
    QSettings* const settings;
};
