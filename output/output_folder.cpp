#include "output/output_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

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
