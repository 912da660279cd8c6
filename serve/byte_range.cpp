#include "serve/byte_range.h"

#include <QRegularExpression>

ByteRange byte_range(const QByteArray& header, std::uint64_t size)
{
    ByteRange range;
    static const QRegularExpression single(QStringLiteral("^bytes=(\\d*)-(\\d*)$"));
    const QRegularExpressionMatch match = single.match(QString::fromLatin1(header.trimmed()));
    if (!match.hasMatch())
        return range;
    const QString first_text = match.captured(1);
    const QString last_text = match.captured(2);
    // Digits beyond 19 overflow 64 bits: such a range is not one this file can have.
    if (first_text.size() > 19 || last_text.size() > 19)
        return first_text.size() > 19 ? ByteRange{ByteRange::Kind::Unsatisfiable, 0, 0} : range;
    if (first_text.isEmpty()) {
        // "bytes=-N": the last N bytes.
        if (last_text.isEmpty())
            return range;
        const std::uint64_t count = last_text.toULongLong();
        if (count == 0 || size == 0)
            return {ByteRange::Kind::Unsatisfiable, 0, 0};
        const std::uint64_t taken = count < size ? count : size;
        return {ByteRange::Kind::Part, size - taken, size - 1};
    }
    const std::uint64_t first = first_text.toULongLong();
    if (first >= size)
        return {ByteRange::Kind::Unsatisfiable, 0, 0};
    std::uint64_t last = size - 1;
    if (!last_text.isEmpty()) {
        const std::uint64_t asked = last_text.toULongLong();
        if (asked < first)
            return range; // malformed: ignored, the whole file
        if (asked < last)
            last = asked;
    }
    return {ByteRange::Kind::Part, first, last};
}
