#pragma once

#include "tools/make_rig/rig_options.h"

#include <QString>
#include <QStringList>

#include <string>

// The make_rig command line, parsed and checked.
struct RigArguments
{
    QString folder;
    RigOptions options;
    std::string error; // empty when the arguments are usable
    bool help = false; // --help or -h: print the usage, write nothing
};

// Parses the arguments that follow the program name.
RigArguments parse_rig_arguments(const QStringList& arguments);

// The usage text, several lines ending with a line end.
std::string rig_usage();
