#pragma once

#include "calibration/rig_calibration.h"

#include <QByteArray>
#include <QString>

// A rig's calibration on disk: a versioned JSON file, extension ".qvcal".
// Readable by a person; every number is written so that it reads back exactly.

// The file extension, with its dot, and the filter for file dialogs.
inline const QString calibration_file_suffix = QStringLiteral(".qvcal");
inline const QString calibration_file_filter = QStringLiteral("Calibrages (*.qvcal)");

// The version this program writes and the newest it reads.
constexpr int calibration_file_version = 1;

// A read calibration, or why it could not be read (a French sentence for the
// user; `calibration` is then empty).
struct CalibrationRead
{
    RigCalibration calibration;
    QString error;

    bool ok() const { return error.isEmpty(); }
};

// The file's content for `rig`.
QByteArray calibration_json(const RigCalibration& rig);

// Reads a file's content. Refuses anything but a complete record of a version
// it knows, with finite numbers, positive scales, positive sizes and one entry
// per camera; the error then says what is wrong, without the file's name.
CalibrationRead parse_calibration(const QByteArray& content);

// Reads the file at `path`; an error names the file and the reason.
CalibrationRead read_calibration_file(const QString& path);

// Writes `rig` to `path` atomically: either the whole new file is in place or the
// previous one is untouched. Returns an empty string on success, otherwise a
// French sentence naming the file and the reason.
QString write_calibration_file(const QString& path, const RigCalibration& rig);
