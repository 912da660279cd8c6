#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The segments of a request's path, each percent-decoded once, from the path
// exactly as it came on the request line ("/take/Prise%201" gives "take",
// "Prise 1"). Nothing for a path that could name something other than what its
// segments spell: not starting with "/", an empty segment, "." or "..", a
// decoded "/" or NUL byte, a broken escape or text that is not UTF-8. The root
// "/" gives no segment.
std::optional<QStringList> request_path_segments(const QByteArray& raw_path);

// `name` escaped for a path segment of a URL (UTF-8, every reserved byte as %HH).
QString path_segment(const QString& name);
