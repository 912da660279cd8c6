#include "detection/color_thresholds.h"
#include "detection/reference_selection.h"
#include "detection/sticker_components.h"
#include "detection/sticker_triple.h"
#include "photo/image_reading.h"
#include "tests/support/sticker_drawing.h"

#include <opencv2/imgproc.hpp>

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sstream>

using Pixels = std::vector<cv::Point>;
using Records = std::vector<ComponentRecord>;
Q_DECLARE_METATYPE(Pixels)
Q_DECLARE_METATYPE(cv::Scalar)
Q_DECLARE_METATYPE(Records)
Q_DECLARE_METATYPE(StickerComponents)
Q_DECLARE_METATYPE(ColorThresholds)
Q_DECLARE_METATYPE(SelectionRule)

namespace {

const ColorThresholds yellow = thresholds_for(StickerColor::Yellow);
const ColorThresholds pink = thresholds_for(StickerColor::Pink);

QStringList lines_of(const std::ostringstream& log)
{
    return QString::fromStdString(log.str()).split('\n', Qt::SkipEmptyParts);
}

ComponentRecord blob(int top, int area, double x, double y)
{
    ComponentRecord record;
    record.top = top;
    record.area = area;
    record.centre_x = x;
    record.centre_y = y;
    return record;
}

StickerComponents blobs(Records records, int width = 640, int height = 480)
{
    return {width, height, std::move(records)};
}

// `count` bytes of noise, the same on every run.
QByteArray random_bytes(int count)
{
    QRandomGenerator generator(15);
    QByteArray bytes(count, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    return bytes;
}

const QByteArray png_signature("\x89PNG\r\n\x1A\n", 8);

// A PNG chunk with its CRC-32, so that only its content can be refused.
QByteArray png_chunk(const QByteArray& type, const QByteArray& data)
{
    const QByteArray covered = type + data;
    quint32 crc = 0xFFFFFFFFu;
    for (char byte : covered) {
        crc ^= static_cast<quint8>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    QByteArray chunk;
    QDataStream out(&chunk, QIODevice::WriteOnly); // big-endian, as PNG wants
    out << quint32(data.size());
    out.writeRawData(covered.constData(), covered.size());
    out << (crc ^ 0xFFFFFFFFu);
    return chunk;
}

// A PNG whose header announces `width` x `height` 8-bit RGB pixels and holds none.
QByteArray png_of_size(quint32 width, quint32 height)
{
    QByteArray header;
    QDataStream out(&header, QIODevice::WriteOnly);
    out << width << height << quint8(8) << quint8(2) << quint8(0) << quint8(0) << quint8(0);
    return png_signature + png_chunk("IHDR", header) + png_chunk("IEND", {});
}

// A vertical line of three stickers through the middle of a 640 x 480 photo.
const std::vector<cv::Point2d> upright_stickers{{320, 140}, {320, 240}, {320, 340}};

// One line per record; 17 digits keep the centres exact, as tie-breaks downstream
// compare them for equality.
QStringList described(const Records& records)
{
    QStringList lines;
    for (const ComponentRecord& r : records) {
        lines << QString::asprintf("%d %d %d %d %d %.17g %.17g", r.left, r.top, r.width, r.height,
                                   r.area, r.centre_x, r.centre_y);
    }
    return lines;
}

// Pixels of `colour` on a 100 x 80 grey photo, thresholded with `thresholds`.
void components_row(const char* name, const Pixels& pixels, const Records& expected,
                    const ColorThresholds& thresholds = yellow,
                    const QColor& colour = QColor(225, 210, 40))
{
    QTest::newRow(name) << thresholds << pixels << colour << expected;
}

// `indices`: the top, middle and bottom rows, empty for a failure; `log` is checked
// when not empty.
void identify_row(const char* name, const StickerComponents& found, const QVector<int>& indices,
                  SelectionRule rule, const QStringList& log = {})
{
    QTest::newRow(name) << found << indices << rule << log;
}

} // namespace

class DetectionTest : public QObject
{
    Q_OBJECT

private slots:
    void components_data();
    void components();
    void same_blobs_as_labelling_the_whole_photo_data();
    void same_blobs_as_labelling_the_whole_photo();

    void orientation_tag_is_applied();
    void readable_files_data();
    void readable_files();
    void unreadable_files_data();
    void unreadable_files();
    void reused_buffers_read_every_photo_data();
    void reused_buffers_read_every_photo();

    void identify_data();
    void identify();

    void selection_uses_the_middle_photo_data();
    void selection_uses_the_middle_photo();
    void failed_selection_keeps_the_reference_data();
    void failed_selection_keeps_the_reference();
};

void DetectionTest::components_data()
{
    QTest::addColumn<ColorThresholds>("thresholds");
    QTest::addColumn<Pixels>("pixels");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<Records>("expected");

    components_row("isolated pixel", {{50, 40}}, {{45, 35, 11, 11, 121, 50, 40}});
    components_row("corner pixel", {{0, 0}}, {{0, 0, 6, 6, 36, 2.5, 2.5}});
    components_row("dx 10 dy 11 join", {{30, 30}, {40, 41}}, {{25, 25, 21, 22, 242, 35, 35.5}});
    components_row("dx 11 dy 10 join", {{30, 30}, {41, 40}}, {{25, 25, 22, 21, 242, 35.5, 35}});
    components_row("dx 11 dy 11 apart", {{30, 30}, {41, 41}},
                   {{25, 25, 11, 11, 121, 30, 30}, {36, 36, 11, 11, 121, 41, 41}});
    components_row("dx 12 dy 0 apart", {{30, 30}, {42, 30}},
                   {{25, 25, 11, 11, 121, 30, 30}, {37, 25, 11, 11, 121, 42, 30}});
    // Bounds are inclusive on every channel; a photo without a kept pixel keeps its size.
    const Records one{{45, 35, 11, 11, 121, 50, 40}};
    components_row("pink red 184 in", {{50, 40}}, one, pink, QColor(184, 100, 0));
    components_row("pink red 183 out", {{50, 40}}, {}, pink, QColor(183, 100, 0));
    components_row("yellow upper bounds in", {{50, 40}}, one, yellow, QColor(255, 255, 70));
    components_row("yellow blue 71 out", {{50, 40}}, {}, yellow, QColor(255, 255, 71));
}

void DetectionTest::components()
{
    QFETCH(ColorThresholds, thresholds);
    QFETCH(Pixels, pixels);
    QFETCH(QColor, colour);
    QFETCH(Records, expected);

    // Grey lies outside both presets (blue above 165, green above 100 yet red below 150).
    cv::Mat image(80, 100, CV_8UC3, cv::Scalar(200, 120, 90));
    for (const cv::Point& pixel : pixels)
        image.at<cv::Vec3b>(pixel) = cv::Vec3b(colour.blue(), colour.green(), colour.red());

    const StickerComponents found = find_sticker_components(image, thresholds);
    QCOMPARE(found.image_width, 100);
    QCOMPARE(found.image_height, 80);
    QCOMPARE(described(found.components), described(expected));
}

void DetectionTest::same_blobs_as_labelling_the_whole_photo_data()
{
    QTest::addColumn<int>("seed");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("specks");
    QTest::newRow("few specks") << 1 << QSize(641, 481) << 5;
    QTest::newRow("many specks") << 2 << QSize(640, 480) << 400;
    QTest::newRow("odd corner specks") << 3 << QSize(333, 201) << 60;
    QTest::newRow("crowded") << 4 << QSize(160, 120) << 300;
}

// Labelling only the box around the kept pixels must not change a blob's
// statistics or its place in the list (which breaks ties later).
void DetectionTest::same_blobs_as_labelling_the_whole_photo()
{
    QFETCH(int, seed);
    QFETCH(QSize, size);
    QFETCH(int, specks);

    cv::RNG rng(seed);
    cv::Mat image = draw_background({size.width(), size.height()}, seed);
    for (int i = 0; i < specks; ++i) {
        const cv::Point corner(rng.uniform(0, size.width()), rng.uniform(0, size.height()));
        const cv::Point extent(rng.uniform(0, 4), rng.uniform(0, 4));
        cv::rectangle(image, corner, corner + extent, sticker_bgr(StickerColor::Yellow),
                      cv::FILLED);
    }

    cv::Mat mask, labels, stats, centroids;
    cv::inRange(image, cv::Scalar(20, 150, 150), cv::Scalar(70, 255, 255), mask);
    cv::dilate(mask, mask, cv::Mat::ones(11, 11, CV_8U));
    const int count = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 4, CV_32S);
    Records expected;
    for (int label = 1; label < count; ++label) {
        expected.push_back({stats.at<int>(label, 0), stats.at<int>(label, 1),
                            stats.at<int>(label, 2), stats.at<int>(label, 3),
                            stats.at<int>(label, 4), centroids.at<double>(label, 0),
                            centroids.at<double>(label, 1)});
    }
    QVERIFY(!expected.empty());
    QCOMPARE(described(find_sticker_components(image, yellow).components), described(expected));
}

void DetectionTest::orientation_tag_is_applied()
{
    // An upright camera: the photo is shown 300 wide and 400 high, stickers one
    // above the other (unevenly spaced, so that a turn the wrong way shows), but
    // its pixels are stored lying on their side.
    QTemporaryDir folder;
    const std::vector<cv::Point2d> shown{{150, 80}, {150, 200}, {150, 300}};
    const QString path =
        write_photo(folder.path(), "upright.jpg", draw_sticker_photo({300, 400}, shown),
                    StoredOrientation::Rotated90);
    QImageReader stored(path);
    stored.setAutoTransform(false);
    QCOMPARE(stored.read().size(), QSize(400, 300));

    QVERIFY(read_bgr_image(path).size() == cv::Size(300, 400));
    std::ostringstream log;
    const StickerComponents found = find_sticker_components(path, yellow, log);
    QCOMPARE(found.components.size(), size_t(3));
    for (size_t i = 0; i < 3; ++i) {
        const ComponentRecord& blob = found.components[i];
        QVERIFY(cv::norm(cv::Point2d(blob.centre_x, blob.centre_y) - shown[i]) < 1.0);
    }
    QVERIFY(log.str().empty());

    // An orientation entry of an invalid type (found by fuzzing): Qt, which
    // renders the frames, ignores it, so detection must not turn the picture.
    const QString untagged =
        write_photo(folder.path(), "invalid_tag.jpg", draw_sticker_photo({300, 400}, shown),
                    StoredOrientation::InvalidTag);
    QImageReader shown_by_qt(untagged);
    shown_by_qt.setAutoTransform(true);
    QCOMPARE(shown_by_qt.read().size(), QSize(300, 400));
    QVERIFY(read_bgr_image(untagged).size() == cv::Size(300, 400));
}

void DetectionTest::readable_files_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("file_name");
    QTest::addColumn<bool>("progressive");
    QTest::addColumn<QByteArray>("appended");

