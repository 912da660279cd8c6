#include "calibration/calibration_file.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <functional>
#include <limits>
#include <sys/resource.h>

using Damage = std::function<void(QJsonObject&)>;
Q_DECLARE_METATYPE(Damage)

namespace {

// Three cameras, one of each alignment method, with numbers that only read back
// exactly when every digit is written.
RigCalibration sample_rig()
{
    RigCalibration rig;
    rig.sticker_color = StickerColor::Pink;
    rig.reference_stickers = {{{2000.25, 1000.5}, {2001.0 / 3.0, 1500.0}, {1999.75, 2000.125}}};

    CameraCalibration automatic;
    automatic.reference_photo = QStringLiteral("/photos/étalons/cam 0.jpg");
    automatic.reference_size = {6000, 4000};
    automatic.method = AlignmentMethod::Automatic;
    automatic.transform = {0.1, -12.345678901234567, -180.00000020567998, 1.0 / 3.0, true};
    automatic.stickers = {{{10.5, 20.25}, {11.0, 1e-300}, {12.125, 1e6}}};

    CameraCalibration manual = automatic;
    manual.reference_photo = QStringLiteral("cam1.png");
    manual.reference_size = {4000, 6000};
    manual.method = AlignmentMethod::Manual;
    manual.transform = {-3.0, 4.0, 358.00000040907463, 2.5e-3, true};
    manual.sticker_uncertainty = {0.1, 1.0 / 3.0, 3.0};

    CameraCalibration unreadable;
    unreadable.reference_photo = QStringLiteral("cam2.jpg");

    rig.cameras = {automatic, manual, unreadable};
    return rig;
}

QJsonObject sample_json()
{
    return QJsonDocument::fromJson(calibration_json(sample_rig())).object();
}

QJsonObject camera(QJsonObject& root, int index)
{
    return root[QStringLiteral("cameras")].toArray()[index].toObject();
}

void set_camera(QJsonObject& root, int index, const QJsonObject& entry)
{
    QJsonArray cameras = root[QStringLiteral("cameras")].toArray();
    cameras[index] = entry;
    root[QStringLiteral("cameras")] = cameras;
}

// Damage that sets (or, with an undefined value, removes) one field of camera 1
// (the second, "caméra 2" to the user).
Damage camera_field(const QString& key, const QJsonValue& value)
{
    return [key, value](QJsonObject& root) {
        QJsonObject entry = camera(root, 1);
        if (value.isUndefined())
            entry.remove(key);
        else
            entry[key] = value;
        set_camera(root, 1, entry);
    };
}

Damage root_field(const QString& key, const QJsonValue& value)
{
    return [key, value](QJsonObject& root) {
        if (value.isUndefined())
            root.remove(key);
        else
            root[key] = value;
    };
}

QString write_file(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return {};
    return path;
}

QByteArray file_content(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void compare_points(const std::array<cv::Point2d, 3>& actual,
                    const std::array<cv::Point2d, 3>& expected)
{
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(actual[i].x, expected[i].x);
        QCOMPARE(actual[i].y, expected[i].y);
    }
}

void compare_rigs(const RigCalibration& actual, const RigCalibration& expected)
{
    QCOMPARE(actual.sticker_color, expected.sticker_color);
    QCOMPARE(actual.learned_colour.has_value(), expected.learned_colour.has_value());
    if (expected.learned_colour)
        QVERIFY(*actual.learned_colour == *expected.learned_colour);
    compare_points(actual.reference_stickers, expected.reference_stickers);
    QCOMPARE(actual.camera_count(), expected.camera_count());
    for (int i = 0; i < expected.camera_count(); ++i) {
        const CameraCalibration& a = actual.cameras[i];
        const CameraCalibration& e = expected.cameras[i];
        QCOMPARE(a.reference_photo, e.reference_photo);
        QCOMPARE(a.reference_size, e.reference_size);
        QCOMPARE(a.method, e.method);
        QCOMPARE(a.transform.translation_x, e.transform.translation_x);
        QCOMPARE(a.transform.translation_y, e.transform.translation_y);
        QCOMPARE(a.transform.rotation_deg, e.transform.rotation_deg);
        QCOMPARE(a.transform.scale, e.transform.scale);
        QCOMPARE(a.transform.aligned, e.transform.aligned);
        compare_points(a.stickers, e.stickers);
        QCOMPARE(a.sticker_uncertainty, e.sticker_uncertainty);
    }
}

} // namespace

