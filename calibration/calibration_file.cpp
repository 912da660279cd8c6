#include "calibration/calibration_file.h"

#include "support/atomic_file.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <optional>

namespace {

const QString format_name = QStringLiteral("quorvane-calibration");
// Larger than any photo a camera makes; keeps the sizes within int.
constexpr double largest_side = 1 << 20;

QString method_name(AlignmentMethod method)
{
    switch (method) {
    case AlignmentMethod::Automatic:
        return QStringLiteral("automatic");
    case AlignmentMethod::Manual:
        return QStringLiteral("manual");
    case AlignmentMethod::NotAligned:
        break;
    }
    return QStringLiteral("none");
}

QString color_name(StickerColor color)
{
    return color == StickerColor::Pink ? QStringLiteral("pink") : QStringLiteral("yellow");
}

QJsonArray point_json(const cv::Point2d& p)
{
    return QJsonArray{p.x, p.y};
}

QJsonArray points_json(const std::array<cv::Point2d, 3>& points)
{
    return QJsonArray{point_json(points[0]), point_json(points[1]), point_json(points[2])};
}

// Reads fields out of JSON values; the first fault found is kept, in French, and
// every later read is skipped, so that a parse reads as straight-line code.
class Reader
{
public:
    bool failed() const { return !error.isEmpty(); }
    const QString& fault() const { return error; }

    void fail(const QString& reason)
    {
        if (!failed())
            error = reason;
    }

    QJsonValue field(const QJsonObject& object, const QString& key, const QString& where)
    {
        if (failed())
            return {};
        const auto found = object.find(key);
        if (found == object.end()) {
            fail(QStringLiteral("il manque le champ « %1 » %2").arg(key, where));
            return {};
        }
        return *found;
    }

    double number(const QJsonObject& object, const QString& key, const QString& where)
    {
        return number(field(object, key, where), QStringLiteral("« %1 » %2").arg(key, where));
    }

    double number(const QJsonValue& value, const QString& what)
    {
        if (failed())
            return 0.0;
        if (!value.isDouble()) {
            fail(QStringLiteral("%1 n'est pas un nombre").arg(what));
            return 0.0;
        }
        const double x = value.toDouble();
        if (!std::isfinite(x))
            fail(QStringLiteral("%1 n'est pas un nombre fini").arg(what));
        return x;
    }

    QString text(const QJsonObject& object, const QString& key, const QString& where)
    {
        const QJsonValue value = field(object, key, where);
        if (failed())
            return {};
        if (!value.isString())
            fail(QStringLiteral("« %1 » %2 n'est pas un texte").arg(key, where));
        return value.toString();
    }

    QJsonArray array(const QJsonObject& object, const QString& key, const QString& where)
    {
        const QJsonValue value = field(object, key, where);
        if (failed())
            return {};
        if (!value.isArray())
            fail(QStringLiteral("« %1 » %2 n'est pas une liste").arg(key, where));
        return value.toArray();
    }

    int side(const QJsonObject& object, const QString& key, const QString& where)
    {
        const double x = number(object, key, where);
        if (failed())
            return 0;
        if (!(x >= 1.0 && x <= largest_side && x == std::floor(x))) {
            fail(QStringLiteral("« %1 » %2 n'est pas une taille en pixels").arg(key, where));
            return 0;
        }
        return static_cast<int>(x);
    }

