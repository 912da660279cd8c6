#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The real program, run as a script or a service would run it.

// This environment without any display: no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM.
QProcessEnvironment headless_environment();

struct QuorvaneRun
{
    int exit_code = -1;
    bool crashed = false;
    QString out; // standard output
    QString err; // standard error
};

// Runs `quorvane arguments...` to its end (at most two minutes), headless.
QuorvaneRun run_quorvane(const QStringList& arguments,
                         const QProcessEnvironment& environment = headless_environment());

// As run_quorvane, with every file the program (and ffmpeg) writes limited to
// `bytes`, as a full disk would cut it short.
QuorvaneRun run_quorvane_with_file_size_limit(const QStringList& arguments, qint64 bytes);

// Starts `quorvane arguments...` headless, its output channels merged into one
// reading of standard output, standard error separate.
void start_quorvane(QProcess& process, const QStringList& arguments,
                    const QProcessEnvironment& environment = headless_environment());
