// The videos handed to guests, with the real ffmpeg and ffprobe: the overlay's
// pixels in a decoded picture of each file, the shape cut around the sticker
// column, and the length played with repeats and holds.

#include "output/clip_length.h"
#include "output/clip_shape.h"
#include "output/video_export.h"
#include "output/video_frames.h"
#include "output/video_overlay.h"
#include "support/process_runner.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QMap>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <sstream>

namespace {

// Keeps `frame` for the videos as the frames step does once it is written.
void keep(VideoFrames& kept, int index, const QImage& frame)
{
    keep_video_frame(kept, index,
                     cv::Mat(frame.height(), frame.width(), CV_8UC4,
                             const_cast<uchar*>(frame.constBits()),
                             static_cast<std::size_t>(frame.bytesPerLine())));
}

// Frames whose grey level climbs from 0 at the left edge to 250 at the right
// (a decoded column tells which frame column it was), with frame k's index as
// a white square in the bottom row of squares (a decoded picture tells which
// frame it was).
bool write_frames(const QString& folder, int count, QSize size, VideoFrames* kept)
{
    for (int k = 0; k < count; ++k) {
        QImage frame(size, QImage::Format_RGB32);
        for (int x = 0; x < size.width(); ++x) {
            const int grey = 250 * x / (size.width() - 1);
            for (int y = 0; y < size.height(); ++y)
                frame.setPixel(x, y, qRgb(grey, grey, grey));
        }
        if (!frame.save(QDir(folder).filePath(QString("output_img_%1.jpg").arg(k)), "JPEG", 95))
            return false;
        if (kept)
            keep(*kept, k, frame);
    }
    return true;
}

// Plain frames of one grey, their index in a band of `count` squares along the
// top edge; for the length, where only the order matters.
bool write_index_frames(const QString& folder, int count, QSize size, VideoFrames* kept)
{
    for (int k = 0; k < count; ++k) {
        QImage frame(size, QImage::Format_RGB32);
        frame.fill(QColor(40, 40, 40));
        QPainter(&frame).fillRect(k * size.width() / count, 0, size.width() / count,
                                  size.height(), Qt::white);
        if (!frame.save(QDir(folder).filePath(QString("output_img_%1.jpg").arg(k)), "JPEG", 95))
            return false;
        if (kept)
            keep(*kept, k, frame);
    }
    return true;
}

// A logo: its left half opaque red, its right half blue but fully transparent
// (seen only if the transparency were lost).
QString write_logo(const QString& folder, QSize size)
{
    QImage logo(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            logo.setPixel(x, y, x < size.width() / 2 ? qRgba(255, 0, 0, 255) : qRgba(0, 0, 255, 0));
    const QString path = QDir(folder).filePath("logo.png");
    return logo.save(path, "PNG") ? path : QString();
}

QMap<QString, QString> probe(const QString& path, const QString& entries)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0",
                              "-show_entries", entries, "-of", "default=noprint_wrappers=1", path});
    ffprobe.waitForFinished(-1);
    QMap<QString, QString> stream;
    for (const QString& line : QString::fromUtf8(ffprobe.readAllStandardOutput()).split('\n'))
        stream[line.section('=', 0, 0)] = line.section('=', 1);
    return stream;
}

// Every picture of `path`, decoded to RGB.
QList<QImage> decoded(const QString& path)
{
    const QMap<QString, QString> stream = probe(path, "stream=width,height");
    const QSize size(stream["width"].toInt(), stream["height"].toInt());
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    ffmpeg.waitForFinished(-1);
    const QByteArray pixels = ffmpeg.readAllStandardOutput();
    const int bytes = size.width() * size.height() * 3;
    QList<QImage> pictures;
    for (int at = 0; bytes > 0 && at + bytes <= pixels.size(); at += bytes)
        pictures << QImage(reinterpret_cast<const uchar*>(pixels.constData() + at), size.width(),
                           size.height(), size.width() * 3, QImage::Format_RGB888)
                        .copy();
    return pictures;
}

bool is_red(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 70 && qBlue(pixel) < 70;
}

