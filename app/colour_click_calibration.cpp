#include "app/colour_click_calibration.h"

#include "app/progress_view.h"
#include "app/user_dialogs.h"

#include <QFileInfo>

#include <cmath>
#include <iostream>

namespace {

QString preset_name(StickerColor color)
{
    return color == StickerColor::Yellow ? QStringLiteral("Jaune") : QStringLiteral("Rose");
}

} // namespace

ColourClickCalibration::ColourClickCalibration(QWidget& window, UserDialogs& dialogs,
                                               RunWithProgress run_with_progress)
    : window(window), dialogs(dialogs), run_with_progress(std::move(run_with_progress))
{
}

void ColourClickCalibration::choose_preset(StickerColor color)
{
    chosen_preset = color;
    learned_before.reset();
}

void ColourClickCalibration::continue_from(const RigCalibration& rig)
{
    chosen_preset = rig.sticker_color;
    learned_before = rig.learned_colour;
}

std::optional<CalibrationOutcome> ColourClickCalibration::calibrate(const QStringList& references,
                                                                    const QImage& preview,
                                                                    QPoint pixel)
{
    // QImage::pixel warns about, and returns 0 for, a point outside the photo.
    const bool inside = preview.valid(pixel);
    const QRgb color = inside ? preview.pixel(pixel) & 0xFFFFFF : 0;
    std::cout << "It has color (" << qRed(color) << ", " << qGreen(color) << ", " << qBlue(color)
              << ")" << std::endl;
    if (references.isEmpty())
        return std::nullopt;

    // The rig is calibrated on worker threads while a progress window stays live;
    // the worker gets its own copies of everything it reads. The selection starts
    // afresh, so that its outcome tells whether the middle photo gave its stickers.
    CalibrationRequest request;
    request.references = references;
    request.color = chosen_preset;
    request.colour = learned_before;
    if (inside)
        request.colour_click = cv::Point(pixel.x(), pixel.y());
    CalibrationProgress progress(request.references.size());
    CalibrationOutcome outcome;
    run_with_progress(
        QStringLiteral("Calibrage"),
        [&] { outcome = run_calibration(request, std::cout, &progress); },
        [&](ProgressView& shown) {
            const RunStep step = progress.step();
            shown.set_progress(step.text(), step.done, step.total);
            if (shown.cancelled())
                progress.request_stop();
        });
    if (!outcome.colour_refusal.isEmpty()) {
        // Grey, white or black: not a sticker. The next click tries again.
        dialogs.warning(&window, QStringLiteral("Couleur des repères"),
                        QStringLiteral("Le point cliqué (%1, %2) ne donne pas la couleur d'un "
                                       "repère : %3.\n\nCliquez sur l'un des repères.")
                            .arg(pixel.x())
                            .arg(pixel.y())
                            .arg(outcome.colour_refusal));
        return std::nullopt;
    }
    if (outcome.stopped) {
        dialogs.information(&window, QStringLiteral("Calibrage annulé"),
                            QStringLiteral("Le calibrage a été interrompu. Cliquez à nouveau sur "
                                           "un sticker pour le relancer."));
        return std::nullopt;
    }
    if (!outcome.reference.selected) {
        report_no_sticker_trio(references, outcome.rig.learned_colour);
        return std::nullopt;
    }
    learned_before = outcome.rig.learned_colour;
    return outcome;
}

void ColourClickCalibration::report_no_sticker_trio(const QStringList& references,
                                                    const std::optional<LearnedColour>& learned)
{
    const int middle = references.size() / 2;
    QString text = QStringLiteral("Aucun trio de repères de cette couleur dans l'image du milieu "
                                  "(image #%1 : %2). ")
                       .arg(QString::number(middle + 1), QFileInfo(references.at(middle)).fileName());
    if (learned) {
        text += QStringLiteral("La couleur apprise au clic a la teinte %1° et la saturation %2 %.")
                    .arg(std::lround(learned->hue))
                    .arg(std::lround(learned->chroma));
    } else {
        text += QStringLiteral("La couleur choisie est « %1 ».").arg(preset_name(chosen_preset));
    }
    // The calibration in place is kept; the next click on a sticker tries again.
    dialogs.warning(&window, QStringLiteral("Couleur des repères"),
                    text + QStringLiteral("\n\nChoisissez la couleur des repères puis cliquez sur "
                                          "l'un d'eux."));
}
