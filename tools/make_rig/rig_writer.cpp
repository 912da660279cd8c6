#include "tools/make_rig/rig_writer.h"

#include "tools/make_rig/ground_truth_file.h"

#include <opencv2/imgcodecs.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <ostream>

namespace {

QString padded(int camera)
{
    return QString::number(camera).rightJustified(2, QLatin1Char('0'));
}

// Removes the files of `folder` whose names match `pattern`, then the folder
// itself when `remove_folder` and it is left empty; a symbolic link is left alone.
std::string clear_files(const QString& folder, const char* pattern, bool remove_folder)
{
    const QFileInfo info(folder);
    if (!info.isDir() || info.isSymLink())
        return {};
    const QDir sub(folder);
    const QRegularExpression expression(pattern);
    for (const QString& name : sub.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (expression.match(name).hasMatch() && !QFile::remove(sub.filePath(name)))
            return "cannot remove " + sub.filePath(name).toStdString();
    }
    if (remove_folder)
        QDir().rmdir(folder); // only when empty: whatever else is there stays
    return {};
}

// Removes the photos and ground truth of an earlier rig, and nothing else.
std::string clear_previous_rig(const QDir& dir)
{
    const struct
    {
        const char* folder;
        const char* pattern;
    } kinds[] = {{"references", "^ref_[0-9]+\\.jpg$"}, {"shots", "^shot_[0-9]+\\.jpg$"}};
    for (const auto& kind : kinds) {
        const QDir sub(dir.filePath(kind.folder));
        const QRegularExpression pattern(kind.pattern);
        for (const QString& name : sub.entryList(QDir::Files)) {
            if (pattern.match(name).hasMatch() && !QFile::remove(sub.filePath(name)))
                return "cannot remove " + sub.filePath(name).toStdString();
        }
    }
    // What a parallax rig adds: its truth pictures and its takes.
    const char* truth_pattern = "^(shot_[0-9]+|between_[0-9]+_[0-9]+)\\.png$";
    const QRegularExpression take("^take_[0-9]+$");
    for (const char* folder : {"shots", "truth"}) {
        const QString path = dir.filePath(folder);
        const QFileInfo info(path);
        if (!info.isDir() || info.isSymLink())
            continue;
        for (const QString& name : QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (!take.match(name).hasMatch())
                continue;
            const std::string error = clear_files(
                QDir(path).filePath(name),
                folder == std::string("shots") ? "^shot_[0-9]+\\.jpg$" : truth_pattern, true);
            if (!error.empty())
                return error;
        }
    }
    const std::string error = clear_files(dir.filePath("truth"), truth_pattern, true);
    if (!error.empty())
        return error;
    if (!QFile::remove(dir.filePath(ground_truth_file_name)))
        return "cannot remove " + dir.filePath(ground_truth_file_name).toStdString();
    return {};
}

std::string prepare_folder(const QString& folder)
{
    QDir dir(folder);
    if (dir.exists()) {
        const bool empty =
            dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty();
        if (!empty) {
            if (!QFile::exists(dir.filePath(ground_truth_file_name)))
                return folder.toStdString() +
                       " is neither empty nor a rig folder (no ground_truth.txt); not writing "
                       "into it";
            const std::string error = clear_previous_rig(dir);
            if (!error.empty())
                return error;
        }
    }
    if (!dir.mkpath("references") || !dir.mkpath("shots"))
        return "cannot create the folders references and shots in " + folder.toStdString();
    return {};
}

std::string write_text(const QString& path, const std::string& text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.flush())
        return "cannot write " + path.toStdString();
    return {};
}

std::string write_png(const QString& path, const cv::Mat& image)
{
    try {
        if (cv::imwrite(path.toLocal8Bit().toStdString(), image))
            return {};
    } catch (const cv::Exception& e) {
        return "cannot write " + path.toStdString() + ": " + e.what();
    }
    return "cannot write " + path.toStdString();
}

std::string write_jpeg(const QString& path, const cv::Mat& image, int quality)
{
    try {
        if (cv::imwrite(path.toLocal8Bit().toStdString(), image,
                        {cv::IMWRITE_JPEG_QUALITY, quality}))
            return {};
    } catch (const cv::Exception& e) {
        return "cannot write " + path.toStdString() + ": " + e.what();
    }
    return "cannot write " + path.toStdString();
}

QString take_folder(int take, int takes)
{
    return takes == 1 ? QString() : QStringLiteral("take_") + padded(take + 1) + QLatin1Char('/');
}

