#pragma once

#include "cli/usage.h"
#include "serve/share_server.h"

#include <QString>
#include <QStringList>

// What `quorvane serve` is asked to do.
struct ServeArguments
{
    ShareSettings settings; // root, address (every interface, port 8080, by default), title
};

// Which files of a booth's take the sharing page hands out: the videos and
// GIFs a run writes, the middle frame as the still (every frame with
// `all_frames`), once the booth's marker is there.
TakeFileRules booth_take_file_rules(bool all_frames);

// The page's title when none is given.
QString default_share_title();

// Reads `--serve ADDRESS:PORT`'s value (as for --listen) into `address`;
// returns the usage problem, or empty.
QString read_listen_value(const QString& option, const QString& value, ListenAddress& address);

// Reads `serve ROOT [--listen ADDRESS:PORT] [--title TEXT] [--frames]` from
// `arguments` (the program's) into `parsed`. No side effect.
ParseOutcome parse_serve_arguments(const QStringList& arguments, ServeArguments& parsed);

// Starts `server`, printing the address it serves on standard output
// ("Serving ROOT on http://0.0.0.0:8080/"), or why it could not on standard
// error. True when it runs.
bool start_sharing(ShareServer& server, const ShareSettings& settings);

// `quorvane serve ...`: the sharing page until SIGINT or SIGTERM. `arguments`
// are the program's.
int run_serve_command(const QStringList& arguments);
