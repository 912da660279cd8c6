// The one JPEG decoder of detection and the frames: the pixels OpenCV and Qt
// gave before, the decoder's own verdict on damaged data, and where a stream ends.

#include "photo/image_file.h"
#include "photo/image_reading.h"
#include "photo/jpeg_decoding.h"
#include "photo/jpeg_encoding.h"
#include "photo/photo_problem.h"
#include "tests/support/cmyk_jpeg.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

// Smooth areas and sharp edges, so that every DCT path is used.
cv::Mat test_picture(int width, int height)
{
    cv::Mat picture(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.at<cv::Vec3b>(y, x) =
                cv::Vec3b(x * 255 / width, y * 255 / height, ((x / 8 + y / 8) % 2) * 200 + 20);
    cv::circle(picture, cv::Point(width / 3, height / 2), height / 4, cv::Scalar(0, 230, 250), -1);
    return picture;
}

QByteArray encoded(const cv::Mat& picture, std::vector<int> parameters = {})
{
    std::vector<unsigned char> bytes;
    parameters.insert(parameters.end(), {cv::IMWRITE_JPEG_QUALITY, 92});
    if (!cv::imencode(".jpg", picture, bytes, parameters))
        return {};
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
}

// Where the entropy-coded data of the first scan starts.
int scan_start(const QByteArray& jpeg)
{
    const int sos = jpeg.indexOf(QByteArray::fromHex("ffda"));
    const int length = (static_cast<unsigned char>(jpeg[sos + 2]) << 8) |
                       static_cast<unsigned char>(jpeg[sos + 3]);
    return sos + 2 + length;
}

QByteArray damaged(const QByteArray& jpeg, const QString& damage)
{
    QByteArray bytes = jpeg;
    const int scan = scan_start(jpeg);
    if (damage == "zeroed")
        bytes.replace(bytes.size() / 2, 2048, QByteArray(2048, '\0'));
    else if (damage == "cut, end marker added")
        bytes = bytes.left((scan + bytes.size()) / 2) + QByteArray::fromHex("ffd9");
    else if (damage == "junk before a marker")
        bytes.insert(bytes.indexOf(QByteArray::fromHex("ffdb")), "junk!");
    else if (damage == "cut")
        bytes = bytes.left((scan + bytes.size()) / 2);
    return bytes;
}

bool write_file(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// `jpeg` with the size in its frame header replaced: a few bytes that promise
// a picture far larger than the data in them.
QByteArray with_frame_size(QByteArray jpeg, int width, int height)
{
    for (int pos = 2; pos + 9 < jpeg.size();) {
        const auto marker = static_cast<unsigned char>(jpeg[pos + 1]);
        const int length = (static_cast<unsigned char>(jpeg[pos + 2]) << 8) |
                           static_cast<unsigned char>(jpeg[pos + 3]);
        if (marker == 0xC0 || marker == 0xC2) {
            jpeg[pos + 5] = static_cast<char>(height >> 8);
            jpeg[pos + 6] = static_cast<char>(height & 0xFF);
            jpeg[pos + 7] = static_cast<char>(width >> 8);
            jpeg[pos + 8] = static_cast<char>(width & 0xFF);
            return jpeg;
        }
        pos += 2 + length;
    }
    return {};
}

// Lowers the address space the process may use to `room` bytes above what it
// uses now, as on a machine with little memory; restored on destruction.
class AddressSpaceLimit
{
public:
    explicit AddressSpaceLimit(unsigned long long room)
    {
        unsigned long long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%llu", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        ok = pages > 0 && getrlimit(RLIMIT_AS, &before) == 0;
        rlimit lowered = before;
        lowered.rlim_cur = pages * 4096 + room;
        ok = ok && setrlimit(RLIMIT_AS, &lowered) == 0;
    }
    ~AddressSpaceLimit()
    {
        if (ok)
            setrlimit(RLIMIT_AS, &before);
    }
    bool ok = false;

private:
    rlimit before{};
};

} // namespace

class JpegDecodingTest : public QObject
{
    Q_OBJECT

private slots:
    void pixels_are_those_of_opencv_and_qt_data();
    void pixels_are_those_of_opencv_and_qt();
    void damaged_data_is_refused_data();
    void damaged_data_is_refused();
    void stream_end_is_found_by_structure_data();
    void stream_end_is_found_by_structure();
    void a_picture_too_big_for_memory_is_refused();
    void frames_are_encoded_as_qt_encodes_them();
};

void JpegDecodingTest::pixels_are_those_of_opencv_and_qt_data()
{
    QTest::addColumn<QByteArray>("jpeg");

    const cv::Mat picture = test_picture(203, 117); // not a whole number of blocks
    cv::Mat grey;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    QTest::newRow("colour, 4:2:0") << encoded(picture);
    QTest::newRow("progressive") << encoded(picture, {cv::IMWRITE_JPEG_PROGRESSIVE, 1});
    QTest::newRow("restart markers") << encoded(picture, {cv::IMWRITE_JPEG_RST_INTERVAL, 3});
    QTest::newRow("grey") << encoded(grey);
    QTest::newRow("CMYK") << cmyk_jpeg(picture, 75, true);
}

void JpegDecodingTest::pixels_are_those_of_opencv_and_qt()
{
    QFETCH(QByteArray, jpeg);

    cv::Mat bgr;
    QCOMPARE(decode_jpeg(jpeg, JpegPixels::Bgr,
                         [&](int width, int height) {
                             bgr.create(height, width, CV_8UC3);
                             return JpegTarget{bgr.data, bgr.step[0]};
                         }),
             QString());
    const cv::Mat encoded_bytes(1, jpeg.size(), CV_8UC1, jpeg.data());
    const cv::Mat opencv =
        cv::imdecode(encoded_bytes, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
    QCOMPARE(bgr.size(), opencv.size());
    QCOMPARE(cv::norm(bgr, opencv, cv::NORM_INF), 0.0);

    QImage rgb32(1, 1, QImage::Format_RGB32);
    QCOMPARE(
        decode_jpeg(
            jpeg, JpegPixels::Bgrx,
            [&](int width, int height) {
                rgb32 = QImage(width, height, QImage::Format_RGB32);
                return JpegTarget{rgb32.bits(), static_cast<std::size_t>(rgb32.bytesPerLine())};
            }),
        QString());
    QBuffer buffer(&jpeg);
    QImageReader reader(&buffer);
    const QImage qt = reader.read().convertToFormat(QImage::Format_RGB32);
    QVERIFY(!qt.isNull());
    QCOMPARE(rgb32, qt);
    // Format_RGB32 promises an opaque alpha byte.
    QCOMPARE(qAlpha(rgb32.pixel(5, 5)), 255);
}

void JpegDecodingTest::damaged_data_is_refused_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("verdict");

    QTest::newRow("2 KB zeroed, end kept") << "zeroed"
                                           << "Corrupt JPEG data";
    QTest::newRow("cut in the scan, end marker added")
        << "cut, end marker added"
        << "Corrupt JPEG data: premature end of data segment";
    QTest::newRow("bytes before a marker") << "junk before a marker"
                                           << "Corrupt JPEG data: 5 extraneous bytes before marker";
    QTest::newRow("cut in the scan") << "cut"
                                     << "Premature end of JPEG file";
}

void JpegDecodingTest::damaged_data_is_refused()
{
    QFETCH(QString, damage);
    QFETCH(QString, verdict);

    const QByteArray jpeg = damaged(encoded(test_picture(640, 480)), damage);
    QImage image;
    const QString problem = decode_jpeg(jpeg, JpegPixels::Bgrx, [&](int width, int height) {
        image = QImage(width, height, QImage::Format_RGB32);
        return JpegTarget{image.bits(), static_cast<std::size_t>(image.bytesPerLine())};
    });
    QVERIFY2(problem.startsWith(verdict), qPrintable(problem));

    // Detection, the frames and the window all refuse the file.
    QTemporaryDir folder;
    const QString path = folder.filePath("shot.jpg");
    QVERIFY(write_file(path, jpeg));
    QVERIFY(read_bgr_image(path).empty());
    QImage stored;
    QVERIFY(!read_stored_image(path, stored));
    QVERIFY(read_oriented_image(path).isNull());
}

void JpegDecodingTest::stream_end_is_found_by_structure_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("complete");

    const QByteArray jpeg = encoded(test_picture(320, 240));
    const int scan = scan_start(jpeg);
    const QByteArray end = QByteArray::fromHex("ffd9");
    QTest::newRow("whole") << jpeg << true;
    QTest::newRow("padded with zeros") << jpeg + QByteArray(4096, '\0') << true;
    QTest::newRow("padded with 0xFF") << jpeg + QByteArray(300, '\xff') << true;
    QTest::newRow("cut in the scan") << jpeg.left((scan + jpeg.size()) / 2) << false;
    QTest::newRow("last byte missing") << jpeg.left(jpeg.size() - 1) << false;
    QTest::newRow("cut in the headers, an end marker in the padding")
        << jpeg.left(scan - 40) + QByteArray(100, '\0') + end + QByteArray(100, '\0') << false;
    QTest::newRow("cut before the scan, an end marker in the padding")
        << jpeg.left(scan) + end << false;
    QTest::newRow("an end marker in a thumbnail, then cut")
        << jpeg.left(2) + QByteArray::fromHex("ffe1000a") +
               QByteArray::fromHex("ffd8ffd9ffd9ffd9") + jpeg.mid(2, scan)
        << false;
    QTest::newRow("an end marker in a thumbnail, whole")
        << jpeg.left(2) + QByteArray::fromHex("ffe1000a") +
               QByteArray::fromHex("ffd8ffd9ffd9ffd9") + jpeg.mid(2)
        << true;
    QTest::newRow("not a JPEG") << QByteArray("\x89PNG\r\n\x1a\n") + end << false;
    // A phone's video or a maker's trailer after the end marker.
    QTest::newRow("data after its end") << jpeg + QByteArray("\0\0\0\x18"
                                                             "ftypmp42 video")
                                        << true;
    QTest::newRow("padded with more zeros than the end read")
        << jpeg + QByteArray(200 * 1024, '\0') << true;
    QTest::newRow("cut right after a thumbnail's end marker")
        << jpeg.left(2) + QByteArray::fromHex("ffe1000a") + QByteArray::fromHex("ffd8ffd9ffd9ffd9")
        << false;
}

