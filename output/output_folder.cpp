#include "output/output_folder.h"

#include "output/run_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

QString system_reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The entry itself, never what a link points to.
bool is_folder(const QString& path)
{
    struct stat status;
    return lstat(native(path).constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool exists(const QString& path)
{
    struct stat status;
    return lstat(native(path).constData(), &status) == 0;
}

// The entry itself is a plain file, never what a link points to.
bool is_plain_file(const QString& path)
{
    struct stat status;
    return lstat(native(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
}

// Every entry of `folder`, hidden ones and broken links included.
QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                      QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

QStringList earlier_run_files(const QString& folder)
{
    QStringList names;
    for (const QString& name : entries(folder)) {
        if (is_run_file(name) && !is_folder(folder + QLatin1Char('/') + name))
            names << name;
    }
    return names;
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
    QStringList failed;
    for (const QString& name : names) {
        const QString path = folder + QLatin1Char('/') + name;
        // unlink(2) removes a link itself and refuses a folder.
        if (unlink(native(path).constData()) != 0 && errno != ENOENT)
            failed << path;
    }
    return failed;
}

QString make_folder(const QString& folder, QStringList* created)
{
    // The folders that are missing, from the deepest up, to tell the caller.
    QStringList missing;
    for (QString path = QFileInfo(folder).absoluteFilePath(); !exists(path);) {
        missing << path;
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    // QDir::mkpath says only that it failed; the user needs to know why.
    std::error_code error;
    const std::filesystem::path path(native(folder).toStdString());
    std::error_code unknown;
    const bool made = std::filesystem::create_directories(path, error);
    if (made || std::filesystem::is_directory(path, unknown)) {
        if (created) {
            for (const QString& folder_made : missing) {
                if (is_folder(folder_made))
                    *created << folder_made;
            }
        }
        return QString();
    }
    // Part of the path may have been made before the failure.
    for (const QString& folder_made : missing)
        rmdir(native(folder_made).constData());
    if (!error)
        error = std::make_error_code(std::errc::not_a_directory);
    return QString::fromLocal8Bit(error.message().c_str());
}

StagingEntries staging_entries(const QString& staging)
{
    StagingEntries parted;
    if (!is_folder(staging))
        return parted;
    for (const QString& name : entries(staging)) {
        // A run writes only plain files there: a link of that name is not its own.
        if ((is_run_file(name) || is_run_leftover(name)) &&
            is_plain_file(staging + QLatin1Char('/') + name))
            parted.own << name;
        else
            parted.foreign << name;
    }
    return parted;
}

QString clear_staging(const QString& staging)
{
    if (!exists(staging))
        return QString();
    if (!is_folder(staging))
        return QStringLiteral("'%1' : ce nom est réservé aux fichiers en cours de traitement ; "
                              "déplacez ce fichier")
            .arg(staging);
    const auto [ours, foreign] = staging_entries(staging);
    const QStringList kept = remove_files(staging, ours);
    if (!kept.isEmpty())
        return QStringLiteral("'%1' : impossible de supprimer ce fichier d'un traitement "
                              "interrompu")
            .arg(kept.first());
    if (!foreign.isEmpty())
        return QStringLiteral("'%1' : ce dossier de traitement en cours contient d'autres "
                              "fichiers (%2) ; déplacez-les")
            .arg(staging, foreign.join(QStringLiteral(", ")));
    if (rmdir(native(staging).constData()) != 0)
        return QStringLiteral("'%1' : impossible de supprimer ce dossier (%2)")
            .arg(staging, system_reason(errno));
    return QString();
}

QString clear_run_leftovers(const QString& folder)
{
    QStringList leftovers;
    for (const QString& name : entries(folder)) {
        // Only the exact partial names: the staging folder holds the rest.
        if (is_partial_video(name) && !is_folder(folder + QLatin1Char('/') + name))
            leftovers << name;
    }
    const QStringList kept = remove_files(folder, leftovers);
    if (!kept.isEmpty())
        return QStringLiteral("'%1' : impossible de supprimer ce fichier d'un traitement "
                              "interrompu")
            .arg(kept.first());
    return clear_staging(folder + QLatin1Char('/') + staging_folder_name);
}

QString replace_run(const QString& folder, const QString& staging, const QStringList& names)
{
    // Everything that could stop the swap is checked before the folder changes.
    for (const QString& name : names) {
        const QString path = folder + QLatin1Char('/') + name;
        if (is_folder(path))
            return QStringLiteral("'%1' : un dossier porte ce nom, il ne peut pas être remplacé")
                .arg(path);
    }
    QStringList replaced = earlier_run_files(folder);
    QStringList others;
    for (const QString& name : replaced) {
        if (!names.contains(name))
            others << name;
    }
    // A longer earlier run's last frames, a boomerang or GIF this run does not make.
    const QStringList kept = remove_files(folder, others);
    if (!kept.isEmpty())
        return QStringLiteral("'%1' : impossible de supprimer ce fichier d'un traitement "
                              "précédent")
            .arg(kept.first());
    // rename(2) replaces each earlier file in one step, a link as a link.
    for (const QString& name : names) {
        const QString from = staging + QLatin1Char('/') + name;
        const QString to = folder + QLatin1Char('/') + name;
        if (std::rename(native(from).constData(), native(to).constData()) != 0)
            return QStringLiteral("'%1' : impossible d'écrire le fichier (%2)")
                .arg(to, system_reason(errno));
    }
    return clear_staging(staging);
}
