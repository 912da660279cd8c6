#include "support/atomic_file.h"

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
    // Unbuffered: the content is in memory already, and the write goes straight
    // to the system, whose reason is then still in errno.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    errno = 0;
    if (file.write(content) != content.size()) {
        // After part of the content went out, Qt keeps no reason of its own.
        const int error = errno;
        const QString reason = file.error() == QFileDevice::NoError && error != 0
                                   ? QString::fromLocal8Bit(std::strerror(error))
                                   : file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

QString partial_file_name(const QString& name)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return QLatin1Char('.') + name + QStringLiteral(".partial");
    return QLatin1Char('.') + name.left(dot) + QStringLiteral(".partial") + name.mid(dot);
}

QString partial_path(const QString& path)
{
    const QFileInfo info(path);
    return info.path() + "/" + partial_file_name(info.fileName());
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
