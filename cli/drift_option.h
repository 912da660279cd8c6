#pragma once

#include "pipeline/camera_drift.h"

#include <QCommandLineParser>
#include <QString>

// --on-drift warn|correct|fail, shared by `process` and `watch`.
void add_drift_option(QCommandLineParser& parser);

// Reads it into `mode`, which keeps the command's default when the option is
// not given. Returns an empty string, or why the value is wrong (a usage error).
QString read_drift_option(const QCommandLineParser& parser, DriftMode& mode);

// The line of the help, naming the command's default.
QString drift_option_help(DriftMode default_mode);
