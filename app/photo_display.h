#pragma once

#include <QImage>
#include <QString>

class PhotoZoom;
class QMainWindow;
class UserDialogs;
struct MainWindowUi;

// The picture's zoom, wired to the View menu's actions, with its "Zoom : N %"
// label in the status bar; owned by `window`.
PhotoZoom* add_photo_zoom(QMainWindow& window, MainWindowUi& ui);

// Reads a photo for display (orientation applied, RGB888); null and an error
// box when unreadable.
QImage read_photo_for_display(UserDialogs& dialogs, const QString& path);

// Shows `image` in the window's picture, without marks, at the zoom in force,
// its view as large as the window's screen allows and scrolled to its centre.
void show_photo(QMainWindow& window, MainWindowUi& ui, PhotoZoom& zoom, const QImage& image);