class CalibrationFileTest : public QObject
{
    Q_OBJECT

private slots:
    void round_trip_keeps_every_field();
    void the_learned_colour_is_kept();
    void the_check_data_is_kept();
    void calibration_gives_the_output_record();
    void damaged_file_is_refused_data();
    void damaged_file_is_refused();
    void failing_write_leaves_the_previous_file();
    void missing_folder_is_named();
};

void CalibrationFileTest::round_trip_keeps_every_field()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("rig.qvcal"));
    const RigCalibration rig = sample_rig();

    QCOMPARE(write_calibration_file(path, rig), QString());
    const CalibrationRead read = read_calibration_file(path);
    QVERIFY2(read.ok(), qPrintable(read.error));
    compare_rigs(read.calibration, rig);

    // Written again, the file is the same to the byte: nothing drifts.
    QCOMPARE(calibration_json(read.calibration), file_content(path));
    // No temporary file is left beside it.
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("rig.qvcal")});
}

// A file without a learned colour (as earlier versions wrote) opens without
// one; one with it reopens with the very same colour.
void CalibrationFileTest::the_learned_colour_is_kept()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("rig.qvcal"));
    RigCalibration rig = sample_rig();
    QCOMPARE(write_calibration_file(path, rig), QString());
    QVERIFY(!file_content(path).contains("learned_colour"));
    QVERIFY(!read_calibration_file(path).calibration.learned_colour);

    rig.learned_colour = LearnedColour{128.0, 76.0, 14.5, 1.0 / 3.0};
    QCOMPARE(write_calibration_file(path, rig), QString());
    const CalibrationRead read = read_calibration_file(path);
    QVERIFY2(read.ok(), qPrintable(read.error));
    compare_rigs(read.calibration, rig);
    QCOMPARE(calibration_json(read.calibration), file_content(path));
}

// What the check of a moved camera keeps of a reference reads back exactly; a
// file without it (as earlier versions wrote) opens with no check.
void CalibrationFileTest::the_check_data_is_kept()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("rig.qvcal"));
    RigCalibration rig = sample_rig();
    QCOMPARE(write_calibration_file(path, rig), QString());
    QVERIFY(!file_content(path).contains("drift_reference"));
    for (const CameraCalibration& camera : read_calibration_file(path).calibration.cameras)
        QVERIFY(camera.drift.empty());

    DriftReference& drift = rig.cameras[1].drift;
    drift.points = {{0.25f, 3999.5f}, {-1.0f / 3.0f, 12.0f}, {5999.0f, 0.0f}};
    drift.descriptors.create(3, 32, CV_8U);
    cv::randu(drift.descriptors, 0, 256);
    QCOMPARE(write_calibration_file(path, rig), QString());
    const CalibrationRead read = read_calibration_file(path);
    QVERIFY2(read.ok(), qPrintable(read.error));
    compare_rigs(read.calibration, rig);
    const DriftReference& back = read.calibration.cameras[1].drift;
    QCOMPARE(back.points, drift.points);
    QCOMPARE(cv::norm(back.descriptors, drift.descriptors, cv::NORM_L1), 0.0);
    QVERIFY(read.calibration.cameras[0].drift.empty());
    QVERIFY(back.patch_centres.empty());
    QCOMPARE(calibration_json(read.calibration), file_content(path));

    // The patches read back as well, beside the features.
    drift.patch_centres = {{10.5f, 20.25f}, {5990.0f, 3990.0f}};
    drift.patches.create(2, drift_patch_side * drift_patch_side, CV_8U);
    cv::randu(drift.patches, 0, 256);
    drift.patch_scale = 3.75;
    QCOMPARE(write_calibration_file(path, rig), QString());
    const CalibrationRead patched = read_calibration_file(path);
    QVERIFY2(patched.ok(), qPrintable(patched.error));
    const DriftReference& patches = patched.calibration.cameras[1].drift;
    QCOMPARE(patches.points, drift.points);
    QCOMPARE(patches.patch_centres, drift.patch_centres);
    QCOMPARE(cv::norm(patches.patches, drift.patches, cv::NORM_L1), 0.0);
    QCOMPARE(patches.patch_scale, 3.75);
    QCOMPARE(calibration_json(patched.calibration), file_content(path));
}

