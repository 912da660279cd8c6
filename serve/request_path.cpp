#include "serve/request_path.h"

#include <QTextCodec>
#include <QUrl>

namespace {

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<QString> decoded_segment(const QByteArray& segment)
{
    QByteArray bytes;
    for (int i = 0; i < segment.size(); ++i) {
        if (segment[i] != '%') {
            bytes += segment[i];
            continue;
        }
        if (i + 2 >= segment.size())
            return std::nullopt;
        const int high = hex_value(segment[i + 1]);
        const int low = hex_value(segment[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes += char(high * 16 + low);
        i += 2;
    }
    if (bytes.contains('\0') || bytes.contains('/') || bytes == "." || bytes == "..")
        return std::nullopt;
    QTextCodec::ConverterState state;
    const QString text =
        QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0)
        return std::nullopt;
    return text;
}

} // namespace

std::optional<QStringList> request_path_segments(const QByteArray& raw_path)
{
    if (!raw_path.startsWith('/'))
        return std::nullopt;
    QStringList segments;
    if (raw_path == "/")
        return segments;
    for (const QByteArray& segment : raw_path.mid(1).split('/')) {
        if (segment.isEmpty())
            return std::nullopt;
        const std::optional<QString> decoded = decoded_segment(segment);
        if (!decoded)
            return std::nullopt;
        segments << *decoded;
    }
    return segments;
}

QString path_segment(const QString& name)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(name));
}
