// The window's form, start-up, picture display, picture label and option labels.

#include "app/french_translations.h"
#include "app/main_window.h"
#include "app/pixel_picker.h"
#include "app/user_dialogs.h"
#include "recording_runner.h"
#include "scripted_dialogs.h"
#include "tests/support/stdout_capture.h"

#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// A photo whose width tells which file was shown.
QString write_photo(const QTemporaryDir& dir, const QString& name, int width, int height,
                    QColor color = Qt::darkGray)
{
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(color);
    const QString path = dir.filePath(name);
    image.save(path);
    return path;
}

void press(QWidget* widget, QPointF position, Qt::MouseButton button = Qt::LeftButton)
{
    QMouseEvent event(QEvent::MouseButtonPress, position, button, button, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

    ScriptedDialogs dialogs;
    RecordingRunner runner;
    QTemporaryDir dir;

    // A window on `references`, answering its questions with `answers`; with
    // `settings`, it keeps its options there.
    std::unique_ptr<MainWindow> make_window(const QStringList& references = {},
                                            const QList<bool>& answers = {},
                                            QSettings* settings = nullptr)
    {
        dialogs = ScriptedDialogs();
        dialogs.file_answers.enqueue(references);
        for (bool answer : answers)
            dialogs.question_answers.enqueue(answer);
        return std::make_unique<MainWindow>(dialogs, runner, settings);
    }

    template <typename T> static T* child(MainWindow& window, const char* name)
    {
        auto* object = window.findChild<T*>(QString::fromLatin1(name));
        if (!object)
            qFatal("no child named %s", name);
        return object;
    }

private slots:
    void cleanup() { QVERIFY(QApplication::topLevelWidgets().size() <= 1); }

    void qt_speaks_french();
    void form_texts_data();
    void form_texts();
    void form_controls();
    void menu_lists_the_actions_with_only_reloading_enabled();
    void menus_follow_desktop_conventions();
    void every_named_slot_is_connected();

    void reference_dialog_opens_before_the_window_is_shown();
    void cancelled_start_leaves_the_initial_texts();
    void preview_is_the_middle_reference_data();
    void preview_is_the_middle_reference();

    void window_fits_its_screen_whatever_the_photo_data();
    void window_fits_its_screen_whatever_the_photo();
    void first_window_with_24_mp_references_fits_its_screen();
    void transparent_png_is_shown_without_alpha();
    void unreadable_photo_is_reported_data();
    void unreadable_photo_is_reported();

    void picker_reports_one_press_per_arming();
    void picker_rounds_the_press_position();
    void picker_counts_every_button_and_double_clicks();
    void click_lands_on_the_photo_pixel_in_a_large_window();

    void option_labels_follow_their_sliders_data();
    void option_labels_follow_their_sliders();
    void frame_rate_label_counts_in_between_frames_data();
    void frame_rate_label_counts_in_between_frames();
    void choice_box_closes_without_an_answer_data();
    void choice_box_closes_without_an_answer();

    void progress_window_stays_until_the_work_stops_data();
    void progress_window_stays_until_the_work_stops();
    void option_values_survive_a_restart();
    void delivery_options_survive_a_restart();
};

void MainWindowTest::qt_speaks_french()
{
    QVERIFY(install_french_translations(*QCoreApplication::instance()));
    QCOMPARE(QDialogButtonBox(QDialogButtonBox::Cancel).button(QDialogButtonBox::Cancel)->text(),
             QString("Annuler"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "File &name:"),
             QString("&Nom de fichier :"));
}

void MainWindowTest::form_texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("picture") << "image_label"
                             << "Pas d'image à afficher.";
    QTest::newRow("instruction")
        << "instruction_label"
        << "Veuillez sélectionner des images étalons via le menu 'Fichier'.";
    QTest::newRow("compression") << "label_compression"
                                 << "Compression : 50%";
    QTest::newRow("fps") << "label_fps"
                         << "24 FPS";
    QTest::newRow("fps title") << "label_fps_title"
                               << "Images par seconde";
    QTest::newRow("boomerang") << "checkBox_boomerang"
                               << "Effet boomerang";
    QTest::newRow("video size") << "label_video_size"
                                << "Taille de la vidéo";
    QTest::newRow("GIF") << "checkBox_gif"
                         << "GIF animé";
    QTest::newRow("in-between frames") << "label_between"
                                       << "Images intermédiaires";
    QTest::newRow("colour match") << "checkBox_colour_match"
                                  << "Harmoniser les couleurs";
    QTest::newRow("yellow") << "button_yellow"
                            << "Jaune";
    QTest::newRow("pink") << "button_pink"
                          << "Rose";
    QTest::newRow("colour box") << "groupBox_sticker_color"
                                << "Couleur des stickers";
    QTest::newRow("video box") << "groupBox_video_options"
                               << "Options d'image et vidéo";
}