void CalibrationFileTest::calibration_gives_the_output_record()
{
    RigCalibration rig = sample_rig();
    // A stale transform on a camera that is not aligned never reaches the output.
    rig.cameras[2].transform = {5, 5, 5, 5, true};
    const Calibration calibration = rig.calibration();

    QCOMPARE(calibration.image_count, 3);
    QCOMPARE(calibration.aligned, (std::vector<bool>{true, true, false}));
    QCOMPARE(calibration.translation_y[0], -12.345678901234567);
    QCOMPARE(calibration.scale[1], 2.5e-3);
    QCOMPARE(calibration.scale[2], 0.0);
    QCOMPARE(calibration.rotation_deg[2], 0.0);
    QVERIFY(rig.reference().selected);
    compare_points(rig.reference().points, rig.reference_stickers);
}

void CalibrationFileTest::damaged_file_is_refused_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");

    const QByteArray valid = calibration_json(sample_rig());
    const auto damaged = [](const Damage& damage) {
        QJsonObject root = sample_json();
        damage(root);
        return QJsonDocument(root).toJson();
    };
    const QJsonValue removed(QJsonValue::Undefined);

    // In French whether or not a translator is installed (the command line has none).
    QTest::newRow("empty") << QByteArray() << "le fichier est vide";
    QTest::newRow("blank") << QByteArray(" \n\t\n") << "le fichier est vide";
    QTest::newRow("cut short") << valid.left(valid.size() / 2)
                               << "son contenu est abîmé ou incomplet (la chaîne n'est pas "
                                  "terminée, caractère";
    QTest::newRow("not JSON") << QByteArray("\x89PNG\r\n\x1a\n")
                              << "abîmé ou incomplet (une valeur n'est pas valable, caractère 1)";
    QTest::newRow("NaN written as text")
        << QByteArray(valid).replace("0.0025", "NaN") << "abîmé ou incomplet";
    QTest::newRow("a list, not a record") << QByteArray("[1, 2]") << "pas un fichier de calibrage";
    QTest::newRow("another program's JSON")
        << damaged(root_field("format", "something else")) << "pas un fichier de calibrage";
    QTest::newRow("newer version")
        << damaged(root_field("version", 2)) << "version plus récente du programme (format 2";
    QTest::newRow("version zero") << damaged(root_field("version", 0)) << "format 0 est inconnu";
    QTest::newRow("version missing")
        << damaged(root_field("version", removed)) << "il manque le champ « version »";
    QTest::newRow("unknown colour")
        << damaged(root_field("sticker_color", "green")) << "« green » est inconnue";
    QTest::newRow("two reference stickers")
        << damaged(root_field("reference_stickers", QJsonArray{QJsonArray{1, 2}, QJsonArray{3, 4}}))
        << "doit compter trois points, pas 2";
    QTest::newRow("reference sticker without y")
        << damaged(root_field("reference_stickers",
                              QJsonArray{QJsonArray{1, 2}, QJsonArray{3}, QJsonArray{5, 6}}))
        << "le point 1 de « reference_stickers »";
    QTest::newRow("fewer entries than cameras")
        << damaged(root_field("camera_count", 4)) << "annonce 4 caméra(s) et en décrit 3";
    QTest::newRow("no camera") << damaged([](QJsonObject& root) {
        root["camera_count"] = 0;
        root["cameras"] = QJsonArray();
    }) << "il ne décrit aucune caméra";
    QTest::newRow("camera not a record")
        << damaged(root_field("cameras", QJsonArray{1, 2, 3})) << "la caméra 1 n'est pas décrite";
    QTest::newRow("missing translation") << damaged(camera_field("translation_y", removed))
                                         << "il manque le champ « translation_y » de la caméra 2";
    QTest::newRow("missing stickers")
        << damaged(camera_field("stickers", removed)) << "« stickers » de la caméra 2";
    QTest::newRow("missing size of an aligned camera")
        << damaged(camera_field("width", removed)) << "« width » de la caméra 2";
    QTest::newRow("null scale (how Qt writes NaN)")
        << damaged(camera_field("scale", QJsonValue::Null))
        << "« scale » de la caméra 2 n'est pas un nombre";
    // Qt's parser refuses a number beyond the range of a double.
    QTest::newRow("infinite rotation")
        << QByteArray(valid).replace("358.00000040907463", "1e999") << "abîmé ou incomplet";
    QTest::newRow("negative scale")
        << damaged(camera_field("scale", -1.5)) << "l'échelle de la caméra 2 est négative ou nulle";
    QTest::newRow("zero scale") << damaged(camera_field("scale", 0)) << "négative ou nulle";
    QTest::newRow("scale as text") << damaged(camera_field("scale", "2")) << "pas un nombre";
    QTest::newRow("fractional width")
        << damaged(camera_field("width", 4000.5)) << "pas une taille en pixels";
    QTest::newRow("negative height")
        << damaged(camera_field("height", -6000)) << "pas une taille en pixels";
    QTest::newRow("unknown alignment")
        << damaged(camera_field("alignment", "magic")) << "l'alignement « magic »";
    QTest::newRow("learned colour not an object")
        << damaged(root_field("learned_colour", 52)) << "« learned_colour » du calibrage";
    QTest::newRow("learned colour without chroma")
        << damaged(root_field("learned_colour", QJsonObject{{"hue", 52}, {"hue_tolerance", 14},
                                                            {"chroma_tolerance", 30}}))
        << "il manque le champ « chroma » de la couleur apprise";
    QTest::newRow("learned hue out of range")
        << damaged(root_field("learned_colour", QJsonObject{{"hue", 400}, {"chroma", 80},
                                                            {"hue_tolerance", 14},
                                                            {"chroma_tolerance", 30}}))
        << "la couleur apprise est hors des bornes";
    QTest::newRow("two sticker uncertainties")
        << damaged(camera_field("sticker_uncertainty", QJsonArray{0.5, 0.5}))
        << "« sticker_uncertainty » de la caméra 2 doit compter trois nombres";
    QTest::newRow("negative sticker uncertainty")
        << damaged(camera_field("sticker_uncertainty", QJsonArray{0.5, -0.5, 0.5}))
        << "« sticker_uncertainty » de la caméra 2 ne peut être négative";
    QTest::newRow("sticker uncertainty as text")
        << damaged(camera_field("sticker_uncertainty", QJsonArray{0.5, "1", 0.5}))
        << "« sticker_uncertainty » de la caméra 2 n'est pas un nombre";
    const auto check_data = [](const QString& points, const QString& descriptors) {
        return QJsonObject{{QStringLiteral("points"), points},
                           {QStringLiteral("descriptors"), descriptors}};
    };
    const QString one_point = QString::fromLatin1(QByteArray(8, '\0').toBase64());
    const QString one_descriptor = QString::fromLatin1(QByteArray(32, 'a').toBase64());
    QTest::newRow("check data not a record")
        << damaged(camera_field("drift_reference", 3)) << "« drift_reference » de la caméra 2";
    QTest::newRow("check points not base64")
        << damaged(camera_field("drift_reference", check_data("@@@@", one_descriptor)))
        << "pas en base64";
    QTest::newRow("check points far too many")
        << damaged(camera_field(
               "drift_reference",
               check_data(QString::fromLatin1(QByteArray(8 * 100000, '\0').toBase64()),
                          one_descriptor)))
        << "« points » de la caméra 2 est trop long";
    QTest::newRow("check descriptors for another count")
        << damaged(camera_field("drift_reference", check_data(one_point, QString::fromLatin1(
                                                                         QByteArray(64, 'a')
                                                                             .toBase64()))))
        << "incohérents";
    QTest::newRow("check descriptors missing")
        << damaged(camera_field("drift_reference",
                                QJsonObject{{QStringLiteral("points"), one_point}}))
        << "il manque le champ « descriptors »";
    const auto with_patches = [&](const QJsonValue& patches) {
        QJsonObject object = check_data(one_point, one_descriptor);
        object.insert(QStringLiteral("patches"), patches);
        return object;
    };
    const QString one_patch = QString::fromLatin1(
        QByteArray(drift_patch_side * drift_patch_side, 'a').toBase64());
    QTest::newRow("check patches not a record")
        << damaged(camera_field("drift_reference", with_patches(3)))
        << "« patches » de la caméra 2 n'est pas décrit";
    QTest::newRow("check patches for another count")
        << damaged(camera_field("drift_reference",
                                with_patches(QJsonObject{{QStringLiteral("centres"), one_point},
                                                         {QStringLiteral("pixels"), one_descriptor},
                                                         {QStringLiteral("scale"), 2.0}})))
        << "incohérentes";
    QTest::newRow("check patches without a scale")
        << damaged(camera_field("drift_reference",
                                with_patches(QJsonObject{{QStringLiteral("centres"), one_point},
                                                         {QStringLiteral("pixels"), one_patch},
                                                         {QStringLiteral("scale"), -1.0}})))
        << "incohérentes";
    QTest::newRow("photo name missing")
        << damaged(camera_field("reference_photo", removed)) << "« reference_photo »";
}

