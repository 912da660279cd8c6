#include "photo/photo_problem.h"

#include "photo/image_file.h"
#include "photo/image_reading.h"
#include "photo/jpeg_decoding.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <functional>

namespace {

const QByteArray png_signature = QByteArray::fromHex("89504e470d0a1a0a");
// The length, type and checksum of the empty IEND chunk that closes every PNG.
const QByteArray png_end = QByteArray::fromHex("0000000049454e44ae426082");

// Up to `size` bytes of a photo from `offset`: the file's through seeks, or a
// copy's in memory, so that one walk serves both.
using ByteSource = std::function<QByteArray(qint64 offset, qint64 size)>;

// True when the PNG of `size` bytes reaches its IEND chunk, walked from chunk
// to chunk by their lengths; what follows IEND does not matter.
bool png_reaches_end(const ByteSource& read, qint64 size)
{
    qint64 pos = png_signature.size();
    while (pos + 12 <= size) {
        const QByteArray header = read(pos, 8);
        if (header.size() != 8)
            return false;
        const qint64 length = qFromBigEndian<quint32>(header.constData());
        if (length > 0x7fffffff || pos + 12 + length > size)
            return false; // a chunk running past the end of the file
        if (header.mid(4) == "IEND")
            return true;
        pos += 12 + length;
    }
    return false;
}

// Where the first scan's entropy-coded data begins in a JPEG of `size` bytes,
// found by walking its segments by their lengths (an EXIF thumbnail and its
// end marker are skipped whole): -1 when a segment runs past the end, 0 when
// something else comes first (stray bytes, an end marker, a scan before any
// frame), for the full walk to judge.
qint64 first_scan(const ByteSource& read, qint64 size)
{
    qint64 pos = 2; // after SOI
    bool seen_frame = false;
    while (pos + 1 < size) {
        const QByteArray header = read(pos, 4);
        if (header.size() < 2 || static_cast<unsigned char>(header[0]) != 0xFF)
            return 0;
        const auto marker = static_cast<unsigned char>(header[1]);
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        // RSTn, TEM, SOI and EOI stand alone: none of them belongs before a scan.
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9))
            return 0;
        if (header.size() < 4)
            return -1;
        const qint64 length =
            (static_cast<unsigned char>(header[2]) << 8) | static_cast<unsigned char>(header[3]);
        if (length < 2 || pos + 2 + length > size)
            return -1;
        pos += 2 + length;
        if (marker == 0xDA)
            return seen_frame ? pos : 0;
        // SOF0 to SOF15, less DHT (C4), JPG (C8) and DAC (CC).
        seen_frame = seen_frame || (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 &&
                                    marker != 0xC8 && marker != 0xCC);
    }
    return -1;
}

// True when the JPEG file `file` of `size` bytes is whole, reading only what
// that takes: its segments up to the first scan, then its end. Entropy-coded
// data never holds an FFD9 pair, so the end marker past the first scan, with
// nothing after it but a camera's padding (zeros or 0xFF), closes the picture.
// Anything else (data after the end, a stream cut short) is judged by the full
// walk of jpeg_stream_complete.
bool jpeg_file_complete(QFile& file, qint64 size)
{
    const ByteSource read = [&file](qint64 offset, qint64 count) {
        return file.seek(offset) ? file.read(count) : QByteArray();
    };
    const qint64 scan = first_scan(read, size);
    if (scan < 0)
        return false;
    if (scan > 0) {
        const qint64 tail_size = std::min<qint64>(size - scan, 64 * 1024);
        const QByteArray tail = read(size - tail_size, tail_size);
        int end = tail.size();
        while (end > 0 && (tail[end - 1] == '\0' || tail[end - 1] == '\xff'))
            --end;
        // Stripping stops at D9, so the pair's 0xFF is still there before it.
        if (end >= 2 && tail[end - 1] == '\xd9' && tail[end - 2] == '\xff' &&
            size - tail_size + end - 2 > scan)
            return true;
    }
    QByteArray bytes;
    return file.seek(0) && (bytes = file.readAll()).size() == size && jpeg_stream_complete(bytes);
}

// True when the PNG in `data` reaches its IEND chunk.
bool png_stream_complete(const QByteArray& data)
{
    return data.startsWith(png_signature) &&
           png_reaches_end([&data](qint64 offset, qint64 size) { return data.mid(offset, size); },
                           data.size());
}

} // namespace

QString photo_problem(const QString& path, bool decode)
{
    const QFileInfo file(path);
    if (!file.exists())
        return QStringLiteral("fichier introuvable");
    if (!file.isFile())
        return QStringLiteral("ce n'est pas un fichier");
    if (file.size() == 0)
        return QStringLiteral("fichier vide");
    QByteArray bytes;
    if (!read_file_bytes(path, bytes))
        return QStringLiteral("fichier illisible (droits d'accès ?)");
    if (is_cut_short_jpeg(bytes))
        return QStringLiteral("photo JPEG incomplète (coupée avant la fin)");
    // A PNG cut short still has a readable header.
    if (bytes.startsWith(png_signature) && !png_stream_complete(bytes))
        return QStringLiteral("photo PNG incomplète (coupée avant la fin)");
    if (!read_oriented_size(path).isValid())
        return QStringLiteral("ce n'est pas une photo JPEG ou PNG lisible");
    if (decode && read_oriented_image(path).isNull())
        return QStringLiteral("photo endommagée, impossible à décoder");
    return QString();
}

bool photo_complete(const QString& path)
{
    // Unbuffered: each seek reads only the bytes asked for.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    const qint64 size = file.size();
    const QByteArray start = file.read(png_signature.size());
    if (start.startsWith(png_signature)) {
        // The end first: a PNG almost always ends with its IEND chunk.
        if (size >= png_signature.size() + png_end.size() && file.seek(size - png_end.size()) &&
            file.read(png_end.size()) == png_end)
            return true;
        return png_reaches_end(
            [&file](qint64 offset, qint64 count) {
                return file.seek(offset) ? file.read(count) : QByteArray();
            },
            size);
    }
    return looks_like_jpeg(start) && jpeg_file_complete(file, size);
}
