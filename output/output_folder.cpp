#include "output/output_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <filesystem>
#include <system_error>

QStringList earlier_run_files(const QString& folder)
{
    const QStringList patterns{QStringLiteral("output_img_*.jpg"), QStringLiteral("output_video*")};
    return QDir(folder).entryList(patterns, QDir::Files | QDir::Hidden | QDir::CaseSensitive,
                                  QDir::Name);
}

QString path_among(const QStringList& paths, const QString& folder, const QStringList& names)
{
    const QDir dir(folder);
    QSet<QString> files;
    for (const QString& name : names)
        files.insert(QFileInfo(dir.filePath(name)).canonicalFilePath());
    for (const QString& path : paths) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (!canonical.isEmpty() && files.contains(canonical))
            return path;
    }
    return QString();
}

QStringList remove_files(const QString& folder, const QStringList& names)
{
    const QDir dir(folder);
    QStringList failed;
    for (const QString& name : names) {
        const QString path = dir.filePath(name);
        if (!QFile::remove(path))
            failed << path;
    }
    return failed;
}

QString make_folder(const QString& folder)
{
    // QDir::mkpath says only that it failed; the user needs to know why.
    std::error_code error;
    const std::filesystem::path path(QFile::encodeName(folder).toStdString());
    std::error_code unknown;
    if (std::filesystem::create_directories(path, error) ||
        std::filesystem::is_directory(path, unknown))
        return QString();
    if (!error)
        error = std::make_error_code(std::errc::not_a_directory);
    return QString::fromLocal8Bit(error.message().c_str());
}
