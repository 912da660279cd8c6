#include "app/photo_display.h"

#include "app/main_window_ui.h"
#include "app/photo_zoom.h"
#include "app/pixel_picker.h"
#include "app/user_dialogs.h"
#include "photo/image_file.h"

#include <QAction>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include <cmath>

namespace {

// How large the photo's view may be made before the window outgrows the
// available part of its screen.
QSize room_for_photo(QMainWindow& window, MainWindowUi& ui)
{
    // The window's smallest size with the view at its own smallest: the layouts
    // are brought up to date at once rather than at the next event loop turn.
    ui.scrollArea->setMinimumSize(0, 0);
    ui.centralWidget->layout()->activate();
    window.layout()->activate();
    const QSize around = window.minimumSizeHint() - ui.scrollArea->minimumSizeHint();
    // The window manager's frame is known once the window is shown; before,
    // a title bar is the least it will add.
    const QSize frame = window.isVisible()
                            ? window.frameGeometry().size() - window.geometry().size()
                            : QSize(0, window.style()->pixelMetric(QStyle::PM_TitleBarHeight));
    return window.screen()->availableGeometry().size() - around - frame;
}

} // namespace

PhotoZoom* add_photo_zoom(QMainWindow& window, MainWindowUi& ui)
{
    auto* zoom = new PhotoZoom(ui.scrollArea, ui.image_label, &window);
    auto* label = new QLabel(&window);
    label->setObjectName(QStringLiteral("label_zoom"));
    ui.statusBar->addPermanentWidget(label);
    QObject::connect(zoom, &PhotoZoom::zoom_changed, label, [label](double value) {
        label->setText(QStringLiteral("Zoom : %1 %").arg(std::lround(value * 100)));
    });
    QObject::connect(ui.action_zoom_fit, &QAction::triggered, zoom, &PhotoZoom::fit);
    QObject::connect(ui.action_zoom_actual, &QAction::triggered, zoom, &PhotoZoom::actual_size);
    QObject::connect(ui.action_zoom_in, &QAction::triggered, zoom, &PhotoZoom::zoom_in);
    QObject::connect(ui.action_zoom_out, &QAction::triggered, zoom, &PhotoZoom::zoom_out);
    return zoom;
}

QImage read_photo_for_display(UserDialogs& dialogs, const QString& path)
{
    const QImage image = read_oriented_image(path);
    if (image.isNull()) {
        dialogs.critical(nullptr, QStringLiteral("Erreur de fichier image"),
                         QStringLiteral("Impossible de lire le fichier '") + path +
                             QStringLiteral("'"));
        return QImage();
    }
    return image.convertToFormat(QImage::Format_RGB888);
}

void show_photo(QMainWindow& window, MainWindowUi& ui, PhotoZoom& zoom, const QImage& image)
{
    // At least a third of the photo, at most 1200 x 900 of it, visible without
    // scrolling, as long as the whole window still fits on its screen: a
    // window taller than the screen hides its controls.
    ui.scrollArea->setMinimumSize(photo_view_minimum(image.size(), room_for_photo(window, ui),
                                                     ui.scrollArea->minimumSizeHint()));

    ui.image_label->set_marks({});
    ui.image_label->setPixmap(QPixmap::fromImage(image));
    zoom.photo_changed();

    // The stickers stand near the middle of a photo: once the new picture is laid
    // out, scroll so that its centre is in view.
    QScrollArea* area = ui.scrollArea;
    QTimer::singleShot(0, area, [area] {
        for (QScrollBar* bar : {area->horizontalScrollBar(), area->verticalScrollBar()})
            bar->setValue((bar->minimum() + bar->maximum()) / 2);
    });
}