    const QString refs("refs");
    QTest::newRow("plain jpeg") << refs << "ref_0.jpg" << false << QByteArray();
    QTest::newRow("png") << refs << "ref_0.png" << false << QByteArray();
    QTest::newRow("progressive jpeg") << refs << "ref_0.jpg" << true << QByteArray();
    QTest::newRow("bytes after the end marker")
        << refs << "ref_0.jpg" << false << QByteArray("\0\0camera trailer", 16);
    QTest::newRow("accented folder")
        << QString::fromUtf8("Séance été") << "étalon 1.jpg" << false << QByteArray();
    QTest::newRow("quotes and shell characters")
        << QString("it's \"here\" $(touch x); a&b") << "ref 0.png" << false << QByteArray();
}

void DetectionTest::readable_files()
{
    QFETCH(QString, folder);
    QFETCH(QString, file_name);
    QFETCH(bool, progressive);
    QFETCH(QByteArray, appended);

    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath(folder));
    const QString directory = QDir(root.path()).filePath(folder);
    const cv::Mat photo = draw_sticker_photo({640, 480}, upright_stickers);
    QString path;
    if (progressive) {
        path = QDir(directory).filePath(file_name);
        cv::Mat rgb;
        cv::cvtColor(photo, rgb, cv::COLOR_BGR2RGB);
        QImageWriter writer(path);
        writer.setProgressiveScanWrite(true);
        QVERIFY(writer.write(
            QImage(rgb.data, rgb.cols, rgb.rows, int(rgb.step), QImage::Format_RGB888)));
    } else {
        path = write_photo(directory, file_name, photo);
    }
    QVERIFY(!path.isEmpty());
    if (!appended.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        file.write(appended);
    }

    std::ostringstream log;
    const StickerComponents found = find_sticker_components(path, yellow, log);
    QCOMPARE(found.image_width, 640);
    QCOMPARE(found.components.size(), size_t(3));
    QVERIFY(std::abs(found.components[1].centre_y - 240) < 1.0);
    QCOMPARE(log.str(), std::string());
}