// The parallax rig: references, then each take's shots, truth and views between.
RigWriteResult write_parallax_photos(const RigScene& scene, const QDir& dir, std::ostream& log)
{
    RigWriteResult result;
    result.truth = scene.truth;
    const RigOptions& options = scene.truth.options;
    const ParallaxTruth& truth = scene.truth.parallax;
    const cv::Size size(options.width, options.height);
    ParallaxTextures textures = make_textures(options, truth);
    const auto write = [&](const QString& name, const cv::Mat& image, bool jpeg) {
        const QString path = dir.filePath(name);
        result.error =
            jpeg ? write_jpeg(path, image, options.jpeg_quality) : write_png(path, image);
        if (result.ok())
            log << "wrote " << path.toStdString() << std::endl;
        return result.ok();
    };

    for (int camera = 0; camera < options.cameras; ++camera) {
        const ViewRequest request = photo_request(options, truth, camera, -1);
        cv::Mat photo = apply_colour_response(render_view(truth, textures, request, size),
                                              truth.colours[camera]);
        paint_stickers(photo, truth, request);
        if (!write(reference_file_name(camera), photo, true))
            return result;
    }
    for (int take = 0; take < options.takes; ++take) {
        const QString folder = take_folder(take, options.takes);
        if (!dir.mkpath("shots/" + folder) || !dir.mkpath("truth/" + folder)) {
            result.error = "cannot create the folders for take " + std::to_string(take + 1) +
                           " in " + dir.path().toStdString();
            return result;
        }
        add_subject_texture(textures, options, truth, take);
        for (int camera = 0; camera < options.cameras; ++camera) {
            const cv::Mat neutral =
                render_view(truth, textures, photo_request(options, truth, camera, take), size);
            if (!write(truth_shot_file_name(camera, take, options.takes), neutral, false) ||
                !write(parallax_shot_file_name(camera, take, options.takes),
                       apply_colour_response(neutral, truth.colours[camera]), true))
                return result;
        }
        for (int camera = 0; camera + 1 < options.cameras; ++camera)
            for (int j = 1; j <= options.between; ++j) {
                const double position = camera + static_cast<double>(j) / (options.between + 1);
                const cv::Mat view = render_view(
                    truth, textures, aligned_request(options, truth, position, take), size);
                if (!write(between_file_name(camera, j, take, options.takes), view, false))
                    return result;
            }
        textures.subjects[take].release();
    }
    return result;
}

} // namespace

QString parallax_shot_file_name(int camera, int take, int takes)
{
    return QStringLiteral("shots/") + take_folder(take, takes) + QStringLiteral("shot_") +
           padded(camera) + QStringLiteral(".jpg");
}

QString truth_shot_file_name(int camera, int take, int takes)
{
    return QStringLiteral("truth/") + take_folder(take, takes) + QStringLiteral("shot_") +
           padded(camera) + QStringLiteral(".png");
}

QString between_file_name(int camera, int step, int take, int takes)
{
    return QStringLiteral("truth/") + take_folder(take, takes) + QStringLiteral("between_") +
           padded(camera) + QLatin1Char('_') + padded(step) + QStringLiteral(".png");
}

QString reference_file_name(int camera)
{
    return QStringLiteral("references/ref_") + padded(camera) + QStringLiteral(".jpg");
}

QString shot_file_name(int camera)
{
    return QStringLiteral("shots/shot_") + padded(camera) + QStringLiteral(".jpg");
}

RigWriteResult write_rig(const RigOptions& options, const QString& folder, std::ostream& log)
{
    RigWriteResult result;
    result.error = rig_options_error(options);
    if (!result.ok())
        return result;
    result.error = prepare_folder(folder);
    if (!result.ok())
        return result;

    const QDir dir(folder);
    const RigScene scene = plan_rig_scene(options);
    result.truth = scene.truth;

    // The truth goes first: it is known before rendering, and it marks the folder
    // as a rig folder even if rendering stops half-way.
    const QString truth_path = dir.filePath(ground_truth_file_name);
    result.error = write_text(truth_path, ground_truth_text(scene.truth));
    if (!result.ok())
        return result;
    log << "wrote " << truth_path.toStdString() << std::endl;
    if (options.parallax)
        return write_parallax_photos(scene, dir, log);

    // One world canvas at a time: at 6000 x 4000 each holds over 100 MB.
    for (const PhotoKind kind : {PhotoKind::Reference, PhotoKind::Shot}) {
        const cv::Mat world = render_world(scene, kind);
        for (int camera = 0; camera < options.cameras; ++camera) {
            const QString path =
                dir.filePath(kind == PhotoKind::Reference ? reference_file_name(camera)
                                                          : shot_file_name(camera));
            result.error =
                write_jpeg(path, render_photo(scene, kind, world, camera), options.jpeg_quality);
            if (!result.ok())
                return result;
            log << "wrote " << path.toStdString() << std::endl;
        }
    }
    return result;
}
