#pragma once

#include "booth/booth.h"
#include "cli/usage.h"
#include "serve/listen_address.h"

#include <QString>
#include <QStringList>

#include <optional>

// What `quorvane watch` is asked to do.
struct WatchArguments
{
    QString calibration; // the calibration file to read
    // The inbox, the output root, the settle time and the wait of a take that
    // lacks photos (each 0 to an hour) and the video options within the window's
    // bounds; the rig comes from the file.
    BoothSettings settings;
    bool once = false;
    // With --serve, where the sharing page of the root's takes listens.
    std::optional<ListenAddress> serve;
};

// Reads `watch --calibration RIG.qvcal --output ROOT [--settle SECONDS]
// [--incomplete-after SECONDS] [--once] [--serve ADDRESS:PORT] [VIDEO OPTIONS] INBOX` from `arguments`
// (the program's) into `parsed`, which is complete when the outcome runs. No
// side effect.
ParseOutcome parse_watch_arguments(const QStringList& arguments, WatchArguments& parsed);

// `quorvane watch ...`: booth mode, until SIGINT or SIGTERM (or, with --once,
// until what is ready is done). `arguments` are the program's.
int run_watch_command(const QStringList& arguments);