void MainWindowTest::form_texts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    auto window = make_window();
    QObject* object = window->findChild<QObject*>(name);
    QVERIFY2(object, qPrintable(name));
    const char* property = qobject_cast<QGroupBox*>(object) ? "title" : "text";
    QCOMPARE(object->property(property).toString(), text);
}

void MainWindowTest::form_controls()
{
    auto window = make_window();
    QCOMPARE(window->objectName(), QString("MainWindow"));
    QCOMPARE(window->windowTitle(), QString("Quorvane 3000"));
    QCOMPARE(window->size(), QSize(407, 371));

    auto* compression = child<QSlider>(*window, "slider_compression");
    QCOMPARE(compression->minimum(), 0);
    QCOMPARE(compression->maximum(), 100);
    QCOMPARE(compression->value(), 50);
    QCOMPARE(compression->tickInterval(), 9);
    QCOMPARE(compression->tickPosition(), QSlider::TicksBelow);
    auto* fps = child<QSlider>(*window, "slider_fps");
    QCOMPARE(fps->minimum(), 1);
    QCOMPARE(fps->maximum(), 60);
    QCOMPARE(fps->value(), 24);
    QCOMPARE(fps->tickInterval(), 5);
    QCOMPARE(fps->orientation(), Qt::Horizontal);

    QVERIFY(child<QRadioButton>(*window, "button_yellow")->isChecked());
    QVERIFY(!child<QRadioButton>(*window, "button_pink")->isChecked());
    QVERIFY(!child<QCheckBox>(*window, "checkBox_boomerang")->isChecked());
    QVERIFY(!child<QCheckBox>(*window, "checkBox_gif")->isChecked());
    QVERIFY(child<QCheckBox>(*window, "checkBox_colour_match")->isChecked());
    auto* between = child<QSpinBox>(*window, "spinBox_between");
    QCOMPARE(between->minimum(), 0);
    QCOMPARE(between->maximum(), 3);
    QCOMPARE(between->value(), 0);
    auto* video_size = child<QComboBox>(*window, "comboBox_video_size");
    QStringList sizes;
    for (int i = 0; i < video_size->count(); ++i)
        sizes << video_size->itemText(i);
    QCOMPARE(sizes, QStringList({"Originale", "3840 px", "1920 px", "1280 px"}));
    QCOMPARE(video_size->currentIndex(), 0);
    QVERIFY(child<QScrollArea>(*window, "scrollArea")->widgetResizable());
    QCOMPARE(child<QLabel>(*window, "instruction_label")->sizePolicy().verticalPolicy(),
             QSizePolicy::Fixed);
    QVERIFY(!child<PixelPicker>(*window, "image_label")->armed);
}

void MainWindowTest::menu_lists_the_actions_with_only_reloading_enabled()
{
    auto window = make_window();
    auto* menu = child<QMenu>(*window, "menuFichier");
    QCOMPARE(menu->title(), QString("Fichier"));
    QStringList texts;
    QStringList enabled;
    for (QAction* action : menu->actions()) {
        texts << action->text();
        if (action->isEnabled())
            enabled << action->objectName();
    }
    QCOMPARE(texts,
             QStringList({"Recharger les étalons ...", "Resélectionner la couleur des repères",
                          "Nouveau traitement d'images ...", "Tout calibrer manuellement ...", "",
                          "Ouvrir un calibrage ...", "Enregistrer le calibrage ...",
                          "Vérifier le calibrage ...", "", "Quitter"}));
    QCOMPARE(enabled, (QStringList{"action_new_references", "", "action_open_calibration", "",
                                   "action_quit"}));
    QCOMPARE(child<QAction>(*window, "action_open_calibration")->shortcut(),
             QKeySequence(QKeySequence::Open));
    QCOMPARE(child<QAction>(*window, "action_save_calibration")->shortcut(),
             QKeySequence(QKeySequence::Save));
}

