#pragma once

#include <QString>
#include <QStringList>

#include <iosfwd>

// The order a person reads a rig's file names in: runs of digits compare by
// their value, so "cam2.jpg" comes before "cam10.jpg"; letters compare without
// regard to case. Only the file name counts (the folders are a tie-break), and
// the result does not depend on the locale, so the window, the command line
// and the booth mode put the same photos in the same camera order.

// True when `a` comes strictly before `b`.
bool natural_less(const QString& a, const QString& b);

// `paths` sorted in natural order (stable: equal names keep their order).
QStringList natural_sorted(QStringList paths);

// True when `paths` are already in natural order.
bool is_natural_order(const QStringList& paths);

// Logs the order the cameras are taken in, one line per camera:
// "Camera 0 : /shoot/cam1.jpg".
void log_camera_order(std::ostream& log, const QStringList& paths);
