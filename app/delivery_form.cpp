#include "app/delivery_form.h"

#include "app/main_window_ui.h"
#include "app/user_dialogs.h"
#include "app/window_settings.h"
#include "output/clip_shape.h"
#include "output/run_files.h"
#include "output/video_overlay.h"
#include "pipeline/processing_run.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

template <typename Object> Object* named(Object* object, const char* name)
{
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

const OverlayPosition positions[] = {OverlayPosition::TopLeft,     OverlayPosition::TopRight,
                                     OverlayPosition::BottomLeft,  OverlayPosition::BottomRight,
                                     OverlayPosition::Center,      OverlayPosition::Full};

QDoubleSpinBox* seconds_box(QWidget* parent, const char* name, double maximum)
{
    auto* box = named(new QDoubleSpinBox(parent), name);
    box->setRange(0, maximum);
    box->setDecimals(1);
    box->setSingleStep(0.5);
    return box;
}

void select_data(QComboBox* box, const QString& data)
{
    const int index = box->findData(data);
    if (index >= 0)
        box->setCurrentIndex(index);
}

} // namespace

void build_delivery_widgets(MainWindowUi& ui)
{
    // Beside the sticker colour and the video options, as tall as both.
    auto* column = new QVBoxLayout();
    ui.groupBox_overlay = named(new QGroupBox(ui.centralWidget), "groupBox_overlay");
    auto* box = new QGridLayout(ui.groupBox_overlay);
    ui.lineEdit_overlay = named(new QLineEdit(ui.groupBox_overlay), "lineEdit_overlay");
    ui.lineEdit_overlay->setReadOnly(true);
    box->addWidget(ui.lineEdit_overlay, 0, 0, 1, 2);
    ui.button_overlay = named(new QPushButton(ui.groupBox_overlay), "button_overlay");
    box->addWidget(ui.button_overlay, 1, 0);
    ui.button_overlay_clear =
        named(new QPushButton(ui.groupBox_overlay), "button_overlay_clear");
    box->addWidget(ui.button_overlay_clear, 1, 1);
    ui.comboBox_overlay_position =
        named(new QComboBox(ui.groupBox_overlay), "comboBox_overlay_position");
    for (const OverlayPosition position : positions)
        ui.comboBox_overlay_position->addItem(QString(), overlay_position_name(position));
    select_data(ui.comboBox_overlay_position, overlay_position_name(VideoOverlay().position));
    box->addWidget(ui.comboBox_overlay_position, 2, 0, 1, 2);
    ui.spinBox_overlay_size = named(new QSpinBox(ui.groupBox_overlay), "spinBox_overlay_size");
    ui.spinBox_overlay_size->setRange(min_overlay_percent, max_overlay_percent);
    ui.spinBox_overlay_size->setValue(default_overlay_percent);
    ui.spinBox_overlay_size->setSuffix(QStringLiteral(" %"));
    box->addWidget(ui.spinBox_overlay_size, 3, 0);
    ui.spinBox_overlay_margin =
        named(new QSpinBox(ui.groupBox_overlay), "spinBox_overlay_margin");
    ui.spinBox_overlay_margin->setRange(0, max_overlay_margin_percent);
    ui.spinBox_overlay_margin->setValue(default_overlay_margin_percent);
    ui.spinBox_overlay_margin->setSuffix(QStringLiteral(" %"));
    box->addWidget(ui.spinBox_overlay_margin, 3, 1);
    column->addWidget(ui.groupBox_overlay);

    ui.groupBox_clip = named(new QGroupBox(ui.centralWidget), "groupBox_clip");
    auto* clip = new QGridLayout(ui.groupBox_clip);
    ui.label_aspect = named(new QLabel(ui.groupBox_clip), "label_aspect");
    clip->addWidget(ui.label_aspect, 0, 0);
    ui.comboBox_aspect = named(new QComboBox(ui.groupBox_clip), "comboBox_aspect");
    for (const ClipAspect aspect : all_aspects())
        ui.comboBox_aspect->addItem(aspect_name(aspect), aspect_name(aspect));
    ui.label_aspect->setBuddy(ui.comboBox_aspect);
    clip->addWidget(ui.comboBox_aspect, 0, 1);
    ui.label_duration = named(new QLabel(ui.groupBox_clip), "label_duration");
    clip->addWidget(ui.label_duration, 1, 0);
    ui.spinBox_min_duration = seconds_box(ui.groupBox_clip, "spinBox_min_duration", max_clip_seconds);
    ui.label_duration->setBuddy(ui.spinBox_min_duration);
    clip->addWidget(ui.spinBox_min_duration, 1, 1);
    ui.label_hold = named(new QLabel(ui.groupBox_clip), "label_hold");
    clip->addWidget(ui.label_hold, 2, 0);
    ui.spinBox_hold = seconds_box(ui.groupBox_clip, "spinBox_hold", max_hold_seconds);
    ui.label_hold->setBuddy(ui.spinBox_hold);
    clip->addWidget(ui.spinBox_hold, 2, 1);
    ui.checkBox_still = named(new QCheckBox(ui.groupBox_clip), "checkBox_still");
    clip->addWidget(ui.checkBox_still, 3, 0, 1, 2);
    column->addWidget(ui.groupBox_clip);
    ui.gridLayout->addLayout(column, 1, 1, 2, 1);
}