void JpegDecodingTest::stream_end_is_found_by_structure()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, complete);

    QCOMPARE(jpeg_stream_complete(bytes), complete);
    QCOMPARE(is_cut_short_jpeg(bytes), !complete && looks_like_jpeg(bytes));
    // The file's walk, which reads only what it needs, gives the same verdict.
    QTemporaryDir folder;
    const QString path = folder.filePath("shot.jpg");
    QVERIFY(write_file(path, bytes));
    QCOMPARE(photo_complete(path), complete);
}

// A header promising 40000 × 30000 pixels where memory has no room for them:
// the photo is refused, and the next one decodes as before.
void JpegDecodingTest::a_picture_too_big_for_memory_is_refused()
{
    const QByteArray jpeg = encoded(test_picture(64, 48));
    const QByteArray huge = with_frame_size(jpeg, 40000, 30000);
    QVERIFY(!huge.isEmpty());
    QTemporaryDir folder;
    QVERIFY(write_file(folder.filePath("huge.jpg"), huge));
    QVERIFY(write_file(folder.filePath("small.jpg"), jpeg));

    cv::Mat image;
    QByteArray bytes;
    bool read = true;
    QImage stored;
    {
        AddressSpaceLimit limit(1'500'000'000ULL);
        QVERIFY(limit.ok);
        read = read_bgr_image(folder.filePath("huge.jpg"), image, bytes);
        QVERIFY(!read_stored_image(folder.filePath("huge.jpg"), stored, bytes));
    }
    QVERIFY(!read);
    QVERIFY(image.empty());
    QVERIFY(read_bgr_image(folder.filePath("small.jpg"), image, bytes));
    QCOMPARE(image.cols, 64);
}

// The frames' encoder replaces Qt's writer for speed: the files must not change.
void JpegDecodingTest::frames_are_encoded_as_qt_encodes_them()
{
    const cv::Mat bgr = test_picture(203, 117); // not a whole number of blocks
    QImage picture(bgr.cols, bgr.rows, QImage::Format_RGB32);
    for (int y = 0; y < bgr.rows; ++y) {
        for (int x = 0; x < bgr.cols; ++x) {
            const cv::Vec3b p = bgr.at<cv::Vec3b>(y, x);
            picture.setPixel(x, y, qRgb(p[2], p[1], p[0]));
        }
    }
    QByteArray encoded;
    // Matched colours make 3-byte frames, the others 32-bit ones.
    for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_RGB888}) {
        picture = picture.convertToFormat(format);
        for (const int quality : {100, 85, 20}) {
            // 300 dpi is a whole number per inch, 11811 dots per metre one per centimetre.
            for (const int per_metre : {11811, 3937, 2835}) {
                picture.setDotsPerMeterX(per_metre);
                picture.setDotsPerMeterY(per_metre);
                QByteArray qt;
                QBuffer buffer(&qt);
                QVERIFY(buffer.open(QIODevice::WriteOnly) &&
                        picture.save(&buffer, "jpg", quality));
                // The same array again: what an earlier, larger picture left must not show.
                QCOMPARE(encode_jpeg(picture, quality, encoded), QString());
                QVERIFY2(encoded == qt, qPrintable(QString("format %1, quality %2, %3 dots per metre")
                                                       .arg(format)
                                                       .arg(quality)
                                                       .arg(per_metre)));
            }
        }
    }
    QVERIFY(!encode_jpeg(QImage(), 85, encoded).isEmpty());
}

QTEST_GUILESS_MAIN(JpegDecodingTest)
#include "jpeg_decoding_test.moc"