void DetectionTest::unreadable_files_data()
{
    QTest::addColumn<QString>("file_name");
    QTest::addColumn<QByteArray>("content"); // null: no file at all
    QTest::addColumn<int>("kept_bytes");     // of a real photo; -1 keeps `content`

    QTest::newRow("missing") << "missing.jpg" << QByteArray() << -1;
    QTest::newRow("empty") << "empty.jpg" << QByteArray("") << -1;
    QTest::newRow("text") << "notes.jpg" << QByteArray("not a picture at all\n") << -1;
    QTest::newRow("truncated jpeg") << "cut.jpg" << QByteArray() << 6000;
    QTest::newRow("jpeg cut in its header") << "cut.jpg" << QByteArray() << 100;
    QTest::newRow("truncated png") << "cut.png" << QByteArray() << 6000;
    // Bytes OpenCV finds no decoder for, or whose header it cannot parse.
    QTest::newRow("random bytes") << "noise.jpg" << random_bytes(4096) << -1;
    QTest::newRow("jpeg markers only") << "bare.jpg" << QByteArray("\xFF\xD8\xFF\xD9", 4) << -1;
    QTest::newRow("png signature only") << "bare.png" << png_signature << -1;
    QTest::newRow("png of 0 x 0") << "empty.png" << png_of_size(0, 0) << -1;
}