void MainWindowTest::menus_follow_desktop_conventions()
{
    auto window = make_window();
    window->show();
    auto* file = child<QMenu>(*window, "menuFichier");
    const QList<QAction*> actions = file->actions();
    QCOMPARE(actions.last()->text(), QString("Quitter"));
    QCOMPARE(actions.last()->shortcut(), QKeySequence("Ctrl+Q"));
    QVERIFY(actions.at(actions.size() - 2)->isSeparator());
    QCOMPARE(child<QAction>(*window, "action_new_computation")->shortcut(), QKeySequence("Ctrl+N"));
    QCOMPARE(child<QAction>(*window, "action_new_references")->shortcut(), QKeySequence("Ctrl+R"));

    // "Aide" comes after "Fichier" and holds "À propos".
    QStringList menus;
    for (QAction* action : child<QMenuBar>(*window, "menuBar")->actions())
        menus << action->text();
    QCOMPARE(menus.mid(0, 1), QStringList{"Fichier"});
    QVERIFY(menus.indexOf("Aide") > 0);
    auto* help = child<QMenu>(*window, "menuAide");
    QCOMPARE(help->actions().size(), 1);
    help->actions().first()->trigger();
    QCOMPARE(dialogs.boxes().last(), QString("information: À propos de Quorvane 3000"));
    QVERIFY(dialogs.requests.last().text.startsWith("Quorvane 3000, version 0."));
    QCOMPARE(dialogs.requests.last().parent, window.get());

    actions.last()->trigger();
    QVERIFY(!window->isVisible());
}

void MainWindowTest::every_named_slot_is_connected()
{
    auto window = make_window();

    child<QSlider>(*window, "slider_fps")->setValue(30);
    QCOMPARE(child<QLabel>(*window, "label_fps")->text(), QString("30 FPS"));
    child<QSlider>(*window, "slider_compression")->setValue(20);
    QCOMPARE(child<QLabel>(*window, "label_compression")->text(), QString("Compression : 20%"));

    {
        StdoutCapture capture;
        emit child<PixelPicker>(*window, "image_label")->clicked(QPointF(4, 5), QPoint(4, 5));
        QCOMPARE(capture.lines().at(0), std::string("Image clicked on (4, 5)"));
    }

    child<QAction>(*window, "action_new_computation")->trigger();
    QCOMPARE(dialogs.requests.last().caption, QString("Sélectionnez des images à recadrer"));

    child<QAction>(*window, "action_new_references")->trigger();
    QCOMPARE(dialogs.requests.last().caption, QString("Sélectionner étalons"));

    // With no reference loaded, a manual pass has nothing to ask for and ends calibrated.
    child<QAction>(*window, "action_manual_calibration")->trigger();
    QCOMPARE(child<QLabel>(*window, "instruction_label")->text(),
             QString("Recadreur étalonné ; prêt à charger des images."));

    // The colour buttons are exercised by the calibration workflow tests; here
    // only their connections are checked.
    for (const char* name : {"button_yellow", "button_pink"}) {
        auto* button = child<QRadioButton>(*window, name);
        const QByteArray slot = QByteArray("on_") + name + "_clicked(bool)";
        QVERIFY(window->metaObject()->indexOfSlot(slot) >= 0);
        QVERIFY(QObject::disconnect(button, SIGNAL(clicked(bool)), window.get(),
                                    ("1" + slot).constData()));
    }
}

void MainWindowTest::reference_dialog_opens_before_the_window_is_shown()
{
    auto window = make_window();
    QCOMPARE(dialogs.requests.size(), 1);
    const ScriptedDialogs::Request& request = dialogs.requests.first();
    QCOMPARE(request.kind, QString("open"));
    QCOMPARE(request.caption, QString("Sélectionner étalons"));
    QCOMPARE(request.text, QString("Images (*.jpg *.png)"));
    QCOMPARE(request.parent, window.get());
    QVERIFY(!request.parent_visible);
}

void MainWindowTest::cancelled_start_leaves_the_initial_texts()
{
    auto window = make_window();
    QCOMPARE(child<QLabel>(*window, "image_label")->text(), QString("Pas d'image à afficher."));
    QCOMPARE(child<QLabel>(*window, "instruction_label")->text(),
             QString("Veuillez sélectionner des images étalons via le menu 'Fichier'."));
    QVERIFY(!child<PixelPicker>(*window, "image_label")->armed);
    QVERIFY(!child<QAction>(*window, "action_new_color")->isEnabled());
}

