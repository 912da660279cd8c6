#pragma once

#include <QCommandLineParser>
#include <QString>

struct ProcessingRequest;

// The video options shared by `process` and `watch`, with the window's defaults:
// 24 frames per second, compression 50 %, no boomerang, no GIF, original size.
void add_video_options(QCommandLineParser& parser);

// Fills the request's quality, frame rate, boomerang, GIF and video size from the
// parsed options.
// Returns an empty string, or why the options are wrong (a usage error).
QString read_video_options(const QCommandLineParser& parser, ProcessingRequest& request);

// The lines of the help that describe them.
QString video_options_help();
