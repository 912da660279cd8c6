#include "detection/color_thresholds.h"
#include "detection/image_reading.h"
#include "detection/reference_selection.h"
#include "detection/sticker_components.h"
#include "detection/sticker_triple.h"
#include "tests/support/sticker_drawing.h"

#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtTest>

#include <sstream>

Q_DECLARE_METATYPE(std::vector<cv::Point>)
Q_DECLARE_METATYPE(std::vector<ComponentRecord>)
Q_DECLARE_METATYPE(StickerComponents)
Q_DECLARE_METATYPE(ColorThresholds)

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

StickerComponents components_of(int width, int height, std::vector<ComponentRecord> records)
{
    return {width, height, std::move(records)};
}

// A vertical line of three stickers through the middle of a 640 x 480 photo.
const std::vector<cv::Point2d> upright_stickers{{320, 140}, {320, 240}, {320, 340}};

void compare_records(const std::vector<ComponentRecord>& actual,
                     const std::vector<ComponentRecord>& expected)
{
    QCOMPARE(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        QCOMPARE(actual[i].left, expected[i].left);
        QCOMPARE(actual[i].top, expected[i].top);
        QCOMPARE(actual[i].width, expected[i].width);
        QCOMPARE(actual[i].height, expected[i].height);
        QCOMPARE(actual[i].area, expected[i].area);
        // Exact: tie-breaks downstream compare centres for equality.
        QVERIFY(actual[i].centre_x == expected[i].centre_x);
        QVERIFY(actual[i].centre_y == expected[i].centre_y);
    }
}

} // namespace

class DetectionTest : public QObject
{
    Q_OBJECT

private slots:
    void components_data();
    void components();
    void no_sticker_pixel_keeps_the_size();
    void same_blobs_as_labelling_the_whole_photo_data();
    void same_blobs_as_labelling_the_whole_photo();

    void orientation_tag_is_applied();
    void readable_files_data();
    void readable_files();
    void unreadable_files_data();
    void unreadable_files();

    void identify_data();
    void identify();

    void selection_uses_the_middle_photo_data();
    void selection_uses_the_middle_photo();
    void failed_selection_keeps_the_reference_data();
    void failed_selection_keeps_the_reference();
    void selection_on_the_centre_rule_logs_no_new_centroids();
};

void DetectionTest::components_data()
{
    QTest::addColumn<ColorThresholds>("thresholds");
    QTest::addColumn<std::vector<cv::Point>>("pixels");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<std::vector<ComponentRecord>>("expected");

    const QColor inside_yellow(225, 210, 40);
    QTest::newRow("isolated pixel") << yellow << std::vector<cv::Point>{{50, 40}} << inside_yellow
                                    << std::vector<ComponentRecord>{{45, 35, 11, 11, 121, 50, 40}};
    QTest::newRow("corner pixel") << yellow << std::vector<cv::Point>{{0, 0}} << inside_yellow
                                  << std::vector<ComponentRecord>{{0, 0, 6, 6, 36, 2.5, 2.5}};
    QTest::newRow("dx 10 dy 11 join")
        << yellow << std::vector<cv::Point>{{30, 30}, {40, 41}} << inside_yellow
        << std::vector<ComponentRecord>{{25, 25, 21, 22, 242, 35, 35.5}};
    QTest::newRow("dx 11 dy 10 join")
        << yellow << std::vector<cv::Point>{{30, 30}, {41, 40}} << inside_yellow
        << std::vector<ComponentRecord>{{25, 25, 22, 21, 242, 35.5, 35}};
    QTest::newRow("dx 11 dy 0 join")
        << yellow << std::vector<cv::Point>{{30, 30}, {41, 30}} << inside_yellow
        << std::vector<ComponentRecord>{{25, 25, 22, 11, 242, 35.5, 30}};
    QTest::newRow("dx 11 dy 11 apart")
        << yellow << std::vector<cv::Point>{{30, 30}, {41, 41}} << inside_yellow
        << std::vector<ComponentRecord>{{25, 25, 11, 11, 121, 30, 30},
                                        {36, 36, 11, 11, 121, 41, 41}};
    QTest::newRow("dx 12 dy 0 apart")
        << yellow << std::vector<cv::Point>{{30, 30}, {42, 30}} << inside_yellow
        << std::vector<ComponentRecord>{{25, 25, 11, 11, 121, 30, 30},
                                        {37, 25, 11, 11, 121, 42, 30}};
    // Bounds are inclusive on every channel.
    QTest::newRow("pink red 184 in")
        << pink << std::vector<cv::Point>{{50, 40}} << QColor(184, 100, 0)
        << std::vector<ComponentRecord>{{45, 35, 11, 11, 121, 50, 40}};
    QTest::newRow("pink red 183 out") << pink << std::vector<cv::Point>{{50, 40}}
                                      << QColor(183, 100, 0) << std::vector<ComponentRecord>{};
    QTest::newRow("yellow upper bounds in")
        << yellow << std::vector<cv::Point>{{50, 40}} << QColor(255, 255, 70)
        << std::vector<ComponentRecord>{{45, 35, 11, 11, 121, 50, 40}};
    QTest::newRow("yellow blue 71 out") << yellow << std::vector<cv::Point>{{50, 40}}
                                        << QColor(255, 255, 71) << std::vector<ComponentRecord>{};
}