void MainWindowTest::preview_is_the_middle_reference_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("shown");
    QTest::newRow("one") << 1 << 0;
    QTest::newRow("two") << 2 << 1;
    QTest::newRow("three") << 3 << 1;
    QTest::newRow("five") << 5 << 2;
}

void MainWindowTest::preview_is_the_middle_reference()
{
    QFETCH(int, count);
    QFETCH(int, shown);
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths << write_photo(dir, QString("ref_%1.png").arg(i), 30 + i, 20);

    auto window = make_window(paths);
    auto* picture = child<PixelPicker>(*window, "image_label");
    QCOMPARE(picture->pixmap(Qt::ReturnByValue).width(), 30 + shown);
    QCOMPARE(child<QLabel>(*window, "instruction_label")->text(),
             QString("Cliquez sur un pixel d'un des repères"));
    QVERIFY(picture->armed);
}

// The whole photo is in the label; its view keeps at least part of it in sight
// (the sizes themselves are checked in the zoom test), yet the window stays
// within the available part of its screen, here the offscreen 800 x 600 one.
void MainWindowTest::window_fits_its_screen_whatever_the_photo_data()
{
    QTest::addColumn<QSize>("photo");
    QTest::addColumn<QSize>("minimum"); // of the view, when the screen does not bound it
    QTest::newRow("3000 x 2000") << QSize(3000, 2000) << QSize();
    QTest::newRow("24 MP") << QSize(6000, 4000) << QSize();
    QTest::newRow("24 MP upright") << QSize(4000, 6000) << QSize();
    QTest::newRow("5 x 5") << QSize(5, 5) << QSize(1, 1);
    QTest::newRow("null") << QSize(0, 0) << QSize(0, 0);
}

void MainWindowTest::window_fits_its_screen_whatever_the_photo()
{
    QFETCH(QSize, photo);
    QFETCH(QSize, minimum);
    auto window = make_window();
    QImage image;
    if (!photo.isEmpty()) {
        image = QImage(photo, QImage::Format_RGB888);
        image.fill(Qt::black);
    }
    window->display_image(image);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(child<PixelPicker>(*window, "image_label")->pixmap(Qt::ReturnByValue).size(), photo);
    const QSize view = child<QScrollArea>(*window, "scrollArea")->minimumSize();
    if (minimum.isValid())
        QCOMPARE(view, minimum);
    else
        QVERIFY(view.width() >= 50 && view.height() >= 50);
    QVERIFY2(window->screen()->availableGeometry().contains(window->frameGeometry()),
             qPrintable(QString("%1 x %2")
                            .arg(window->frameGeometry().width())
                            .arg(window->frameGeometry().height())));
}

// On first start the window opens on the middle reference of a 24 MP rig.
void MainWindowTest::first_window_with_24_mp_references_fits_its_screen()
{
    QImage photo(6000, 4000, QImage::Format_RGB888);
    photo.fill(Qt::darkGray);
    const QString path = dir.filePath("ref_24mp.jpg");
    QVERIFY(photo.save(path, "JPG", 30));
    auto window = make_window({path});
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(child<PixelPicker>(*window, "image_label")->pixmap(Qt::ReturnByValue).size(),
             photo.size());
    QVERIFY(window->screen()->availableGeometry().contains(window->frameGeometry()));
}

void MainWindowTest::transparent_png_is_shown_without_alpha()
{
    QImage image(8, 6, QImage::Format_ARGB32);
    image.fill(qRgba(200, 100, 50, 0));
    const QString path = dir.filePath("transparent.png");
    QVERIFY(image.save(path));

    auto window = make_window();
    const QImage loaded = window->load_image(path);
    QCOMPARE(loaded.format(), QImage::Format_RGB888);
    QVERIFY(!loaded.hasAlphaChannel());
    QCOMPARE(loaded.size(), QSize(8, 6));
}

