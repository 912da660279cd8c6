#include "app/main_window_ui.h"

#include "app/delivery_form.h"

#include "app/pixel_picker.h"
#include "pipeline/run_options.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

template <typename Object> Object* named(Object* object, const char* name)
{
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

QSlider* make_slider(QWidget* parent, const char* name, int minimum, int maximum, int value,
                     int tick_interval)
{
    auto* slider = named(new QSlider(parent), name);
    slider->setMinimum(minimum);
    slider->setMaximum(maximum);
    slider->setValue(value);
    slider->setOrientation(Qt::Horizontal);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(tick_interval);
    return slider;
}

QLabel* make_centred_label(QWidget* parent, const char* name)
{
    auto* label = named(new QLabel(parent), name);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

template <typename Layout> Layout* spaced(Layout* layout)
{
    layout->setSpacing(6);
    layout->setContentsMargins(11, 11, 11, 11);
    return layout;
}

} // namespace

void MainWindowUi::setupUi(QMainWindow* window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(407, 371);

    action_new_references = named(new QAction(window), "action_new_references");
    action_new_computation = named(new QAction(window), "action_new_computation");
    action_new_computation->setEnabled(false);
    action_new_color = named(new QAction(window), "action_new_color");
    action_new_color->setEnabled(false);
    action_manual_calibration = named(new QAction(window), "action_manual_calibration");
    action_manual_calibration->setEnabled(false);
    action_open_calibration = named(new QAction(window), "action_open_calibration");
    action_open_calibration->setShortcut(QKeySequence::Open);
    action_save_calibration = named(new QAction(window), "action_save_calibration");
    action_save_calibration->setShortcut(QKeySequence::Save);
    action_save_calibration->setEnabled(false);
    action_check_calibration = named(new QAction(window), "action_check_calibration");
    action_check_calibration->setEnabled(false);
    action_zoom_fit = named(new QAction(window), "action_zoom_fit");
    action_zoom_fit->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_0));
    action_zoom_actual = named(new QAction(window), "action_zoom_actual");
    action_zoom_actual->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_1));
    action_zoom_in = named(new QAction(window), "action_zoom_in");
    action_zoom_in->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL + Qt::Key_Equal)});
    action_zoom_out = named(new QAction(window), "action_zoom_out");
    action_zoom_out->setShortcut(QKeySequence::ZoomOut);
    action_new_references->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_R));
    action_new_computation->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_N));
    action_quit = named(new QAction(window), "action_quit");
    action_quit->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_Q));
    action_quit->setMenuRole(QAction::QuitRole);
    action_about = named(new QAction(window), "action_about");
    action_about->setMenuRole(QAction::AboutRole);
    action_undo_click = named(new QAction(window), "action_undo_click");
    action_undo_click->setShortcuts(
        {QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::CTRL + Qt::Key_Z)});
    action_undo_click->setEnabled(false);
    window->addAction(action_undo_click);
    action_leave_manual_steps = named(new QAction(window), "action_leave_manual_steps");
    action_leave_manual_steps->setShortcut(QKeySequence(Qt::Key_Escape));
    action_leave_manual_steps->setEnabled(false);
    window->addAction(action_leave_manual_steps);

    centralWidget = named(new QWidget(window), "centralWidget");
    gridLayout = spaced(named(new QGridLayout(centralWidget), "gridLayout"));

    main_layout = named(new QVBoxLayout(), "main_layout");
    main_layout->setSpacing(0);
    scrollArea = named(new QScrollArea(centralWidget), "scrollArea");
    scrollArea->setWidgetResizable(true);
    scrollAreaWidgetContents = named(new QWidget(), "scrollAreaWidgetContents");
    verticalLayout_2 = spaced(named(new QVBoxLayout(scrollAreaWidgetContents), "verticalLayout_2"));
    image_label = named(new PixelPicker(scrollAreaWidgetContents), "image_label");
    verticalLayout_2->addWidget(image_label);
    scrollArea->setWidget(scrollAreaWidgetContents);
    main_layout->addWidget(scrollArea);

    instruction_label = named(new QLabel(centralWidget), "instruction_label");
    QSizePolicy instruction_policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    instruction_policy.setHorizontalStretch(0);
    instruction_policy.setVerticalStretch(0);
    instruction_policy.setHeightForWidth(instruction_label->sizePolicy().hasHeightForWidth());
    instruction_label->setSizePolicy(instruction_policy);
    main_layout->addWidget(instruction_label);
    gridLayout->addLayout(main_layout, 0, 0, 1, 2);

    groupBox_sticker_color = named(new QGroupBox(centralWidget), "groupBox_sticker_color");
    horizontalLayout_2 =
        spaced(named(new QHBoxLayout(groupBox_sticker_color), "horizontalLayout_2"));
    button_yellow = named(new QRadioButton(groupBox_sticker_color), "button_yellow");
    button_yellow->setChecked(true);
    horizontalLayout_2->addWidget(button_yellow);
    button_pink = named(new QRadioButton(groupBox_sticker_color), "button_pink");
    horizontalLayout_2->addWidget(button_pink);
    gridLayout->addWidget(groupBox_sticker_color, 1, 0, 1, 1);

    groupBox_video_options = named(new QGroupBox(centralWidget), "groupBox_video_options");
    verticalLayout = spaced(named(new QVBoxLayout(groupBox_video_options), "verticalLayout"));
    slider_compression = make_slider(groupBox_video_options, "slider_compression", min_compression,
                                     max_compression, default_compression, 9);
    verticalLayout->addWidget(slider_compression);
    label_compression = make_centred_label(groupBox_video_options, "label_compression");
    verticalLayout->addWidget(label_compression);
    label_fps_title = make_centred_label(groupBox_video_options, "label_fps_title");
    verticalLayout->addWidget(label_fps_title);
    slider_fps = make_slider(groupBox_video_options, "slider_fps", min_fps, max_fps, default_fps, 5);
    verticalLayout->addWidget(slider_fps);
    label_fps = make_centred_label(groupBox_video_options, "label_fps");
    verticalLayout->addWidget(label_fps);
    // The in-between frames share the boomerang's row: the window must fit a small screen.
    auto* boomerang_row = new QHBoxLayout();
    verticalLayout->addLayout(boomerang_row);
    checkBox_boomerang = named(new QCheckBox(groupBox_video_options), "checkBox_boomerang");
    boomerang_row->addWidget(checkBox_boomerang);
    label_between = named(new QLabel(groupBox_video_options), "label_between");
    boomerang_row->addWidget(label_between);
    spinBox_between = named(new QSpinBox(groupBox_video_options), "spinBox_between");
    spinBox_between->setRange(min_between, max_between);
    spinBox_between->setValue(default_between);
    label_between->setBuddy(spinBox_between);
    boomerang_row->addWidget(spinBox_between);
    label_video_size = named(new QLabel(groupBox_video_options), "label_video_size");
    verticalLayout->addWidget(label_video_size);
    // Each choice carries the long side in pixels that video_size() takes.
    comboBox_video_size = named(new QComboBox(groupBox_video_options), "comboBox_video_size");
    for (const int long_side : video_long_sides)
        comboBox_video_size->addItem(QString(), long_side);
    label_video_size->setBuddy(comboBox_video_size);
    verticalLayout->addWidget(comboBox_video_size);
    // The colour box shares the GIF's row, so that the window still fits a small screen.
    auto* last_row = new QHBoxLayout();
    verticalLayout->addLayout(last_row);
    checkBox_gif = named(new QCheckBox(groupBox_video_options), "checkBox_gif");
    last_row->addWidget(checkBox_gif);
    checkBox_colour_match = named(new QCheckBox(groupBox_video_options), "checkBox_colour_match");
    checkBox_colour_match->setChecked(default_colour_match);
    last_row->addWidget(checkBox_colour_match);
    gridLayout->addWidget(groupBox_video_options, 2, 0, 1, 1);
    build_delivery_widgets(*this);

    window->setCentralWidget(centralWidget);

    menuBar = named(new QMenuBar(window), "menuBar");
    menuFichier = named(new QMenu(menuBar), "menuFichier");
    window->setMenuBar(menuBar);
    mainToolBar = named(new QToolBar(window), "mainToolBar");
    window->addToolBar(Qt::TopToolBarArea, mainToolBar);
    statusBar = named(new QStatusBar(window), "statusBar");
    window->setStatusBar(statusBar);
    label_last_run = named(new QLabel(statusBar), "label_last_run");
    statusBar->addWidget(label_last_run, 1);

    menuAffichage = named(new QMenu(menuBar), "menuAffichage");
    menuBar->addAction(menuFichier->menuAction());
    menuBar->addAction(menuAffichage->menuAction());
    menuAffichage->addAction(action_zoom_fit);
    menuAffichage->addAction(action_zoom_actual);
    menuAffichage->addAction(action_zoom_in);
    menuAffichage->addAction(action_zoom_out);
    menuFichier->addAction(action_new_references);
    menuFichier->addAction(action_new_color);
    menuFichier->addAction(action_new_computation);
    menuFichier->addAction(action_manual_calibration);
    menuFichier->addSeparator();
    menuFichier->addAction(action_open_calibration);
    menuFichier->addAction(action_save_calibration);
    menuFichier->addAction(action_check_calibration);
    menuFichier->addSeparator();
    menuFichier->addAction(action_quit);
    menuAide = named(new QMenu(menuBar), "menuAide");
    menuBar->addAction(menuAide->menuAction());
    menuAide->addAction(action_about);

    retranslateUi(window);
    QMetaObject::connectSlotsByName(window);
}

