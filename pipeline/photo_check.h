#pragma once

#include <QString>

// Why the photo at `path` cannot be used, as a short French reason ("fichier
// introuvable", "photo JPEG incomplète", ...), or an empty string when it can be
// read. With `decode`, the whole picture is decoded too (damaged data, which the
// decoder itself reports, is caught); without, only the file, its header and a
// JPEG's structure up to its end are checked, and the decode that uses the photo
// gives the verdict on its data.
QString photo_problem(const QString& path, bool decode);

struct ShotSizeMismatch;

// Why a shot of other proportions than its camera's reference cannot be
// processed, naming the shot, its camera (counted from 1) and both sizes.
QString shot_size_problem(const ShotSizeMismatch& mismatch);