void CalibrationFileTest::damaged_file_is_refused()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);

    QTemporaryDir folder;
    const QString path = write_file(folder.filePath(QStringLiteral("rig.qvcal")), content);
    QVERIFY(!path.isEmpty());

    const CalibrationRead read = read_calibration_file(path);
    QVERIFY(!read.ok());
    QVERIFY2(read.error.startsWith(
                 QStringLiteral("Le calibrage '%1' ne peut pas être ouvert : ").arg(path)),
             qPrintable(read.error));
    QVERIFY2(read.error.contains(reason), qPrintable(read.error));
    QVERIFY(read.calibration.cameras.empty());
}

void CalibrationFileTest::failing_write_leaves_the_previous_file()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("rig.qvcal"));
    QCOMPARE(write_calibration_file(path, sample_rig()), QString());
    const QByteArray previous = file_content(path);

    // A rig whose file outgrows the file-size limit: the write fails part-way,
    // as it would on a full card.
    RigCalibration large = sample_rig();
    large.cameras.resize(2000, large.cameras[0]);
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto saved_signal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString error = write_calibration_file(path, large);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, saved_signal);

    QVERIFY2(
        error.startsWith(QStringLiteral("Impossible d'enregistrer le calibrage '%1' : ").arg(path)),
        qPrintable(error));
    // The system's reason, not Qt's "Unknown error".
    QVERIFY2(error.contains(QString::fromLocal8Bit(std::strerror(EFBIG))), qPrintable(error));
    QCOMPARE(file_content(path), previous);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("rig.qvcal")});
}

void CalibrationFileTest::missing_folder_is_named()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("gone/rig.qvcal"));
    QVERIFY(write_calibration_file(path, sample_rig()).contains(path));
    const CalibrationRead read = read_calibration_file(path);
    QVERIFY(!read.ok());
    QVERIFY(read.error.contains(path));
}

QTEST_GUILESS_MAIN(CalibrationFileTest)
#include "calibration_file_test.moc"