void DetectionTest::components()
{
    QFETCH(ColorThresholds, thresholds);
    QFETCH(std::vector<cv::Point>, pixels);
    QFETCH(QColor, colour);
    QFETCH(std::vector<ComponentRecord>, expected);

    // Grey lies outside both presets (blue above 165, green above 100 yet red below 150).
    cv::Mat image(80, 100, CV_8UC3, cv::Scalar(200, 120, 90));
    for (const cv::Point& pixel : pixels)
        image.at<cv::Vec3b>(pixel) = cv::Vec3b(colour.blue(), colour.green(), colour.red());

    const StickerComponents found = find_sticker_components(image, thresholds);
    QCOMPARE(found.image_width, 100);
    QCOMPARE(found.image_height, 80);
    compare_records(found.components, expected);
}

void DetectionTest::no_sticker_pixel_keeps_the_size()
{
    const StickerComponents found = find_sticker_components(draw_background({101, 57}), yellow);
    QCOMPARE(found.image_width, 101);
    QCOMPARE(found.image_height, 57);
    QVERIFY(found.components.empty());
    QVERIFY(find_sticker_components(draw_background({101, 57}), pink).components.empty());
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
    std::vector<ComponentRecord> expected;
    for (int label = 1; label < count; ++label) {
        expected.push_back({stats.at<int>(label, 0), stats.at<int>(label, 1),
                            stats.at<int>(label, 2), stats.at<int>(label, 3),
                            stats.at<int>(label, 4), centroids.at<double>(label, 0),
                            centroids.at<double>(label, 1)});
    }
    QVERIFY(!expected.empty());
    compare_records(find_sticker_components(image, yellow).components, expected);
}

void DetectionTest::orientation_tag_is_applied()
{
    // An upright camera: the photo is shown 300 wide and 400 high, stickers one
    // above the other, but its pixels are stored lying on their side.
    QTemporaryDir folder;
    const std::vector<cv::Point2d> shown{{150, 100}, {150, 200}, {150, 300}};
    const QString path =
        write_photo(folder.path(), "upright.jpg", draw_sticker_photo({300, 400}, shown),
                    StoredOrientation::Rotated90);
    QVERIFY(!path.isEmpty());
    // Stored lying down; a reader that honours the tag, as Qt's does, shows it upright.
    QImageReader raw(path);
    raw.setAutoTransform(false);
    QCOMPARE(raw.read().size(), QSize(400, 300));
    QImageReader shown_by_qt(path);
    shown_by_qt.setAutoTransform(true);
    QCOMPARE(shown_by_qt.read().size(), QSize(300, 400));

    const cv::Mat image = read_bgr_image(path);
    QCOMPARE(image.cols, 300);
    QCOMPARE(image.rows, 400);
    std::ostringstream log;
    const StickerComponents found = find_sticker_components(path, yellow, log);
    QCOMPARE(found.components.size(), size_t(3));
    for (size_t i = 0; i < 3; ++i) {
        QVERIFY(std::abs(found.components[i].centre_x - shown[i].x) < 1.0);
        QVERIFY(std::abs(found.components[i].centre_y - shown[i].y) < 1.0);
    }
    QVERIFY(log.str().empty());
}