void retranslate_delivery_widgets(MainWindowUi& ui)
{
    auto tr = [](const char* text) { return QCoreApplication::translate("MainWindow", text); };
    ui.label_aspect->setText(tr("Format"));
    ui.comboBox_aspect->setItemText(0, tr("Originale"));
    ui.label_duration->setText(tr("Durée"));
    ui.spinBox_min_duration->setSpecialValueText(tr("une fois"));
    ui.spinBox_min_duration->setSuffix(tr(" s au moins"));
    ui.label_hold->setText(tr("Pause"));
    ui.spinBox_hold->setSpecialValueText(tr("aucune"));
    ui.spinBox_hold->setSuffix(tr(" s"));
    ui.checkBox_still->setText(tr("Image fixe (%1)").arg(still_file_name));
    ui.groupBox_overlay->setTitle(tr("Habillage"));
    ui.groupBox_clip->setTitle(tr("Format et durée"));
    ui.lineEdit_overlay->setPlaceholderText(tr("Aucune image PNG"));
    ui.button_overlay->setText(tr("Choisir ..."));
    ui.button_overlay_clear->setText(tr("Retirer"));
    const char* position_texts[] = {"En haut à gauche", "En haut à droite", "En bas à gauche",
                                    "En bas à droite",  "Au centre",        "Plein cadre"};
    for (int k = 0; k < 6; ++k)
        ui.comboBox_overlay_position->setItemText(k, tr(position_texts[k]));
    ui.spinBox_overlay_size->setPrefix(tr("Largeur "));
    ui.spinBox_overlay_margin->setPrefix(tr("Marge "));
}

void connect_delivery_form(MainWindowUi& ui, QWidget* window, UserDialogs& dialogs,
                           WindowSettings& settings, std::function<void()> changed)
{
    QObject::connect(ui.button_overlay, &QPushButton::clicked, window, [&ui, window, &dialogs,
                                                                        &settings, changed] {
        const QStringList chosen = dialogs.get_open_file_names(
            window, QStringLiteral("Choisissez l'image PNG de l'habillage"),
            settings.last_folder("overlay"), QStringLiteral("Images PNG (*.png)"));
        if (chosen.isEmpty())
            return;
        settings.remember_folder("overlay", chosen.front());
        ui.lineEdit_overlay->setText(chosen.front());
        changed();
    });
    QObject::connect(ui.button_overlay_clear, &QPushButton::clicked, window, [&ui, changed] {
        ui.lineEdit_overlay->clear();
        changed();
    });
    const auto on_change = [changed] { changed(); };
    QObject::connect(ui.comboBox_overlay_position, qOverload<int>(&QComboBox::currentIndexChanged),
                     window, on_change);
    QObject::connect(ui.comboBox_aspect, qOverload<int>(&QComboBox::currentIndexChanged), window,
                     on_change);
    QObject::connect(ui.spinBox_overlay_size, qOverload<int>(&QSpinBox::valueChanged), window,
                     on_change);
    QObject::connect(ui.spinBox_overlay_margin, qOverload<int>(&QSpinBox::valueChanged), window,
                     on_change);
    QObject::connect(ui.spinBox_min_duration, qOverload<double>(&QDoubleSpinBox::valueChanged),
                     window, on_change);
    QObject::connect(ui.spinBox_hold, qOverload<double>(&QDoubleSpinBox::valueChanged), window,
                     on_change);
    QObject::connect(ui.checkBox_still, &QCheckBox::toggled, window, on_change);
}

void delivery_options_in_form(const MainWindowUi& ui, WindowOptions& options)
{
    options.overlay_file = ui.lineEdit_overlay->text();
    options.overlay_position = ui.comboBox_overlay_position->currentData().toString();
    options.overlay_size = ui.spinBox_overlay_size->value();
    options.overlay_margin = ui.spinBox_overlay_margin->value();
    options.aspect = ui.comboBox_aspect->currentData().toString();
    options.min_duration = ui.spinBox_min_duration->value();
    options.hold = ui.spinBox_hold->value();
    options.still = ui.checkBox_still->isChecked();
}

void show_delivery_options(MainWindowUi& ui, const WindowOptions& kept)
{
    ui.lineEdit_overlay->setText(kept.overlay_file);
    select_data(ui.comboBox_overlay_position, kept.overlay_position);
    ui.spinBox_overlay_size->setValue(kept.overlay_size);
    ui.spinBox_overlay_margin->setValue(kept.overlay_margin);
    select_data(ui.comboBox_aspect, kept.aspect);
    ui.spinBox_min_duration->setValue(kept.min_duration);
    ui.spinBox_hold->setValue(kept.hold);
    ui.checkBox_still->setChecked(kept.still);
}

void read_delivery_form(const MainWindowUi& ui, ProcessingRequest& request)
{
    request.overlay.file = ui.lineEdit_overlay->text();
    request.overlay.position =
        overlay_position_from_name(ui.comboBox_overlay_position->currentData().toString())
            .value_or(VideoOverlay().position);
    request.overlay.size_percent = ui.spinBox_overlay_size->value();
    request.overlay.margin_percent = ui.spinBox_overlay_margin->value();
    request.aspect = aspect_from_name(ui.comboBox_aspect->currentData().toString())
                         .value_or(ClipAspect::Original);
    request.length.min_seconds = ui.spinBox_min_duration->value();
    request.length.hold_seconds = ui.spinBox_hold->value();
    request.still = ui.checkBox_still->isChecked();
}
