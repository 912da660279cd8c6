#include "app/option_form.h"

#include "app/delivery_form.h"
#include "app/main_window_ui.h"
#include "app/processing_launcher.h"
#include "output/clip_length.h"
#include "output/video_sequence.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

WindowOptions options_in_form(const MainWindowUi& ui, StickerColor preset)
{
    WindowOptions options;
    options.compression = ui.slider_compression->value();
    options.fps = ui.slider_fps->value();
    options.boomerang = ui.checkBox_boomerang->isChecked();
    options.video_long_side = ui.comboBox_video_size->currentData();
    options.gif = ui.checkBox_gif->isChecked();
    options.colour_match = ui.checkBox_colour_match->isChecked();
    options.between = ui.spinBox_between->value();
    options.sticker_color = preset;
    delivery_options_in_form(ui, options);
    return options;
}

void show_options_in_form(MainWindowUi& ui, const WindowOptions& kept)
{
    // The size is kept by its value, so that an unknown one keeps the default.
    const int video_size = ui.comboBox_video_size->findData(kept.video_long_side);
    ui.slider_compression->setValue(kept.compression);
    ui.slider_fps->setValue(kept.fps);
    ui.checkBox_boomerang->setChecked(kept.boomerang);
    if (video_size >= 0)
        ui.comboBox_video_size->setCurrentIndex(video_size);
    ui.checkBox_gif->setChecked(kept.gif);
    ui.checkBox_colour_match->setChecked(kept.colour_match);
    ui.spinBox_between->setValue(kept.between);
    show_preset(ui, kept.sticker_color);
    show_delivery_options(ui, kept);
}

void show_frame_rate(MainWindowUi& ui, int frames)
{
    const int fps = ui.slider_fps->value();
    const int pictures = played_picture_count(frames, ui.spinBox_between->value());
    // The video as the run writes it: with its pause and played again to the
    // form's length, as the closing box counts it.
    ClipLength length;
    length.min_seconds = ui.spinBox_min_duration->value();
    length.hold_seconds = ui.spinBox_hold->value();
    const ClipPlay play = clip_play(pictures, fps, length);
    const int played = play.video_frames();
    QString text = QString::number(fps) + QStringLiteral(" FPS");
    if (frames > 0) {
        text += QStringLiteral(" — %1 pour %2 image%3")
                    .arg(seconds_text(static_cast<double>(played) / fps))
                    .arg(played)
                    .arg(played > 1 ? QStringLiteral("s") : QString());
        const int made = (pictures - frames) * play.video_repeats;
        if (made > 0)
            text += QStringLiteral(" dont %1 intermédiaire%2")
                        .arg(made)
                        .arg(made > 1 ? QStringLiteral("s") : QString());
    }
    ui.label_fps->setText(text);
}

void show_compression(MainWindowUi& ui)
{
    ui.label_compression->setText(QStringLiteral("Compression : ") +
                                  QString::number(ui.slider_compression->value()) +
                                  QStringLiteral("%"));
}

void show_preset(MainWindowUi& ui, StickerColor preset)
{
    (preset == StickerColor::Pink ? ui.button_pink : ui.button_yellow)->setChecked(true);
}
