#include "tools/make_rig/rig_writer.h"

#include "tools/make_rig/ground_truth_file.h"

#include <opencv2/imgcodecs.hpp>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <ostream>

namespace {

QString padded(int camera)
{
    return QString::number(camera).rightJustified(2, QLatin1Char('0'));
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

} // namespace

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