    std::array<cv::Point2d, 3> points(const QJsonObject& object, const QString& key,
                                      const QString& where)
    {
        const QJsonArray list = array(object, key, where);
        std::array<cv::Point2d, 3> result{};
        if (failed())
            return result;
        if (list.size() != 3) {
            fail(QStringLiteral("« %1 » %2 doit compter trois points, pas %3")
                     .arg(key, where)
                     .arg(list.size()));
            return result;
        }
        for (int i = 0; i < 3; ++i) {
            const QJsonArray point = list[i].toArray();
            const QString what = QStringLiteral("le point %1 de « %2 » %3").arg(i).arg(key, where);
            if (point.size() != 2) {
                fail(QStringLiteral("%1 n'est pas un couple x, y").arg(what));
                return result;
            }
            result[i] = {number(point[0], what), number(point[1], what)};
        }
        return result;
    }

private:
    QString error;
};

// The base64 text of at most `largest` bytes, checked for its length before it
// is decoded.
QByteArray base64_field(Reader& reader, const QJsonObject& object, const QString& key,
                        const QString& where, int largest)
{
    const QString text = reader.text(object, key, where);
    if (reader.failed())
        return {};
    if (text.size() > (largest + 2) / 3 * 4) {
        reader.fail(QStringLiteral("« %1 » %2 est trop long").arg(key, where));
        return {};
    }
    const auto decoded =
        QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        reader.fail(QStringLiteral("« %1 » %2 n'est pas en base64").arg(key, where));
        return {};
    }
    return *decoded;
}

DriftReference read_drift_reference(Reader& reader, const QJsonValue& value, const QString& where)
{
    if (!value.isObject()) {
        reader.fail(QStringLiteral("« drift_reference » %1 n'est pas décrit").arg(where));
        return {};
    }
    const QJsonObject object = value.toObject();
    const QByteArray points = base64_field(reader, object, QStringLiteral("points"), where,
                                           drift_reference_features * 8);
    const QByteArray descriptors = base64_field(reader, object, QStringLiteral("descriptors"),
                                                where, drift_reference_features * 32);
    if (reader.failed())
        return {};
    std::optional<DriftReference> reference = drift_reference_from_bytes(points, descriptors);
    if (!reference) {
        reader.fail(QStringLiteral("les repères de vérification %1 sont incohérents").arg(where));
        return {};
    }
    // Files written before the patches were kept have none: their check keeps
    // the features' precision.
    if (object.contains(QStringLiteral("patches"))) {
        const QJsonValue patches = object.value(QStringLiteral("patches"));
        if (!patches.isObject()) {
            reader.fail(QStringLiteral("« patches » %1 n'est pas décrit").arg(where));
            return {};
        }
        const QJsonObject fields = patches.toObject();
        const QByteArray centres = base64_field(reader, fields, QStringLiteral("centres"), where,
                                                drift_reference_patches * 8);
        const QByteArray pixels =
            base64_field(reader, fields, QStringLiteral("pixels"), where,
                         drift_reference_patches * drift_patch_side * drift_patch_side);
        const double scale = reader.number(fields, QStringLiteral("scale"), where);
        if (reader.failed())
            return {};
        if (!set_drift_patches(*reference, centres, pixels, scale)) {
            reader.fail(
                QStringLiteral("les vignettes de vérification %1 sont incohérentes").arg(where));
            return {};
        }
    }
    return *reference;
}

std::optional<AlignmentMethod> method_from(const QString& name)
{
    for (AlignmentMethod method :
         {AlignmentMethod::NotAligned, AlignmentMethod::Automatic, AlignmentMethod::Manual}) {
        if (name == method_name(method))
            return method;
    }
    return std::nullopt;
}