void MainWindowTest::unreadable_photo_is_reported_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing") << dir.filePath("missing photo é.jpg");

    // A JPEG whose copy stopped half-way would otherwise show up padded with grey.
    QImage noise(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb(x * 7 % 256, y * 13 % 256, (x * y) % 256));
    QByteArray bytes;
    QBuffer encoded(&bytes);
    QVERIFY(encoded.open(QIODevice::WriteOnly) && noise.save(&encoded, "JPG"));
    QFile cut(dir.filePath("cut short.jpg"));
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(bytes.left(bytes.size() * 6 / 10));
    QTest::newRow("cut short") << cut.fileName();

    // Whole, its header fine, but the decoder reports corrupt data.
    QByteArray zeroed = bytes;
    zeroed.replace(zeroed.size() / 2, 2048, QByteArray(2048, '\0'));
    QFile damaged(dir.filePath("damaged %1 photo.jpg"));
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write(zeroed);
    QTest::newRow("damaged, a %1 in its name") << damaged.fileName();
}

void MainWindowTest::unreadable_photo_is_reported()
{
    QFETCH(QString, path);
    const QString missing = path;
    // Right after the dialog the photo is named; "Non" goes on without it.
    auto window = make_window({missing}, {false});

    QCOMPARE(dialogs.requests.size(), 3);
    const ScriptedDialogs::Request& named = dialogs.requests[1];
    QCOMPARE(named.kind, QString("question"));
    QCOMPARE(named.caption, QString("Étalons illisibles"));
    QVERIFY2(named.text.contains("caméra 1 : " + missing), qPrintable(named.text));
    const ScriptedDialogs::Request& box = dialogs.requests.last();
    QCOMPARE(box.kind, QString("critical"));
    QCOMPARE(box.caption, QString("Erreur de fichier image"));
    QCOMPARE(box.text, "Impossible de lire le fichier '" + missing + "'");
    QCOMPARE(box.parent, nullptr);
    QVERIFY(child<PixelPicker>(*window, "image_label")->pixmap(Qt::ReturnByValue).isNull());
    // The workflow still goes on to the colour prompt.
    QCOMPARE(child<QLabel>(*window, "instruction_label")->text(),
             QString("Cliquez sur un pixel d'un des repères"));
}

void MainWindowTest::picker_reports_one_press_per_arming()
{
    PixelPicker picker;
    QSignalSpy clicks(&picker, &PixelPicker::clicked);
    press(&picker, {5, 5});
    QCOMPARE(clicks.size(), 0);

    picker.armed = true;
    press(&picker, {5, 6});
    press(&picker, {7, 8});
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks.first().at(1).toPoint(), QPoint(5, 6));
    QVERIFY(!picker.armed);
}

void MainWindowTest::picker_rounds_the_press_position()
{
    PixelPicker picker;
    picker.display_scale = 1.0f;
    picker.armed = true;
    QSignalSpy clicks(&picker, &PixelPicker::clicked);
    press(&picker, {10.5, 3.49});
    QCOMPARE(clicks.first().at(1).toPoint(), QPoint(11, 3));
}

void MainWindowTest::picker_counts_every_button_and_double_clicks()
{
    PixelPicker picker;
    QList<QPoint> reported;
    // A receiver that re-arms for the next click, as the workflow does.
    QObject::connect(&picker, &PixelPicker::clicked, [&](QPointF, QPoint pixel) {
        reported << pixel;
        picker.armed = true;
    });
    picker.armed = true;
    press(&picker, {1, 2}, Qt::RightButton);
    press(&picker, {3, 4}, Qt::MiddleButton);
    // A double click arrives as a press followed by a double-click event.
    press(&picker, {9, 9});
    QMouseEvent double_click(QEvent::MouseButtonDblClick, QPointF(9, 9), Qt::LeftButton,
                             Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&picker, &double_click);
    QCOMPARE(reported, QList<QPoint>({{1, 2}, {3, 4}, {9, 9}, {9, 9}}));
}

