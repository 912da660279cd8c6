#include "app/window_settings.h"

#include "pipeline/run_options.h"

#include <QFileInfo>
#include <QSettings>

namespace {

// The keys existing settings were written with.
const QString geometry_key = QStringLiteral("window/geometry");
const QString folders_group = QStringLiteral("folders/");
const QString last_calibration_key = QStringLiteral("calibration/last");
const QString compression_key = QStringLiteral("options/compression");
const QString fps_key = QStringLiteral("options/fps");
const QString boomerang_key = QStringLiteral("options/boomerang");
const QString sticker_color_key = QStringLiteral("options/sticker_color");
const QString video_long_side_key = QStringLiteral("options/video_long_side");
const QString gif_key = QStringLiteral("options/gif");
const QString colour_match_key = QStringLiteral("options/colour_match");
const QString overlay_file_key = QStringLiteral("options/overlay_file");
const QString overlay_position_key = QStringLiteral("options/overlay_position");
const QString overlay_size_key = QStringLiteral("options/overlay_size");
const QString overlay_margin_key = QStringLiteral("options/overlay_margin");
const QString aspect_key = QStringLiteral("options/aspect");
const QString min_duration_key = QStringLiteral("options/min_duration");
const QString hold_key = QStringLiteral("options/hold");
const QString still_key = QStringLiteral("options/still");
const QString between_key = QStringLiteral("options/between");

} // namespace

QByteArray WindowSettings::geometry() const
{
    return settings ? settings->value(geometry_key).toByteArray() : QByteArray();
}

void WindowSettings::set_geometry(const QByteArray& geometry)
{
    if (settings)
        settings->setValue(geometry_key, geometry);
}

QString WindowSettings::last_folder(const char* dialog) const
{
    return settings ? settings->value(folders_group + QLatin1String(dialog)).toString() : QString();
}

void WindowSettings::remember_folder(const char* dialog, const QString& path)
{
    if (!settings || path.isEmpty())
        return;
    const QFileInfo chosen(path);
    settings->setValue(folders_group + QLatin1String(dialog),
                       chosen.isDir() ? chosen.absoluteFilePath() : chosen.absolutePath());
}

QString WindowSettings::last_calibration() const
{
    return settings ? settings->value(last_calibration_key).toString() : QString();
}

void WindowSettings::remember_calibration(const QString& path)
{
    if (settings)
        settings->setValue(last_calibration_key, QFileInfo(path).absoluteFilePath());
}

WindowOptions WindowSettings::options(const WindowOptions& defaults) const
{
    if (!settings)
        return defaults;
    WindowOptions kept;
    kept.compression = settings->value(compression_key, defaults.compression).toInt();
    kept.fps = settings->value(fps_key, defaults.fps).toInt();
    kept.boomerang = settings->value(boomerang_key, default_boomerang).toBool();
    kept.video_long_side = settings->value(video_long_side_key);
    kept.gif = settings->value(gif_key, default_gif).toBool();
    kept.colour_match = settings->value(colour_match_key, default_colour_match).toBool();
    kept.between = settings->value(between_key, default_between).toInt();
    kept.sticker_color = settings->value(sticker_color_key).toString() == QStringLiteral("pink")
                             ? StickerColor::Pink
                             : StickerColor::Yellow;
    kept.overlay_file = settings->value(overlay_file_key, defaults.overlay_file).toString();
    kept.overlay_position =
        settings->value(overlay_position_key, defaults.overlay_position).toString();
    kept.overlay_size = settings->value(overlay_size_key, defaults.overlay_size).toInt();
    kept.overlay_margin = settings->value(overlay_margin_key, defaults.overlay_margin).toInt();
    kept.aspect = settings->value(aspect_key, defaults.aspect).toString();
    kept.min_duration = settings->value(min_duration_key, defaults.min_duration).toDouble();
    kept.hold = settings->value(hold_key, defaults.hold).toDouble();
    kept.still = settings->value(still_key, defaults.still).toBool();
    return kept;
}

void WindowSettings::set_options(const WindowOptions& options)
{
    if (!settings)
        return;
    settings->setValue(compression_key, options.compression);
    settings->setValue(fps_key, options.fps);
    settings->setValue(boomerang_key, options.boomerang);
    settings->setValue(video_long_side_key, options.video_long_side);
    settings->setValue(gif_key, options.gif);
    settings->setValue(colour_match_key, options.colour_match);
    settings->setValue(between_key, options.between);
    settings->setValue(sticker_color_key, options.sticker_color == StickerColor::Pink
                                              ? QStringLiteral("pink")
                                              : QStringLiteral("yellow"));
    settings->setValue(overlay_file_key, options.overlay_file);
    settings->setValue(overlay_position_key, options.overlay_position);
    settings->setValue(overlay_size_key, options.overlay_size);
    settings->setValue(overlay_margin_key, options.overlay_margin);
    settings->setValue(aspect_key, options.aspect);
    settings->setValue(min_duration_key, options.min_duration);
    settings->setValue(hold_key, options.hold);
    settings->setValue(still_key, options.still);
}