CameraCalibration read_camera(Reader& reader, const QJsonObject& object, int index)
{
    const QString where = QStringLiteral("de la caméra %1").arg(index + 1);
    CameraCalibration camera;
    camera.reference_photo = reader.text(object, QStringLiteral("reference_photo"), where);
    const QString method = reader.text(object, QStringLiteral("alignment"), where);
    if (reader.failed())
        return camera;
    const std::optional<AlignmentMethod> known = method_from(method);
    if (!known) {
        reader.fail(QStringLiteral("l'alignement « %1 » %2 est inconnu").arg(method, where));
        return camera;
    }
    camera.method = *known;

    // A photo that could not be read has no size; an aligned one always has.
    if (camera.method != AlignmentMethod::NotAligned || object.contains(QStringLiteral("width")) ||
        object.contains(QStringLiteral("height"))) {
        camera.reference_size = {reader.side(object, QStringLiteral("width"), where),
                                 reader.side(object, QStringLiteral("height"), where)};
    }
    if (camera.method == AlignmentMethod::NotAligned)
        return camera;

    ImageAlignment& transform = camera.transform;
    transform.translation_x = reader.number(object, QStringLiteral("translation_x"), where);
    transform.translation_y = reader.number(object, QStringLiteral("translation_y"), where);
    transform.rotation_deg = reader.number(object, QStringLiteral("rotation_deg"), where);
    transform.scale = reader.number(object, QStringLiteral("scale"), where);
    transform.aligned = true;
    if (!reader.failed() && !(transform.scale > 0.0))
        reader.fail(QStringLiteral("l'échelle %1 est négative ou nulle").arg(where));
    camera.stickers = reader.points(object, QStringLiteral("stickers"), where);
    // Optional: only cameras aligned by hand have it, and older files never.
    if (object.contains(QStringLiteral("sticker_uncertainty"))) {
        const QJsonArray values = object.value(QStringLiteral("sticker_uncertainty")).toArray();
        const QString what = QStringLiteral("« sticker_uncertainty » %1").arg(where);
        if (values.size() != 3)
            reader.fail(QStringLiteral("%1 doit compter trois nombres").arg(what));
        for (int i = 0; i < values.size() && i < 3 && !reader.failed(); ++i) {
            const double value = reader.number(values[i], what);
            if (!reader.failed() && !(value >= 0.0 && std::isfinite(value)))
                reader.fail(QStringLiteral("%1 ne peut être négative").arg(what));
            camera.sticker_uncertainty[i] = value;
        }
    }
    // Optional: files written before the check have none, and simply go unchecked.
    if (!reader.failed() && object.contains(QStringLiteral("drift_reference")))
        camera.drift = read_drift_reference(reader, object.value(QStringLiteral("drift_reference")),
                                            where);
    return camera;
}

RigCalibration read_rig(Reader& reader, const QJsonObject& root)
{
    const QString where = QStringLiteral("du calibrage");
    RigCalibration rig;
    if (reader.text(root, QStringLiteral("format"), where) != format_name) {
        reader.fail(QStringLiteral("ce n'est pas un fichier de calibrage"));
        return rig;
    }
    const double version = reader.number(root, QStringLiteral("version"), where);
    if (reader.failed())
        return rig;
    if (version != calibration_file_version) {
        reader.fail(version > calibration_file_version
                        ? QStringLiteral("il a été écrit par une version plus récente du "
                                         "programme (format %1, ce programme lit le format %2)")
                              .arg(version)
                              .arg(calibration_file_version)
                        : QStringLiteral("son format %1 est inconnu").arg(version));
        return rig;
    }

    const QString color = reader.text(root, QStringLiteral("sticker_color"), where);
    if (color == color_name(StickerColor::Pink))
        rig.sticker_color = StickerColor::Pink;
    else if (color != color_name(StickerColor::Yellow))
        reader.fail(QStringLiteral("la couleur des stickers « %1 » est inconnue").arg(color));
    // Optional: files written before colours were learned have none.
    if (root.contains(QStringLiteral("learned_colour"))) {
        const QJsonValue value = root.value(QStringLiteral("learned_colour"));
        const QString what = QStringLiteral("de la couleur apprise");
        if (!value.isObject()) {
            reader.fail(QStringLiteral("« learned_colour » %1 n'est pas décrite").arg(where));
        } else {
            const QJsonObject object = value.toObject();
            LearnedColour colour;
            colour.hue = reader.number(object, QStringLiteral("hue"), what);
            colour.chroma = reader.number(object, QStringLiteral("chroma"), what);
            colour.hue_tolerance = reader.number(object, QStringLiteral("hue_tolerance"), what);
            colour.chroma_tolerance =
                reader.number(object, QStringLiteral("chroma_tolerance"), what);
            if (!reader.failed() &&
                !(colour.hue >= 0.0 && colour.hue < 360.0 && colour.chroma > 0.0 &&
                  colour.chroma <= 100.0 && colour.hue_tolerance > 0.0 &&
                  colour.chroma_tolerance > 0.0))
                reader.fail(QStringLiteral("la couleur apprise est hors des bornes"));
            rig.learned_colour = colour;
        }
    }
    rig.reference_stickers = reader.points(root, QStringLiteral("reference_stickers"), where);

    const double count = reader.number(root, QStringLiteral("camera_count"), where);
    const QJsonArray cameras = reader.array(root, QStringLiteral("cameras"), where);
    if (reader.failed())
        return rig;
    if (cameras.isEmpty()) {
        reader.fail(QStringLiteral("il ne décrit aucune caméra"));
        return rig;
    }
    if (count != cameras.size()) {
        reader.fail(QStringLiteral("il annonce %1 caméra(s) et en décrit %2")
                        .arg(count)
                        .arg(cameras.size()));
        return rig;
    }
    for (int i = 0; i < cameras.size() && !reader.failed(); ++i) {
        if (!cameras[i].isObject()) {
            reader.fail(QStringLiteral("la caméra %1 n'est pas décrite").arg(i + 1));
            break;
        }
        rig.cameras.push_back(read_camera(reader, cameras[i].toObject(), i));
    }
    return rig;
}

} // namespace