void MainWindowTest::click_lands_on_the_photo_pixel_in_a_large_window()
{
    // A small photo in a large window: the label is far larger than the picture.
    QImage photo(40, 30, QImage::Format_RGB888);
    photo.fill(Qt::black);
    photo.setPixel(12, 7, qRgb(255, 0, 0));
    const QString path = dir.filePath("small.png");
    QVERIFY(photo.save(path));

    auto window = make_window({path});
    window->resize(1200, 900);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto* picture = child<PixelPicker>(*window, "image_label");
    QVERIFY(picture->height() > 3 * photo.height());

    // Find where the red pixel really is on screen.
    const QImage rendered = picture->grab().toImage();
    QPoint red(-1, -1);
    for (int y = 0; y < rendered.height() && red.x() < 0; ++y)
        for (int x = 0; x < rendered.width(); ++x)
            if (rendered.pixel(x, y) == qRgb(255, 0, 0)) {
                red = QPoint(x, y);
                break;
            }
    QVERIFY(red.x() >= 0);

    QSignalSpy clicks(picture, &PixelPicker::clicked);
    StdoutCapture capture;
    press(picture, red);
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks.first().at(1).toPoint(), QPoint(12, 7));
}

void MainWindowTest::option_labels_follow_their_sliders_data()
{
    QTest::addColumn<QString>("slider");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("references");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("text");
    QTest::newRow("fps 1") << "slider_fps" << 1 << 0 << "label_fps"
                           << "1 FPS";
    QTest::newRow("fps 60") << "slider_fps" << 60 << 0 << "label_fps"
                            << "60 FPS";
    // With references, the label tells how long the video of one shot per camera lasts.
    QTest::newRow("fps 24, 5 cameras") << "slider_fps" << 24 << 5 << "label_fps"
                                       << "24 FPS — 0,21 s pour 5 images";
    QTest::newRow("fps 1, 1 camera") << "slider_fps" << 1 << 1 << "label_fps"
                                     << "1 FPS — 1,00 s pour 1 image";
    QTest::newRow("fps 60, 12 cameras") << "slider_fps" << 60 << 12 << "label_fps"
                                        << "60 FPS — 0,20 s pour 12 images";
    QTest::newRow("compression 0") << "slider_compression" << 0 << 0 << "label_compression"
                                   << "Compression : 0%";
    QTest::newRow("compression 100") << "slider_compression" << 100 << 3 << "label_compression"
                                     << "Compression : 100%";
}

void MainWindowTest::option_labels_follow_their_sliders()
{
    QFETCH(QString, slider);
    QFETCH(int, value);
    QFETCH(int, references);
    QFETCH(QString, label);
    QFETCH(QString, text);
    QStringList paths;
    for (int i = 0; i < references; ++i)
        paths << write_photo(dir, QString("cam%1.png").arg(i), 8, 6);
    auto window = make_window(paths);
    window->findChild<QSlider*>(slider)->setValue(value);
    QCOMPARE(window->findChild<QLabel*>(label)->text(), text);
}

// The label gives the video the run writes: its in-between frames, its pause
// on the first and last frames, and the plays that reach the length asked for.
void MainWindowTest::frame_rate_label_counts_in_between_frames_data()
{
    QTest::addColumn<int>("references");
    QTest::addColumn<int>("between");
    QTest::addColumn<double>("pause");
    QTest::addColumn<double>("at_least");
    QTest::addColumn<QString>("text");
    QTest::newRow("2 cameras, 1 between")
        << 2 << 1 << 0.0 << 0.0 << "10 FPS — 0,30 s pour 3 images dont 1 intermédiaire";
    QTest::newRow("2 cameras, 3 between")
        << 2 << 3 << 0.0 << 0.0 << "10 FPS — 0,50 s pour 5 images dont 3 intermédiaires";
    QTest::newRow("1 camera, 2 between") << 1 << 2 << 0.0 << 0.0 << "10 FPS — 0,10 s pour 1 image";
    QTest::newRow("pause of 1 s") << 2 << 1 << 1.0 << 0.0
                                  << "10 FPS — 2,30 s pour 23 images dont 1 intermédiaire";
    QTest::newRow("at least 1 s") << 2 << 1 << 0.0 << 1.0
                                  << "10 FPS — 1,20 s pour 12 images dont 4 intermédiaires";
}

void MainWindowTest::frame_rate_label_counts_in_between_frames()
{
    QFETCH(int, references);
    QFETCH(int, between);
    QFETCH(double, pause);
    QFETCH(double, at_least);
    QFETCH(QString, text);
    QStringList paths;
    for (int i = 0; i < references; ++i)
        paths << write_photo(dir, QString("cam%1.png").arg(i), 8, 6);
    auto window = make_window(paths);
    child<QSlider>(*window, "slider_fps")->setValue(10);
    child<QSpinBox>(*window, "spinBox_between")->setValue(between);
    child<QDoubleSpinBox>(*window, "spinBox_hold")->setValue(pause);
    child<QDoubleSpinBox>(*window, "spinBox_min_duration")->setValue(at_least);
    QCOMPARE(child<QLabel>(*window, "label_fps")->text(), text);
}

