#pragma once

#include <QCommandLineParser>
#include <QString>

struct ProcessingRequest;

// The video options shared by `process` and `watch`, with the window's defaults:
// 24 frames per second, compression 50 %, no boomerang, no GIF, original size,
// colours matched, no in-between frames.
void add_video_options(QCommandLineParser& parser);

// Fills the request's quality, frame rate, boomerang, GIF, video size, colour
// matching and in-between frames from the parsed options.
// Returns an empty string, or why the options are wrong (a usage error).
QString read_video_options(const QCommandLineParser& parser, ProcessingRequest& request);

// `process` and `watch` also share --calibration RIG.qvcal and --output, whose
// value is named `output_name` in the help (DOSSIER, RACINE); both are required.
void add_run_options(QCommandLineParser& parser, const QString& output_name);

// Reads the calibration file's name, the output folder and the video options.
// Returns an empty string, or why they are wrong (a usage error).
QString read_run_options(const QCommandLineParser& parser, const QString& output_name,
                         QString& calibration, QString& output, ProcessingRequest& request);

// The lines of the help that describe the video options.
QString video_options_help();