QByteArray calibration_json(const RigCalibration& rig)
{
    QJsonArray cameras;
    for (const CameraCalibration& camera : rig.cameras) {
        QJsonObject entry{{QStringLiteral("reference_photo"), camera.reference_photo},
                          {QStringLiteral("alignment"), method_name(camera.method)}};
        if (!camera.reference_size.isEmpty()) {
            entry.insert(QStringLiteral("width"), camera.reference_size.width());
            entry.insert(QStringLiteral("height"), camera.reference_size.height());
        }
        if (camera.method != AlignmentMethod::NotAligned) {
            entry.insert(QStringLiteral("translation_x"), camera.transform.translation_x);
            entry.insert(QStringLiteral("translation_y"), camera.transform.translation_y);
            entry.insert(QStringLiteral("rotation_deg"), camera.transform.rotation_deg);
            entry.insert(QStringLiteral("scale"), camera.transform.scale);
            entry.insert(QStringLiteral("stickers"), points_json(camera.stickers));
            const auto& uncertainty = camera.sticker_uncertainty;
            if (uncertainty[0] > 0.0 || uncertainty[1] > 0.0 || uncertainty[2] > 0.0)
                entry.insert(QStringLiteral("sticker_uncertainty"),
                             QJsonArray{uncertainty[0], uncertainty[1], uncertainty[2]});
            if (!camera.drift.empty()) {
                QJsonObject drift{
                    {QStringLiteral("points"),
                     QString::fromLatin1(drift_points_bytes(camera.drift).toBase64())},
                    {QStringLiteral("descriptors"),
                     QString::fromLatin1(drift_descriptor_bytes(camera.drift).toBase64())}};
                // Beside the features, where an earlier version reading the
                // file does not look.
                if (!camera.drift.patch_centres.empty())
                    drift.insert(
                        QStringLiteral("patches"),
                        QJsonObject{
                            {QStringLiteral("centres"),
                             QString::fromLatin1(
                                 drift_patch_centre_bytes(camera.drift).toBase64())},
                            {QStringLiteral("pixels"),
                             QString::fromLatin1(drift_patch_pixel_bytes(camera.drift).toBase64())},
                            {QStringLiteral("scale"), camera.drift.patch_scale}});
                entry.insert(QStringLiteral("drift_reference"), drift);
            }
        }
        cameras.append(entry);
    }
    QJsonObject root{
        {QStringLiteral("format"), format_name},
        {QStringLiteral("version"), calibration_file_version},
        {QStringLiteral("sticker_color"), color_name(rig.sticker_color)},
        {QStringLiteral("reference_stickers"), points_json(rig.reference_stickers)},
        {QStringLiteral("camera_count"), rig.camera_count()},
        {QStringLiteral("cameras"), cameras},
    };
    if (rig.learned_colour) {
        const LearnedColour& colour = *rig.learned_colour;
        root.insert(QStringLiteral("learned_colour"),
                    QJsonObject{{QStringLiteral("hue"), colour.hue},
                                {QStringLiteral("chroma"), colour.chroma},
                                {QStringLiteral("hue_tolerance"), colour.hue_tolerance},
                                {QStringLiteral("chroma_tolerance"), colour.chroma_tolerance}});
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

namespace {

// What the JSON parser found wrong, in the words of the rest of the messages:
// its own text is English unless a translator was installed, as only the
// window installs one.
QString parse_problem(QJsonParseError::ParseError error)
{
    switch (error) {
    case QJsonParseError::NoError:
        break;
    case QJsonParseError::UnterminatedObject:
        return QStringLiteral("un objet n'est pas fermé");
    case QJsonParseError::MissingNameSeparator:
        return QStringLiteral("il manque « : » après un nom");
    case QJsonParseError::UnterminatedArray:
        return QStringLiteral("une liste n'est pas fermée");
    case QJsonParseError::MissingValueSeparator:
        return QStringLiteral("il manque une virgule entre deux valeurs");
    case QJsonParseError::IllegalValue:
        return QStringLiteral("une valeur n'est pas valable");
    case QJsonParseError::TerminationByNumber:
        return QStringLiteral("le contenu s'arrête au milieu d'un nombre");
    case QJsonParseError::IllegalNumber:
        return QStringLiteral("un nombre n'est pas valable");
    case QJsonParseError::IllegalEscapeSequence:
        return QStringLiteral("une séquence d'échappement n'est pas valable");
    case QJsonParseError::IllegalUTF8String:
        return QStringLiteral("un texte n'est pas en UTF-8 valable");
    case QJsonParseError::UnterminatedString:
        return QStringLiteral("la chaîne n'est pas terminée");
    case QJsonParseError::MissingObject:
        return QStringLiteral("un objet était attendu");
    case QJsonParseError::DeepNesting:
        return QStringLiteral("trop de niveaux imbriqués");
    case QJsonParseError::DocumentTooLarge:
        return QStringLiteral("le contenu est trop grand");
    case QJsonParseError::GarbageAtEnd:
        return QStringLiteral("d'autres données suivent la fin du contenu");
    }
    return QStringLiteral("erreur de syntaxe");
}

} // namespace

CalibrationRead parse_calibration(const QByteArray& content)
{
    if (content.trimmed().isEmpty())
        return {{}, QStringLiteral("le fichier est vide")};
    QJsonParseError parse_error;
    const QJsonDocument document = QJsonDocument::fromJson(content, &parse_error);
    if (parse_error.error != QJsonParseError::NoError)
        return {{},
                QStringLiteral("son contenu est abîmé ou incomplet (%1, caractère %2)")
                    .arg(parse_problem(parse_error.error))
                    .arg(parse_error.offset)};
    if (!document.isObject())
        return {{}, QStringLiteral("ce n'est pas un fichier de calibrage")};

    Reader reader;
    RigCalibration rig = read_rig(reader, document.object());
    if (reader.failed())
        return {{}, reader.fault()};
    return {std::move(rig), {}};
}

CalibrationRead read_calibration_file(const QString& path)
{
    const auto refused = [&path](const QString& reason) {
        return CalibrationRead{
            {},
            QStringLiteral("Le calibrage '%1' ne peut pas être ouvert : %2.").arg(path, reason)};
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refused(file.errorString());
    // A calibration of a thousand cameras is a few hundred kilobytes.
    constexpr qint64 largest_file = 64 << 20;
    if (file.size() > largest_file)
        return refused(QStringLiteral("le fichier est bien trop grand pour un calibrage"));
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return refused(file.errorString());
    CalibrationRead read = parse_calibration(content);
    if (!read.ok())
        return refused(read.error);
    return read;
}

QString write_calibration_file(const QString& path, const RigCalibration& rig)
{
    const QString reason = write_file_atomically(path, calibration_json(rig));
    if (reason.isEmpty())
        return {};
    return QStringLiteral("Impossible d'enregistrer le calibrage '%1' : %2.").arg(path, reason);
}
