#pragma once

#include <QString>
#include <QStringList>

// The command line's own lines, in UTF-8 whatever the locale.

// One line on standard error: "quorvane : <message>".
void print_error(const QString& message);
// Text on standard output, as it is (help, version, summaries).
void print_text(const QString& text);
// The line of one unusable photo: its path, its camera (counted from 0, said
// from 1) and why.
void print_unusable_photo(const QString& path, int camera, const QString& reason);
// Checks every photo (`decode`: fully, not just its header) and prints one line
// per unusable photo, naming it, its camera (the photos are in camera order,
// counted from 1) and why. True when all of them are usable.
bool report_unusable_photos(const QStringList& paths, bool decode);
