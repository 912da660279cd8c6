#pragma once

#include "tools/make_rig/rig_scene.h"

#include <QString>
#include <QStringList>

#include <string>

// A generated rig of 640 x 480 photos, small enough for a command to run on it
// in a moment: its reference and shot paths in camera order.
struct SmallRig
{
    std::string error; // empty when the rig was written
    RigGroundTruth truth;
    QStringList references;
    QStringList shots;
};

// Writes the rig into `folder`; `hidden_camera` (-1 for none) shows its
// stickers grey, so that it can only be aligned by hand.
SmallRig write_small_rig(const QString& folder, int cameras, int hidden_camera = -1);

// Calibrates `rig` from its references by detection alone and writes the
// calibration file to `path`. Empty on success, otherwise what went wrong.
QString write_small_rig_calibration(const SmallRig& rig, const QString& path);