// Escape, or the window's close button, leaves a box of choices with no
// answer (-1), and only the buttons offered are shown.
void MainWindowTest::choice_box_closes_without_an_answer_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Escape") << true;
    QTest::newRow("closed") << false;
}

void MainWindowTest::choice_box_closes_without_an_answer()
{
    QFETCH(bool, escape);
    auto window = make_window();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QStringList offered = {"Corriger", "Ignorer", "Annuler"};
    QStringList shown;
    bool still_open = false;
    std::function<void()> answer = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(0, answer);
            return;
        }
        for (QAbstractButton* button : box->buttons())
            if (button->isVisible())
                shown << button->text();
        if (escape)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->close();
        // A box that stays open is answered by its last button, so the test ends.
        still_open = box->isVisible();
        if (still_open)
            box->buttons().last()->click();
    };
    QTimer::singleShot(0, answer);
    QtUserDialogs real;
    const int chosen = real.choice(window.get(), "Caméras déplacées", "Caméra 7", offered);
    QCOMPARE(shown, offered);
    QVERIFY(!still_open);
    QCOMPARE(chosen, -1);
}

void MainWindowTest::progress_window_stays_until_the_work_stops_data()
{
    QTest::addColumn<int>("done"); // of 4 images, when the user cancels
    QTest::addColumn<QString>("how");
    QTest::newRow("Annuler at 0 / 4") << 0 << "button";
    QTest::newRow("Annuler at 2 / 4") << 2 << "button";
    QTest::newRow("Escape at 0 / 4") << 0 << "escape";
    QTest::newRow("window closed at 2 / 4") << 2 << "close";
}

