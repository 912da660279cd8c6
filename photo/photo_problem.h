#pragma once

#include <QString>

// Whether a photo file can be used at all, before the decode that uses it.

// Why the photo at `path` cannot be used, as a short French reason ("fichier
// introuvable", "photo JPEG incomplète", ...), or an empty string when it can be
// read. With `decode`, the whole picture is decoded too (damaged data, which the
// decoder itself reports, is caught); without, only the file, its header and a
// JPEG's structure up to its end are checked, and the decode that uses the photo
// gives the verdict on its data.
QString photo_problem(const QString& path, bool decode);

// True when the photo at `path` is whole: a JPEG whose stream reaches its
// end-of-image marker (padding after it allowed, see jpeg_stream_complete), a
// PNG that ends with its IEND chunk.
bool photo_complete(const QString& path);