void MainWindowUi::retranslateUi(QMainWindow* window)
{
    auto tr = [](const char* text) { return QCoreApplication::translate("MainWindow", text); };
    window->setWindowTitle(tr("Quorvane 3000"));
    action_new_references->setText(tr("Recharger les étalons ..."));
    action_new_computation->setText(tr("Nouveau traitement d'images ..."));
    action_new_color->setText(tr("Resélectionner la couleur des repères"));
    action_manual_calibration->setText(tr("Tout calibrer manuellement ..."));
    action_open_calibration->setText(tr("Ouvrir un calibrage ..."));
    action_save_calibration->setText(tr("Enregistrer le calibrage ..."));
    action_check_calibration->setText(tr("Vérifier le calibrage ..."));
    action_zoom_fit->setText(tr("Ajuster à la fenêtre"));
    action_zoom_actual->setText(tr("Taille réelle (100 %)"));
    action_zoom_in->setText(tr("Zoom avant"));
    action_zoom_out->setText(tr("Zoom arrière"));
    menuAffichage->setTitle(tr("Affichage"));
    action_quit->setText(tr("Quitter"));
    action_about->setText(tr("À propos"));
    action_undo_click->setText(tr("Annuler le dernier clic"));
    action_leave_manual_steps->setText(tr("Abandonner les clics manuels"));
    image_label->setText(tr("Pas d'image à afficher."));
    instruction_label->setText(
        tr("Veuillez sélectionner des images étalons via le menu 'Fichier'."));
    groupBox_sticker_color->setTitle(tr("Couleur des stickers"));
    button_yellow->setText(tr("Jaune"));
    button_pink->setText(tr("Rose"));
    groupBox_video_options->setTitle(tr("Options d'image et vidéo"));
    label_compression->setText(tr("Compression : 50%"));
    label_fps_title->setText(tr("Images par seconde"));
    label_fps->setText(tr("24 FPS"));
    checkBox_boomerang->setText(tr("Effet boomerang"));
    label_video_size->setText(tr("Taille de la vidéo"));
    comboBox_video_size->setItemText(0, tr("Originale"));
    comboBox_video_size->setItemText(1, tr("3840 px"));
    comboBox_video_size->setItemText(2, tr("1920 px"));
    comboBox_video_size->setItemText(3, tr("1280 px"));
    label_between->setText(tr("Images intermédiaires"));
    checkBox_gif->setText(tr("GIF animé"));
    checkBox_colour_match->setText(tr("Harmoniser les couleurs"));
    retranslate_delivery_widgets(*this);
    menuFichier->setTitle(tr("Fichier"));
    menuAide->setTitle(tr("Aide"));
}
