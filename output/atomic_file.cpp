#include "output/atomic_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

QString write_file_atomically(const QString& path, const QByteArray& content)
{
    // QSaveFile writes a temporary file beside `path`, syncs it and renames it
    // over `path` on commit; the write is checked before that, so a disk that
    // fills up part-way never gets as far as the rename.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(content) != content.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

QString partial_path(const QString& path)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    const QString name =
        "." + info.completeBaseName() + ".partial" + (suffix.isEmpty() ? QString() : "." + suffix);
    return info.path() + "/" + name;
}

QString finish_partial_file(const QString& partial, const QString& path)
{
    // rename(2) replaces `path` atomically; QFile::rename refuses an existing target.
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) ==
        0)
        return {};
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    QFile::remove(partial);
    return reason;
}