void DetectionTest::readable_files_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("file_name");
    QTest::addColumn<bool>("progressive");
    QTest::addColumn<QByteArray>("appended");

    QTest::newRow("plain jpeg") << "refs"
                                << "ref_0.jpg" << false << QByteArray();
    QTest::newRow("png") << "refs"
                         << "ref_0.png" << false << QByteArray();
    QTest::newRow("progressive jpeg") << "refs"
                                      << "ref_0.jpg" << true << QByteArray();
    QTest::newRow("bytes after the end marker")
        << "refs"
        << "ref_0.jpg" << false << QByteArray("\0\0camera trailer", 16);
    QTest::newRow("accented folder")
        << QString::fromUtf8("Séance été") << "étalon 1.jpg" << false << QByteArray();
    QTest::newRow("quotes and shell characters") << "it's \"here\" $(touch x); a&b"
                                                 << "ref 0.png" << false << QByteArray();
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
    std::ostringstream log;
    const StickerComponents found = find_sticker_components(path, yellow, log);
    QCOMPARE(found.image_width, 0);
    QCOMPARE(found.image_height, 0);
    QVERIFY(found.components.empty());
    QCOMPARE(lines_of(log), QStringList{"could not read image '" + path + "'"});
}

void DetectionTest::identify_data()
{
    QTest::addColumn<StickerComponents>("components");
    QTest::addColumn<QVector<int>>("indices"); // empty: failure
    QTest::addColumn<int>("rule");
    QTest::addColumn<QStringList>("log"); // empty: not checked

    const QStringList failed{"less than 3 CC : detection failed"};
    const int exactly_three = int(SelectionRule::ExactlyThree);
    const int area_rule = int(SelectionRule::AreaRule);
    const int centre_rule = int(SelectionRule::CentreRule);

    QTest::newRow("none") << components_of(640, 480, {}) << QVector<int>{} << 0 << failed;
    QTest::newRow("two") << components_of(640, 480, {blob(10, 500, 1, 1), blob(5, 500, 2, 2)})
                         << QVector<int>{} << 0 << failed;
    QTest::newRow("three by top") << components_of(640, 480,
                                                   {blob(400, 500, 1, 1), blob(100, 500, 2, 2),
                                                    blob(250, 500, 3, 3)})
                                  << QVector<int>{1, 2, 0} << exactly_three
                                  << QStringList{"3 CC detected : success"};
    QTest::newRow("equal tops keep index order")
        << components_of(640, 480, {blob(100, 9, 1, 1), blob(50, 9, 2, 2), blob(100, 9, 3, 3)})
        << QVector<int>{1, 0, 2} << exactly_three << QStringList{"3 CC detected : success"};
    QTest::newRow("area rule, 700 > 2 x 349")
        << components_of(640, 480,
                         {blob(300, 900, 1, 1), blob(100, 850, 2, 2), blob(200, 700, 3, 3),
                          blob(50, 349, 4, 4)})
        << QVector<int>{1, 2, 0} << area_rule
        << QStringList{"more than 3 CC : computing", "areas of 0 1 2 3", "900 ! 850 ! 700 ! 349",
                       "3rd > 2* 4th"};
    QTest::newRow("five blobs show four areas")
        << components_of(640, 480,
                         {blob(10, 100, 1, 1), blob(300, 900, 2, 2), blob(20, 50, 3, 3),
                          blob(100, 850, 4, 4), blob(200, 700, 5, 5)})
        << QVector<int>{3, 4, 1} << area_rule
        << QStringList{"more than 3 CC : computing", "areas of 0 1 2 3", "900 ! 850 ! 700 ! 100",
                       "3rd > 2* 4th"};
    // 700 = 2 x 350 is not greater: the blob nearest the centre and the two
    // closest to its vertical line win.
    QTest::newRow("centre rule at 700 = 2 x 350")
        << components_of(640, 480,
                         {blob(230, 850, 320, 240), blob(90, 900, 323, 100),
                          blob(370, 700, 317, 380), blob(230, 350, 500, 240)})
        << QVector<int>{1, 0, 2} << centre_rule
        << QStringList{"more than 3 CC : computing",
                       "areas of 0 1 2 3",
                       "900 ! 850 ! 700 ! 350",
                       "distance to center : 0",
                       "distance to center : 140.032",
                       "distance to center : 140.032",
                       "distance to center : 180",
                       "center index : 0",
                       "center coord x: 320 y: 240",
                       "vert align : 0",
                       "vert align : 3",
                       "vert align : 3",
                       "vert align : 180"};
    // (300, 240) and (340, 240) both lie 20 from the centre: the lower index is
    // the centre, and its vertical line picks the outer stickers.
    QTest::newRow("equal distances, lower index is the centre")
        << components_of(640, 480,
                         {blob(230, 500, 300, 240), blob(230, 500, 340, 240),
                          blob(90, 500, 300, 100), blob(370, 500, 300, 380)})
        << QVector<int>{2, 0, 3} << centre_rule << QStringList{};
    QTest::newRow("zero offset comes before a positive one")
        << components_of(640, 480,
                         {blob(230, 500, 320, 240), blob(400, 500, 400, 400),
                          blob(90, 500, 321, 100), blob(290, 500, 320, 300)})
        << QVector<int>{2, 0, 3} << centre_rule << QStringList{};
    QTest::newRow("ordered by top, centre first")
        << components_of(640, 480,
                         {blob(230, 500, 320, 240), blob(290, 500, 320, 300),
                          blob(340, 500, 320, 350), blob(100, 500, 100, 100)})
        << QVector<int>{0, 1, 2} << centre_rule << QStringList{};
    // A 641 x 481 photo has its centre at (320, 240), not (320.5, 240.5).
    QTest::newRow("centre of an odd size")
        << components_of(641, 481,
                         {blob(100, 500, 320.55, 240.5), blob(90, 500, 320.4, 240),
                          blob(50, 500, 320.4, 100), blob(370, 500, 320.55, 380),
                          blob(400, 500, 320.7, 420)})
        << QVector<int>{2, 1, 0} << centre_rule << QStringList{};
}