// The bounding box of the red pixels.
QRect red_box(const QImage& picture)
{
    QRect box;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (is_red(picture.pixel(x, y)))
                box = box.united(QRect(x, y, 1, 1));
    return box;
}

// Which of `count` bands along the picture is the brightest.
int band_of(const QImage& picture, int count)
{
    std::vector<double> light(count);
    for (int x = 0; x < picture.width(); ++x)
        light[x * count / picture.width()] += qGray(picture.pixel(x, picture.height() / 2));
    return int(std::max_element(light.begin(), light.end()) - light.begin());
}

// The camera frame of each picture of `order`, -1 for an in-between frame.
std::vector<int> frames_of(const PictureOrder& order)
{
    std::vector<int> frames;
    for (const PlayedPicture& picture : order)
        frames.push_back(picture.between == 0 ? picture.frame : -1);
    return frames;
}

VideoExport exported(const VideoRequest& request)
{
    ChildProcessRunner runner;
    std::ostringstream log;
    VideoExport result = export_videos(runner, request, log);
    if (!result.succeeded)
        qWarning("%s", log.str().c_str());
    return result;
}

} // namespace

class DeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    void shape_rectangles_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QString>("aspect");
        QTest::addColumn<double>("column");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("original keeps the frame")
            << QSize(640, 360) << "Originale" << 100.0 << QRect(0, 0, 640, 360);
        QTest::newRow("9:16 centred on the column")
            << QSize(640, 360) << "9:16" << 320.0 << QRect(220, 0, 202, 360);
        QTest::newRow("9:16 near the left edge is kept inside")
            << QSize(640, 360) << "9:16" << 20.0 << QRect(0, 0, 202, 360);
        QTest::newRow("9:16 near the right edge is kept inside")
            << QSize(640, 360) << "9:16" << 630.0 << QRect(438, 0, 202, 360);
        QTest::newRow("1:1 off centre") << QSize(640, 360) << "1:1" << 400.0 << QRect(220, 0, 360, 360);
        QTest::newRow("4:5 of a portrait frame")
            << QSize(400, 600) << "4:5" << 200.0 << QRect(0, 50, 400, 500);
        QTest::newRow("16:9 of a square frame cut in height")
            << QSize(500, 500) << "16:9" << 250.0 << QRect(0, 110, 500, 280);
        QTest::newRow("no column: the frame's centre")
            << QSize(640, 360) << "1:1" << std::nan("") << QRect(140, 0, 360, 360);
    }

    void shape_rectangles()
    {
        QFETCH(QSize, frame);
        QFETCH(QString, aspect);
        QFETCH(double, column);
        QFETCH(QRect, expected);
        const QRect clip = clip_rect(frame, *aspect_from_name(aspect), column);
        QCOMPARE(clip, expected);
        QVERIFY(clip.width() % 2 == 0 && clip.height() % 2 == 0 && clip.x() % 2 == 0);
        QVERIFY(QRect(QPoint(0, 0), frame).contains(clip));
    }

    void overlay_places_data()
    {
        QTest::addColumn<QString>("position");
        QTest::addColumn<QRect>("expected");
        // 20 % of 400 is 80 wide, 40 high for a 2:1 logo, 3 % margin is 12 pixels.
        QTest::newRow("top-left") << "top-left" << QRect(12, 12, 80, 40);
        QTest::newRow("top-right") << "top-right" << QRect(308, 12, 80, 40);
        QTest::newRow("bottom-left") << "bottom-left" << QRect(12, 248, 80, 40);
        QTest::newRow("bottom-right") << "bottom-right" << QRect(308, 248, 80, 40);
        QTest::newRow("center") << "center" << QRect(160, 130, 80, 40);
        QTest::newRow("full") << "full" << QRect(0, 0, 400, 300);
    }

    void overlay_places()
    {
        QFETCH(QString, position);
        QFETCH(QRect, expected);
        VideoOverlay overlay;
        overlay.file = "logo.png";
        overlay.position = *overlay_position_from_name(position);
        QCOMPARE(overlay_rect(overlay, QSize(200, 100), QSize(400, 300)), expected);
    }

    void a_tall_logo_is_kept_inside_the_margins()
    {
        VideoOverlay overlay;
        overlay.size_percent = 50;
        overlay.margin_percent = 5;
        // 50 % of 200 would make it 400 high: it is shrunk to the 140 between the margins.
        QCOMPARE(overlay_rect(overlay, QSize(100, 400), QSize(200, 160)), QRect(155, 10, 35, 140));
    }

    void unusable_overlay_files_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing" << "fichier introuvable";
        QTest::newRow("a JPEG named .png") << "jpeg" << "ce n'est pas une image PNG";
        QTest::newRow("empty") << "empty" << "ce n'est pas une image PNG";
        QTest::newRow("huge") << "huge" << "image trop grande (9000 × 4 pixels, au plus 8192 de côté)";
        QTest::newRow("cut short") << "cut" << "image PNG illisible ou incomplète";
    }

    void unusable_overlay_files()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("logo.png");
        QImage picture(kind == "huge" ? QSize(9000, 4) : QSize(300, 200), QImage::Format_ARGB32);
        picture.fill(Qt::red);
        for (int y = 0; y < picture.height(); ++y)
            picture.setPixel(y % picture.width(), y, qRgba(y, 7 * y, 3 * y, y));
        if (kind == "jpeg")
            QVERIFY(picture.save(path, "JPEG"));
        else if (kind == "empty")
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        else if (kind != "missing")
            QVERIFY(picture.save(path, "PNG"));
        if (kind == "cut") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.resize(file.size() / 2));
        }
        QCOMPARE(overlay_problem(path), reason);
        QVERIFY(overlay_problem(write_logo(dir.path(), QSize(20, 10))).isEmpty());
    }

    void play_orders_and_lengths()
    {
        // 6 frames at 24 fps, a quarter second hold: 18 frames forwards.
        const ClipLength length{1.0, 0.25};
        const ClipPlay play = clip_play(6, 24, length);
        QCOMPARE(play.forward_frames, 18);
        QCOMPARE(play.video_repeats, 2);     // 36 frames for at least 24
        QCOMPARE(play.boomerang_repeats, 1); // 24 frames already
        QCOMPARE(clip_play(6, 24, {}).video_frames(), 6);
        QCOMPARE(clip_play(6, 24, {3.0, 0}).boomerang_frames(), 72);
        QCOMPARE(frames_of(forward_order(3, 0, 2)), std::vector<int>({0, 0, 0, 1, 2, 2, 2}));
        QCOMPARE(frames_of(gif_order(3, 0, 1, true)), std::vector<int>({0, 0, 1, 2, 2, 2, 1, 0}));
        // With in-between frames the holds stay on the cameras' first and last
        // frames, and the in-betweens play in both directions.
        QCOMPARE(forward_order(2, 2, 1),
                 PictureOrder({{0, 0}, {0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 0}}));
        QCOMPARE(gif_order(2, 1, 0, true),
                 PictureOrder({{0, 0}, {0, 1}, {1, 0}, {1, 0}, {0, 1}, {0, 0}}));
        QCOMPARE(clip_play(played_picture_count(6, 1), 24, length).video_frames(), 46);
    }

    // The logo where it belongs, its transparent half showing the frame, in a
    // decoded picture of every file; from memory and from the frame files.
    void overlay_on_every_file_data()
    {
        QTest::addColumn<bool>("from_memory");
        QTest::addColumn<int>("long_side");
        QTest::newRow("from the files, original size") << false << 0;
        QTest::newRow("from memory, scaled") << true << 320;
    }

    void overlay_on_every_file()
    {
        QFETCH(bool, from_memory);
        QFETCH(int, long_side);
        QTemporaryDir dir;
        const QSize frames(640, 360);
        const int count = 4;
        VideoFrames kept;
        kept.long_side = long_side;
        kept.gif = true;
        prepare_video_frames(kept, frames, count);
        QVERIFY(write_frames(dir.path(), count, frames, &kept));
        VideoRequest request;
        request.folder = dir.path();
        request.frame_size = frames;
        request.frame_count = count;
        request.boomerang = true;
        request.gif = true;
        request.long_side = long_side;
        request.still = true;
        request.overlay.file = write_logo(dir.path(), QSize(100, 50));
        request.overlay.position = OverlayPosition::TopRight;
        request.overlay.size_percent = 25;
        if (from_memory)
            request.kept = &kept;
        const VideoExport result = exported(request);
        QVERIFY2(result.succeeded, qPrintable(result.error_line));
        QCOMPARE(result.written.size(), 5);
        for (const QString& name : result.written) {
            const QList<QImage> pictures = decoded(dir.filePath(name));
            QVERIFY2(!pictures.isEmpty(), qPrintable(name));
            const QImage& picture = pictures.last();
            // 25 % of the width, half as high, 3 % of the width from the top right.
            const int width = int(std::lround(picture.width() * 0.25));
            const int margin = int(std::lround(picture.width() * 0.03));
            const QRect logo(picture.width() - margin - width, margin, width, width / 2);
            const QRect red(logo.topLeft(), QSize(width / 2, width / 2));
            const QRect box = red_box(picture);
            QVERIFY2(std::abs(box.left() - red.left()) <= 2 && std::abs(box.top() - red.top()) <= 2 &&
                         std::abs(box.right() - red.right()) <= 2 &&
                         std::abs(box.bottom() - red.bottom()) <= 2,
                     qPrintable(QString("%1: red at %2,%3 %4x%5").arg(name).arg(box.x()).arg(box.y())
                                    .arg(box.width()).arg(box.height())));
            // The transparent half shows the frame's grey, as beside the logo.
            const QPoint clear(logo.right() - width / 8, logo.center().y());
            const int expected = 250 * clear.x() / (picture.width() - 1);
            QVERIFY2(std::abs(qGray(picture.pixel(clear)) - expected) < 20, qPrintable(name));
            QVERIFY2(!is_red(picture.pixel(picture.width() / 2, picture.height() / 2)),
                     qPrintable(name));
        }
        // The still is the frame at its full size.
        QCOMPARE(QImage(dir.filePath("output_still.jpg")).size(), frames);
    }

    // The videos show the 9:16 cut around the column: the decoded pictures'
    // left and right columns carry the frame columns of the cut's edges.
    void shape_cut_in_every_file_data()
    {
        QTest::addColumn<bool>("from_memory");
        QTest::newRow("from the files") << false;
        QTest::newRow("from memory") << true;
    }

    void shape_cut_in_every_file()
    {
        QFETCH(bool, from_memory);
        QTemporaryDir dir;
        const QSize frames(640, 360);
        const int count = 3;
        VideoFrames kept;
        kept.aspect = ClipAspect::Tall;
        kept.column_x = 1000 + 450.0; // reference pixels, the frame starting at 1000
        kept.frame_origin = QPoint(1000, 40);
        kept.gif = true;
        prepare_video_frames(kept, frames, count);
        QCOMPARE(kept.clip, QRect(350, 0, 202, 360));
        QVERIFY(write_frames(dir.path(), count, frames, &kept));
        VideoRequest request;
        request.folder = dir.path();
        request.frame_size = frames;
        request.frame_count = count;
        request.gif = true;
        request.boomerang = true;
        request.still = true;
        request.clip = kept.clip;
        if (from_memory)
            request.kept = &kept;
        const VideoExport result = exported(request);
        QVERIFY2(result.succeeded, qPrintable(result.error_line));
        for (const QString& name : result.written) {
            const QImage picture = decoded(dir.filePath(name)).value(0);
            QCOMPARE(picture.size(), QSize(202, 360));
            const int y = picture.height() / 2;
            QVERIFY2(std::abs(qGray(picture.pixel(2, y)) - 250 * 352 / 639) < 12, qPrintable(name));
            QVERIFY2(std::abs(qGray(picture.pixel(199, y)) - 250 * 549 / 639) < 12, qPrintable(name));
        }
    }

    // Frame counts, durations and play order with repeats and holds, and the
    // videos still web-ready: H.264 High at a level phones play, yuv420p, the
    // index first.
    void repeats_and_holds_data()
    {
        QTest::addColumn<bool>("from_memory");
        QTest::addColumn<int>("between");
        // The pictures each video plays: 6 frames (11 with an in-between per
        // pair) and a quarter second hold at each end, for at least a second.
        QTest::addColumn<int>("video_pictures");
        QTest::addColumn<int>("boomerang_pictures");
        QTest::newRow("from the files") << false << 0 << 2 * 18 << 18 + 6;
        QTest::newRow("from memory") << true << 0 << 2 * 18 << 18 + 6;
        QTest::newRow("from memory, an in-between per pair") << true << 1 << 2 * 23 << 23 + 11;
    }

    void repeats_and_holds()
    {
        QFETCH(bool, from_memory);
        QFETCH(int, between);
        QFETCH(int, video_pictures);
        QFETCH(int, boomerang_pictures);
        QTemporaryDir dir;
        const QSize frames(320, 180);
        const int count = 6;
        VideoFrames kept;
        kept.long_side = 1280;
        kept.gif = true;
        kept.between = between;
        prepare_video_frames(kept, frames, count);
        QVERIFY(write_index_frames(dir.path(), count, frames, &kept));
        VideoRequest request;
        request.folder = dir.path();
        request.frame_size = frames;
        request.frame_count = count;
        request.fps = 24;
        request.boomerang = true;
        request.gif = true;
        request.length = {1.0, 0.25};
        request.between = between;
        if (from_memory)
            request.kept = &kept;
        const VideoExport result = exported(request);
        QVERIFY2(result.succeeded, qPrintable(result.error_line));

        const std::vector<int> forward = frames_of(forward_order(count, between, 6));
        std::vector<int> video = forward;
        video.insert(video.end(), forward.begin(), forward.end());
        const std::vector<int> boomerang = frames_of(gif_order(count, between, 6, true));
        QCOMPARE(int(video.size()), video_pictures);
        QCOMPARE(int(boomerang.size()), boomerang_pictures);
        const QMap<QString, std::vector<int>> orders{{"output_video.mp4", video},
                                                     {"output_video_boomerang.mp4", boomerang},
                                                     {"output_video.gif", forward},
                                                     {"output_video_boomerang.gif", boomerang}};
        for (auto file = orders.begin(); file != orders.end(); ++file) {
            // An in-between frame shows no one camera's band.
            std::vector<int> shown;
            const std::vector<int>& expected = file.value();
            for (const QImage& picture : decoded(dir.filePath(file.key())))
                shown.push_back(shown.size() < expected.size() && expected[shown.size()] < 0
                                    ? -1
                                    : band_of(picture, count));
            QCOMPARE(shown, expected);
        }
        const auto seconds = [&](const QString& name) {
            return probe(dir.filePath(name), "format=duration")["duration"].toDouble();
        };
        const auto frame_count = [&](const QString& name) {
            return probe(dir.filePath(name), "stream=nb_read_frames")["nb_read_frames"].toInt();
        };
        QCOMPARE(frame_count("output_video.mp4"), video_pictures);
        QCOMPARE(frame_count("output_video_boomerang.mp4"), boomerang_pictures);
        QVERIFY(std::abs(seconds("output_video.mp4") - video_pictures / 24.0) < 0.03);
        QVERIFY(std::abs(seconds("output_video_boomerang.mp4") - boomerang_pictures / 24.0) < 0.03);
        for (const QString name : {"output_video.mp4", "output_video_boomerang.mp4"}) {
            const QMap<QString, QString> stream =
                probe(dir.filePath(name), "stream=profile,level,pix_fmt,width,height");
            QCOMPARE(stream["profile"], QString("High"));
            QVERIFY(stream["level"].toInt() <= 42);
            QCOMPARE(stream["pix_fmt"], QString("yuv420p"));
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            QVERIFY2(bytes.indexOf("moov") < bytes.indexOf("mdat"), qPrintable(name));
        }
    }
};

QTEST_GUILESS_MAIN(DeliveryTest)
#include "delivery_test.moc"
