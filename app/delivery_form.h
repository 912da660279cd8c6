#pragma once

#include <QString>

#include <functional>

struct MainWindowUi;
struct ProcessingRequest;
struct WindowOptions;
class UserDialogs;
class WindowSettings;
class QWidget;

// What the window offers for the videos handed to guests: the "Habillage" box
// (a PNG laid over the videos, its place, size and margin), and the "Format",
// the "Durée" and the still.

// Builds the widgets into `ui`: the "Habillage" box and the "Format et durée"
// box, one above the other beside the sticker colour and the video options.
void build_delivery_widgets(MainWindowUi& ui);
void retranslate_delivery_widgets(MainWindowUi& ui);

// Connects the widgets: "Choisir ..." asks `dialogs` for a PNG (starting in the
// folder of the last one), "Retirer" takes it away; every change calls `changed`.
void connect_delivery_form(MainWindowUi& ui, QWidget* window, UserDialogs& dialogs,
                           WindowSettings& settings, std::function<void()> changed);

// The form's choices into `options` and back; an unknown position or shape
// keeps the form's.
void delivery_options_in_form(const MainWindowUi& ui, WindowOptions& options);
void show_delivery_options(MainWindowUi& ui, const WindowOptions& kept);

// The form's choices into a run.
void read_delivery_form(const MainWindowUi& ui, ProcessingRequest& request);