void DetectionTest::unreadable_files()
{
    QFETCH(QString, file_name);
    QFETCH(QByteArray, content);
    QFETCH(int, kept_bytes);

    QTemporaryDir folder;
    const QString path = QDir(folder.path()).filePath(file_name);
    if (kept_bytes >= 0) {
        write_photo(folder.path(), file_name, draw_sticker_photo({640, 480}, upright_stickers));
        QFile file(path);
        QVERIFY(file.size() > kept_bytes);
        QVERIFY(file.resize(kept_bytes));
    } else if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QVERIFY(read_bgr_image(path).empty());
    // Fresh buffers, then those of a worker that has just read a sound photo of
    // the same size: the failed read must not hand back the earlier pixels.
    ComponentScratch scratch;
    const QString sound =
        write_photo(folder.path(), "sound.png", draw_sticker_photo({640, 480}, upright_stickers));
    for (bool after_sound : {false, true}) {
        if (after_sound) {
            std::ostringstream quiet;
            QCOMPARE(find_sticker_components(sound, yellow, quiet, scratch).components.size(),
                     size_t(3));
        }
        std::ostringstream log;
        const StickerComponents found = find_sticker_components(path, yellow, log, scratch);
        QCOMPARE(found.image_width, 0);
        QCOMPARE(found.image_height, 0);
        QVERIFY(found.components.empty());
        QCOMPARE(lines_of(log), QStringList{"could not read image '" + path + "'"});
        QVERIFY(scratch.image.empty());
    }
}

void DetectionTest::reused_buffers_read_every_photo_data()
{
    QTest::addColumn<cv::Scalar>("corners"); // BGR
    QTest::newRow("black corners") << cv::Scalar(0, 0, 0);
    // The colour the reader marks a reused buffer's corners with before decoding.
    QTest::newRow("corners of the reader's mark") << cv::Scalar(3, 251, 7);
}

// Photo after photo through one set of buffers, each read as it is.
void DetectionTest::reused_buffers_read_every_photo()
{
    QFETCH(cv::Scalar, corners);
    QTemporaryDir folder;
    cv::Mat image;
    QByteArray bytes;
    for (int k = 0; k < 3; ++k) {
        cv::Mat photo = draw_sticker_photo({64, 48}, {{32, 10}, {32, 24}, {32, 38}}, 4.0,
                                           StickerColor::Yellow, k + 1);
        for (const cv::Point corner :
             {cv::Point(0, 0), cv::Point(63, 0), cv::Point(0, 47), cv::Point(63, 47)})
            photo.at<cv::Vec3b>(corner) = cv::Vec3b(corners[0], corners[1], corners[2]);
        const QString path = write_photo(folder.path(), QString("photo_%1.png").arg(k), photo);
        QVERIFY(read_bgr_image(path, image, bytes));
        QCOMPARE(cv::norm(image, photo, cv::NORM_INF), 0.0);
    }
}