// The real progress window: cancelling asks the work to stop, and the window
// stays up and modal, so that nothing else can be clicked, until it is destroyed.
void MainWindowTest::progress_window_stays_until_the_work_stops()
{
    QFETCH(int, done);
    QFETCH(QString, how);
    auto window = make_window();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QtUserDialogs real;
    auto view = real.show_progress(window.get(), "Traitement d'images");
    view->set_progress(QString("Écriture des images : %1 / 4").arg(done), done, 4);
    auto* dialog = window->findChild<QProgressDialog*>();
    QVERIFY(dialog && dialog->isVisible());
    auto* button = dialog->findChild<QPushButton*>();
    QCOMPARE(button->text(), QString("Annuler"));
    QVERIFY(!view->cancelled());

    if (how == "button")
        QTest::mouseClick(button, Qt::LeftButton);
    else if (how == "escape")
        QTest::keyClick(dialog, Qt::Key_Escape);
    else
        dialog->close();
    QVERIFY(view->cancelled());
    // The work finishes the images in hand and keeps reporting meanwhile.
    for (int value : {done, done + 1}) {
        view->set_progress(QString("Écriture des images : %1 / 4").arg(value), value, 4);
        QCoreApplication::processEvents();
        QVERIFY(dialog->isVisible());
        QCOMPARE(QApplication::activeModalWidget(), dialog);
        QCOMPARE(dialog->labelText(), QString("Annulation ..."));
        QVERIFY(!button->isEnabled());
        QVERIFY(view->cancelled());
    }
    view.reset();
    QVERIFY(!window->findChild<QProgressDialog*>());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void MainWindowTest::delivery_options_survive_a_restart()
{
    QSettings settings(dir.filePath("delivery.ini"), QSettings::IniFormat);
    const QString logo = dir.filePath("logo.png");
    {
        auto window = make_window({}, {}, &settings);
        dialogs.file_answers.enqueue({logo});
        child<QPushButton>(*window, "button_overlay")->click();
        auto* position = child<QComboBox>(*window, "comboBox_overlay_position");
        position->setCurrentIndex(position->findData("full"));
        child<QSpinBox>(*window, "spinBox_overlay_size")->setValue(35);
        child<QSpinBox>(*window, "spinBox_overlay_margin")->setValue(0);
        auto* aspect = child<QComboBox>(*window, "comboBox_aspect");
        aspect->setCurrentIndex(aspect->findData("9:16"));
        child<QDoubleSpinBox>(*window, "spinBox_min_duration")->setValue(3);
        child<QDoubleSpinBox>(*window, "spinBox_hold")->setValue(0.5);
        child<QCheckBox>(*window, "checkBox_still")->setChecked(true);
    }
    auto window = make_window({}, {}, &settings);
    QCOMPARE(child<QLineEdit>(*window, "lineEdit_overlay")->text(), logo);
    QCOMPARE(child<QComboBox>(*window, "comboBox_overlay_position")->currentText(),
             QString("Plein cadre"));
    QCOMPARE(child<QSpinBox>(*window, "spinBox_overlay_size")->value(), 35);
    QCOMPARE(child<QSpinBox>(*window, "spinBox_overlay_margin")->value(), 0);
    QCOMPARE(child<QComboBox>(*window, "comboBox_aspect")->currentText(), QString("9:16"));
    QCOMPARE(child<QDoubleSpinBox>(*window, "spinBox_min_duration")->value(), 3.0);
    QCOMPARE(child<QDoubleSpinBox>(*window, "spinBox_hold")->value(), 0.5);
    QVERIFY(child<QCheckBox>(*window, "checkBox_still")->isChecked());
    // "Retirer" takes the overlay away, and that is kept too.
    child<QPushButton>(*window, "button_overlay_clear")->click();
    window = make_window({}, {}, &settings);
    QCOMPARE(child<QLineEdit>(*window, "lineEdit_overlay")->text(), QString());
}

void MainWindowTest::option_values_survive_a_restart()
{
    QStringList paths;
    for (int i = 0; i < 5; ++i)
        paths << write_photo(dir, QString("cam%1.png").arg(i), 8, 6, Qt::yellow);
    QSettings settings(dir.filePath("options.ini"), QSettings::IniFormat);
    {
        auto window = make_window({}, {}, &settings);
        child<QSlider>(*window, "slider_compression")->setValue(12);
        child<QSlider>(*window, "slider_fps")->setValue(10);
        child<QCheckBox>(*window, "checkBox_boomerang")->setChecked(true);
        child<QRadioButton>(*window, "button_pink")->click();
        child<QComboBox>(*window, "comboBox_video_size")->setCurrentIndex(2);
        child<QCheckBox>(*window, "checkBox_gif")->setChecked(true);
        child<QCheckBox>(*window, "checkBox_colour_match")->setChecked(false);
        child<QSpinBox>(*window, "spinBox_between")->setValue(2);
    }
    auto window = make_window(paths, {}, &settings);
    QCOMPARE(child<QSlider>(*window, "slider_compression")->value(), 12);
    QCOMPARE(child<QLabel>(*window, "label_compression")->text(), QString("Compression : 12%"));
    QCOMPARE(child<QSlider>(*window, "slider_fps")->value(), 10);
    // The in-between frames count in the video's length.
    QCOMPARE(child<QSpinBox>(*window, "spinBox_between")->value(), 2);
    QCOMPARE(child<QLabel>(*window, "label_fps")->text(),
             QString("10 FPS — 1,30 s pour 13 images dont 8 intermédiaires"));
    QVERIFY(child<QCheckBox>(*window, "checkBox_boomerang")->isChecked());
    QVERIFY(child<QRadioButton>(*window, "button_pink")->isChecked());
    QCOMPARE(child<QComboBox>(*window, "comboBox_video_size")->currentText(), QString("1920 px"));
    QVERIFY(child<QCheckBox>(*window, "checkBox_gif")->isChecked());
    QVERIFY(!child<QCheckBox>(*window, "checkBox_colour_match")->isChecked());

    // The remembered colour is the one a colour click beside the photo uses:
    // yellow photos give no pink sticker trio.
    StdoutCapture quiet;
    emit child<PixelPicker>(*window, "image_label")->clicked(QPointF(5000, 3), QPoint(5000, 3));
    QCOMPARE(dialogs.requests.last().caption, QString("Couleur des repères"));
    QVERIFY(dialogs.requests.last().text.contains("« Rose »"));

    // Without settings, a window starts from the defaults.
    window = make_window();
    QCOMPARE(child<QSlider>(*window, "slider_fps")->value(), 24);
    QVERIFY(child<QRadioButton>(*window, "button_yellow")->isChecked());
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