void DetectionTest::identify()
{
    QFETCH(StickerComponents, components);
    QFETCH(QVector<int>, indices);
    QFETCH(int, rule);
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
    QCOMPARE(int(identified->rule), rule);
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
    QTest::newRow("one") << 1 << 0;
    QTest::newRow("two") << 2 << 1;
    QTest::newRow("four") << 4 << 2;
    QTest::newRow("five") << 5 << 2;
}

void DetectionTest::selection_uses_the_middle_photo()
{
    QFETCH(int, count);
    QFETCH(int, middle);

    // Only the middle photo shows stickers; lossless so the centroids are exact.
    QTemporaryDir folder;
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const cv::Mat photo = i == middle ? draw_sticker_photo({640, 480}, upright_stickers)
                                          : draw_background({640, 480}, i + 7);
        paths << write_photo(folder.path(), QString("ref_%1.png").arg(i), photo);
    }

    ReferenceTriple reference;
    std::ostringstream log;
    QVERIFY(select_reference(paths, yellow, reference, log));
    QVERIFY(reference.selected);
    for (int k = 0; k < 3; ++k)
        QCOMPARE(reference.points[k], upright_stickers[k]);
    QCOMPARE(lines_of(log), (QStringList{"3 CC detected : success", "Reference chosen :",
                                         "x = 320 y = 140", "x = 320 y = 240", "x = 320 y = 340"}));
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

void DetectionTest::selection_on_the_centre_rule_logs_no_new_centroids()
{
    // A fourth blob as large as a sticker, off to the side, defeats the area rule.
    QTemporaryDir folder;
    cv::Mat photo = draw_sticker_photo({640, 480}, upright_stickers);
    draw_stickers(photo, {{560, 400}}, 12.0, StickerColor::Yellow);
    const QString path = write_photo(folder.path(), "ref.png", photo);

    ReferenceTriple reference;
    std::ostringstream log;
    QVERIFY(select_reference({path}, yellow, reference, log));
    const QStringList lines = lines_of(log);
    QCOMPARE(lines.size(), 17);
    QCOMPARE(lines[0], QString("more than 3 CC : computing"));
    QCOMPARE(lines[3], QString("distance to center : 100"));
    QCOMPARE(lines[7], QString("center index : 1"));
    QCOMPARE(lines[8], QString("center coord x: 320 y: 240"));
    QCOMPARE(lines[12], QString("vert align : 240"));
    QCOMPARE(lines.mid(13), (QStringList{"Reference chosen :", "x = 320 y = 140", "x = 320 y = 240",
                                         "x = 320 y = 340"}));
    QVERIFY(log.str().find("newcentroids") == std::string::npos);
}

QTEST_GUILESS_MAIN(DetectionTest)
#include "detection_test.moc"