void DetectionTest::identify_data()
{
    QTest::addColumn<StickerComponents>("components");
    QTest::addColumn<QVector<int>>("indices"); // empty: failure
    QTest::addColumn<SelectionRule>("rule");
    QTest::addColumn<QStringList>("log"); // empty: not checked

    using Rule = SelectionRule;
    const QStringList failed{"less than 3 CC : detection failed"};
    const QStringList three{"3 CC detected : success"};
    const QStringList more_than_three{"more than 3 CC : computing", "areas of 0 1 2 3"};

    identify_row("none", blobs({}), {}, Rule::ExactlyThree, failed);
    identify_row("two", blobs({blob(10, 500, 1, 1), blob(5, 500, 2, 2)}), {}, Rule::ExactlyThree,
                 failed);
    identify_row("three by top",
                 blobs({blob(400, 500, 1, 1), blob(100, 500, 2, 2), blob(250, 500, 3, 3)}),
                 {1, 2, 0}, Rule::ExactlyThree, three);
    identify_row("equal tops keep index order",
                 blobs({blob(100, 9, 1, 1), blob(50, 9, 2, 2), blob(100, 9, 3, 3)}), {1, 0, 2},
                 Rule::ExactlyThree, three);
    identify_row("area rule, 700 > 2 x 349",
                 blobs({blob(300, 900, 1, 1), blob(100, 850, 2, 2), blob(200, 700, 3, 3),
                        blob(50, 349, 4, 4)}),
                 {1, 2, 0}, Rule::AreaRule,
                 more_than_three + QStringList{"900 ! 850 ! 700 ! 349", "3rd > 2* 4th"});
    identify_row("five blobs show four areas",
                 blobs({blob(10, 100, 1, 1), blob(300, 900, 2, 2), blob(20, 50, 3, 3),
                        blob(100, 850, 4, 4), blob(200, 700, 5, 5)}),
                 {3, 4, 1}, Rule::AreaRule,
                 more_than_three + QStringList{"900 ! 850 ! 700 ! 100", "3rd > 2* 4th"});
    // 700 = 2 x 350 is not greater: the blob nearest the centre and the two
    // closest to its vertical line win.
    identify_row("centre rule at 700 = 2 x 350",
                 blobs({blob(230, 850, 320, 240), blob(90, 900, 323, 100), blob(370, 700, 317, 380),
                        blob(230, 350, 500, 240)}),
                 {1, 0, 2}, Rule::CentreRule,
                 more_than_three +
                     QStringList{"900 ! 850 ! 700 ! 350", "distance to center : 0",
                                 "distance to center : 140.032", "distance to center : 140.032",
                                 "distance to center : 180", "center index : 0",
                                 "center coord x: 320 y: 240", "vert align : 0", "vert align : 3",
                                 "vert align : 3", "vert align : 180"});
    // (300, 240) and (340, 240) both lie 20 from the centre: the lower index is
    // the centre, and its vertical line picks the outer stickers.
    identify_row("equal distances, lower index is the centre",
                 blobs({blob(230, 500, 300, 240), blob(230, 500, 340, 240), blob(90, 500, 300, 100),
                        blob(370, 500, 300, 380)}),
                 {2, 0, 3}, Rule::CentreRule);
    identify_row("zero offset comes before a positive one",
                 blobs({blob(230, 500, 320, 240), blob(400, 500, 400, 400), blob(90, 500, 321, 100),
                        blob(290, 500, 320, 300)}),
                 {2, 0, 3}, Rule::CentreRule);
    identify_row("ordered by top, centre first",
                 blobs({blob(230, 500, 320, 240), blob(290, 500, 320, 300),
                        blob(340, 500, 320, 350), blob(100, 500, 100, 100)}),
                 {0, 1, 2}, Rule::CentreRule);
    // A 641 x 481 photo has its centre at (320, 240), not (320.5, 240.5).
    identify_row(
        "centre of an odd size",
        blobs({blob(100, 500, 320.55, 240.5), blob(90, 500, 320.4, 240), blob(50, 500, 320.4, 100),
               blob(370, 500, 320.55, 380), blob(400, 500, 320.7, 420)},
              641, 481),
        {2, 1, 0}, Rule::CentreRule);
}

void DetectionTest::identify()
{
    QFETCH(StickerComponents, components);
    QFETCH(QVector<int>, indices);
    QFETCH(SelectionRule, rule);
    QFETCH(QStringList, log);

    std::ostringstream written;
    const std::optional<IdentifiedTriple> identified = identify_sticker_triple(components, written);
    if (!log.isEmpty())
        QCOMPARE(lines_of(written), log);
    QCOMPARE(identified.has_value(), !indices.isEmpty());
    if (!identified)
        return;
    const StickerTriple& triple = identified->triple;
    QCOMPARE((QVector<int>{triple.indices[0], triple.indices[1], triple.indices[2]}), indices);
    QCOMPARE(identified->rule, rule);
    QCOMPARE(triple.centres.size(), components.components.size());
    for (size_t i = 0; i < triple.centres.size(); ++i) {
        QCOMPARE(triple.centres[i].x, components.components[i].centre_x);
        QCOMPARE(triple.centres[i].y, components.components[i].centre_y);
    }
}

