#pragma once

#include <QString>

// Whether a photo file can be used at all, before the decode that uses it.

// Why the photo at `path` cannot be used, as a short French reason ("fichier
// introuvable", "photo JPEG incomplète", "photo PNG incomplète", ...), or an
// empty string when it can be read. With `decode`, the whole picture is decoded
// too (damaged data, which the decoder itself reports, is caught); without, only
// the file, its header and its structure up to its end (a JPEG's end-of-image
// marker, a PNG's IEND chunk) are checked, and the decode that uses the photo
// gives the verdict on its data.
QString photo_problem(const QString& path, bool decode);

// True when the photo at `path` is whole, by what the file holds whatever its
// name: a JPEG whose stream reaches its end-of-image marker (padding or other
// data after it allowed, see jpeg_stream_complete), a PNG whose chunks reach
// IEND; the same verdict as photo_problem's on its end. Reads only what that
// takes, mostly the segments before the first scan and the file's last bytes,
// so that a booth can ask at every look.
bool photo_complete(const QString& path);
