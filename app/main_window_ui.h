#pragma once

class PixelPicker;
class QAction;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QDoubleSpinBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QHBoxLayout;
class QLabel;
class QMainWindow;
class QMenu;
class QMenuBar;
class QRadioButton;
class QScrollArea;
class QSlider;
class QSpinBox;
class QStatusBar;
class QToolBar;
class QVBoxLayout;
class QWidget;

// The main window's form: non-owning pointers to its widgets, each named after
// its member, which the window's slots rely on to be connected by name.
struct MainWindowUi
{
    QAction* action_new_references = nullptr;
    QAction* action_new_computation = nullptr;
    QAction* action_new_color = nullptr;
    QAction* action_manual_calibration = nullptr;
    QAction* action_open_calibration = nullptr;
    QAction* action_save_calibration = nullptr;
    QAction* action_check_calibration = nullptr;
    QAction* action_zoom_fit = nullptr;
    QAction* action_zoom_actual = nullptr;
    QAction* action_zoom_in = nullptr;
    QAction* action_zoom_out = nullptr;
    QMenu* menuAffichage = nullptr;
    QAction* action_quit = nullptr;
    QAction* action_about = nullptr;
    // Shortcuts of the manual steps, on the window rather than in a menu.
    QAction* action_undo_click = nullptr;
    QAction* action_leave_manual_steps = nullptr;
    QWidget* centralWidget = nullptr;
    QGridLayout* gridLayout = nullptr;
    QVBoxLayout* main_layout = nullptr;
    QScrollArea* scrollArea = nullptr;
    QWidget* scrollAreaWidgetContents = nullptr;
    QVBoxLayout* verticalLayout_2 = nullptr;
    PixelPicker* image_label = nullptr;
    QLabel* instruction_label = nullptr;
    QGroupBox* groupBox_video_options = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QSlider* slider_compression = nullptr;
    QLabel* label_compression = nullptr;
    QLabel* label_fps_title = nullptr;
    QSlider* slider_fps = nullptr;
    QLabel* label_fps = nullptr;
    QCheckBox* checkBox_boomerang = nullptr;
    QLabel* label_video_size = nullptr;
    QComboBox* comboBox_video_size = nullptr;
    QLabel* label_between = nullptr;
    QSpinBox* spinBox_between = nullptr;
    QCheckBox* checkBox_gif = nullptr;
    QCheckBox* checkBox_colour_match = nullptr;
    // The videos handed to guests (see delivery_form.h).
    QLabel* label_aspect = nullptr;
    QComboBox* comboBox_aspect = nullptr;
    QLabel* label_duration = nullptr;
    QDoubleSpinBox* spinBox_min_duration = nullptr;
    QLabel* label_hold = nullptr;
    QDoubleSpinBox* spinBox_hold = nullptr;
    QCheckBox* checkBox_still = nullptr;
    QGroupBox* groupBox_overlay = nullptr;
    QGroupBox* groupBox_clip = nullptr;
    QLineEdit* lineEdit_overlay = nullptr;
    QPushButton* button_overlay = nullptr;
    QPushButton* button_overlay_clear = nullptr;
    QComboBox* comboBox_overlay_position = nullptr;
    QSpinBox* spinBox_overlay_size = nullptr;
    QSpinBox* spinBox_overlay_margin = nullptr;
    QGroupBox* groupBox_sticker_color = nullptr;
    QHBoxLayout* horizontalLayout_2 = nullptr;
    QRadioButton* button_yellow = nullptr;
    QRadioButton* button_pink = nullptr;
    QMenuBar* menuBar = nullptr;
    QMenu* menuFichier = nullptr;
    QMenu* menuAide = nullptr;
    QToolBar* mainToolBar = nullptr;
    QStatusBar* statusBar = nullptr;
    // The one-line summary of the last processing run, in the status bar.
    QLabel* label_last_run = nullptr;

    // Builds the widget tree on `window`, sets its texts, then connects the
    // window's on_<object>_<signal> slots by name.
    void setupUi(QMainWindow* window);
    void retranslateUi(QMainWindow* window);
};