void DetectionTest::selection_uses_the_middle_photo_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("middle");
    QTest::addColumn<bool>("fourth_blob");
    QTest::addColumn<QStringList>("identification"); // the lines before "Reference chosen :"

    const QStringList three{"3 CC detected : success"};
    QTest::newRow("one") << 1 << 0 << false << three;
    QTest::newRow("two") << 2 << 1 << false << three;
    QTest::newRow("four") << 4 << 2 << false << three;
    QTest::newRow("five") << 5 << 2 << false << three;
    // A blob as large as a sticker, off to the side, defeats the area rule; only
    // the calibration of a photo lists the centres it chose on the centre rule.
    QTest::newRow("centre rule") << 1 << 0 << true
                                 << QStringList{"more than 3 CC : computing",
                                                "areas of 0 1 2 3",
                                                "1041 ! 1041 ! 1041 ! 1041",
                                                "distance to center : 100",
                                                "distance to center : 0",
                                                "distance to center : 100",
                                                "distance to center : 288.444",
                                                "center index : 1",
                                                "center coord x: 320 y: 240",
                                                "vert align : 0",
                                                "vert align : 0",
                                                "vert align : 0",
                                                "vert align : 240"};
}

void DetectionTest::selection_uses_the_middle_photo()
{
    QFETCH(int, count);
    QFETCH(int, middle);
    QFETCH(bool, fourth_blob);
    QFETCH(QStringList, identification);

    // Only the middle photo shows stickers; lossless so the centroids are exact.
    QTemporaryDir folder;
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        cv::Mat photo = i == middle ? draw_sticker_photo({640, 480}, upright_stickers)
                                    : draw_background({640, 480}, i + 7);
        if (i == middle && fourth_blob)
            draw_stickers(photo, {{560, 400}}, 12.0, StickerColor::Yellow);
        paths << write_photo(folder.path(), QString("ref_%1.png").arg(i), photo);
    }

    ReferenceTriple reference;
    std::ostringstream log;
    QVERIFY(select_reference(paths, yellow, reference, log));
    QVERIFY(reference.selected);
    for (int k = 0; k < 3; ++k)
        QCOMPARE(reference.points[k], upright_stickers[k]);
    identification << "Reference chosen :"
                   << "x = 320 y = 140"
                   << "x = 320 y = 240"
                   << "x = 320 y = 340";
    QCOMPARE(lines_of(log), identification);
}

void DetectionTest::failed_selection_keeps_the_reference_data()
{
    QTest::addColumn<QString>("middle"); // "two stickers", "unreadable" or "none"
    QTest::addColumn<bool>("earlier_selection");
    QTest::newRow("two stickers, first selection") << "two stickers" << false;
    QTest::newRow("two stickers after a selection") << "two stickers" << true;
    QTest::newRow("unreadable middle photo") << "unreadable" << true;
    QTest::newRow("empty list") << "none" << true;
}

void DetectionTest::failed_selection_keeps_the_reference()
{
    QFETCH(QString, middle);
    QFETCH(bool, earlier_selection);

    QTemporaryDir folder;
    QStringList paths;
    QStringList expected_log;
    if (middle == "two stickers") {
        const cv::Mat photo = draw_sticker_photo({640, 480}, {{320, 140}, {320, 340}});
        paths << write_photo(folder.path(), "a.png", photo)
              << write_photo(folder.path(), "b.png", photo);
        expected_log << "less than 3 CC : detection failed";
    } else if (middle == "unreadable") {
        paths << QDir(folder.path()).filePath("gone.jpg");
        expected_log << "could not read image '" + paths[0] + "'"
                     << "less than 3 CC : detection failed";
    } else {
        expected_log << "no reference image : selection failed";
    }

    ReferenceTriple reference;
    if (earlier_selection)
        reference = {{cv::Point2d(1, 2), cv::Point2d(3, 4), cv::Point2d(5, 6)}, true};
    const ReferenceTriple before = reference;

    std::ostringstream log;
    QVERIFY(!select_reference(paths, yellow, reference, log));
    QCOMPARE(reference.selected, before.selected);
    for (int k = 0; k < 3; ++k)
        QCOMPARE(reference.points[k], before.points[k]);
    QCOMPARE(lines_of(log), expected_log);
}

QTEST_GUILESS_MAIN(DetectionTest)
#include "detection_test.moc"
