#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

// A file's whole content; empty when it cannot be read.
QByteArray read_bytes(const QString& path);

// Writes `bytes` to `path` (replacing it, or appending with QIODevice::Append);
// false unless every byte went out.
bool write_bytes(const QString& path, const QByteArray& bytes,
                 QIODevice::OpenMode mode = QIODevice::WriteOnly);
