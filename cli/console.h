#pragma once

#include <QString>

// The command line's own lines, in UTF-8 whatever the locale.

// One line on standard error: "quorvane : <message>".
void print_error(const QString& message);
// Text on standard output, as it is (help, version, summaries).
void print_text(const QString& text);
