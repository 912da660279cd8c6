#pragma once

#include <QStringList>

// `quorvane watch --calibration RIG.qvcal --output ROOT [--settle SECONDS] [--once]
// [VIDEO OPTIONS] INBOX`: booth mode, until SIGINT or SIGTERM (or, with --once,
// until what is ready is done). `arguments` are the program's.
int run_watch_command(const QStringList& arguments);
