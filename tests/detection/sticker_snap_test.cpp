// Clicks snapping to their sticker: from the centre, the edge or beside the
// disc, on coloured stickers and on grey covers; never onto a neighbour; and
// left as placed, with the status saying so, when nothing round is near.
#include "detection/sticker_snap.h"
#include "tests/support/sticker_drawing.h"
#include "tools/make_rig/rig_scene.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(cv::Point2d)
Q_DECLARE_METATYPE(SnapMethod)

namespace {

const cv::Point2d centre(200.3, 150.6);
constexpr double radius = 14.0;
const cv::Scalar cover(60, 60, 60);
const cv::Scalar label(160, 160, 160);

enum class Look
{
    Sticker,          // the sticker's colour
    CoverOnLabel,     // a grey cap on a lighter grey label
    CoverOnScene      // a grey cap straight on the textured scene, lighter than it all round
};

cv::Mat picture_with(Look look, cv::Point2d at = centre, double r = radius)
{
    cv::Mat photo = draw_background({400, 300}, 3);
    const cv::Scalar sticker = sticker_bgr(StickerColor::Yellow);
    switch (look) {
    case Look::Sticker:
        paint_disc(photo, at, r, sticker);
        break;
    case Look::CoverOnLabel:
        paint_disc(photo, at, 1.4 * r, label);
        paint_disc(photo, at, r, cover);
        break;
    case Look::CoverOnScene:
        photo += cv::Scalar(70, 70, 70);
        paint_disc(photo, at, r, cover);
        break;
    }
    return photo;
}

const std::optional<StickerMatch> yellow = StickerMatch(thresholds_for(StickerColor::Yellow));

} // namespace

Q_DECLARE_METATYPE(Look)

class StickerSnapTest : public QObject
{
    Q_OBJECT

private slots:
    void click_lands_on_the_centre_data();
    void click_lands_on_the_centre();
    void neighbour_is_never_taken_data();
    void neighbour_is_never_taken();
    void nothing_round_keeps_the_click_data();
    void nothing_round_keeps_the_click();
};

void StickerSnapTest::click_lands_on_the_centre_data()
{
    QTest::addColumn<Look>("look");
    QTest::addColumn<cv::Point2d>("offset");
    QTest::addColumn<bool>("colour_known");
    QTest::addColumn<SnapMethod>("method");

    const cv::Point2d edge(radius, 0.0);
    const cv::Point2d beside(-0.7 * radius, 1.2 * radius); // just outside the disc
    QTest::newRow("sticker, 3 px off") << Look::Sticker << cv::Point2d(3, -1) << true
                                       << SnapMethod::Colour;
    QTest::newRow("sticker, 8 px off") << Look::Sticker << cv::Point2d(-5.7, 5.7) << true
                                       << SnapMethod::Colour;
    QTest::newRow("sticker, on the edge") << Look::Sticker << edge << true << SnapMethod::Colour;
    QTest::newRow("sticker, beside the disc") << Look::Sticker << beside << true
                                              << SnapMethod::Colour;
    QTest::newRow("sticker, colour not known") << Look::Sticker << cv::Point2d(2, 3) << false
                                               << SnapMethod::Contrast;
    QTest::newRow("cover on its label, 4 px off")
        << Look::CoverOnLabel << cv::Point2d(0, 4) << true << SnapMethod::Contrast;
    QTest::newRow("cover on its label, on the edge")
        << Look::CoverOnLabel << -edge << true << SnapMethod::Contrast;
    QTest::newRow("cover on its label, beside the disc")
        << Look::CoverOnLabel << beside << true << SnapMethod::Contrast;
    QTest::newRow("cover on the scene, 3 px off")
        << Look::CoverOnScene << cv::Point2d(-2, 2) << false << SnapMethod::Contrast;
    QTest::newRow("cover on the scene, on the edge")
        << Look::CoverOnScene << cv::Point2d(0, radius) << true << SnapMethod::Contrast;
}

void StickerSnapTest::click_lands_on_the_centre()
{
    QFETCH(Look, look);
    QFETCH(cv::Point2d, offset);
    QFETCH(bool, colour_known);
    QFETCH(SnapMethod, method);

    const cv::Mat photo = picture_with(look);
    const StickerSnap snap =
        snap_to_sticker(photo, centre + offset, colour_known ? yellow : std::nullopt);
    QCOMPARE(snap.method, method);
    // The sticker's rim, cut by colour or grey, shifts with the scene's colours
    // behind it (the detection's centroid does alike); a plain label keeps it
    // true.
    const double off = cv::norm(snap.point - centre);
    QVERIFY2(off < (look == Look::CoverOnLabel ? 0.1 : 0.25), qPrintable(QString::number(off)));
    QVERIFY(std::abs(snap.radius - radius) < 1.0);
    // A fraction of a pixel, yet not nothing: the check view builds on it.
    QVERIFY(snap.uncertainty > 0.0 && snap.uncertainty < 0.5);
    QVERIFY2(snap.uncertainty >= off / 2,
             qPrintable(QStringLiteral("%1 off, said %2").arg(off).arg(snap.uncertainty)));
    QVERIFY(!snap.status().contains(QStringLiteral("gardé tel quel")));
}

void StickerSnapTest::neighbour_is_never_taken_data()
{
    QTest::addColumn<Look>("look");
    QTest::addColumn<cv::Point2d>("neighbour");
    QTest::addColumn<double>("neighbour_radius");
    QTest::addColumn<cv::Point2d>("click");
    QTest::addColumn<double>("expected_radius");
    QTest::addColumn<cv::Point2d>("meant");

    // A neighbour 40 px to the right: the gap between the discs is 12 px.
    const cv::Point2d right = centre + cv::Point2d(40, 0);
    QTest::newRow("inside, by the edge facing the neighbour")
        << Look::Sticker << right << radius << centre + cv::Point2d(12, 0) << 0.0 << centre;
    QTest::newRow("in the gap, nearer this one")
        << Look::Sticker << right << radius << centre + cv::Point2d(18, 1) << 0.0 << centre;
    QTest::newRow("in the gap, nearer the neighbour")
        << Look::Sticker << right << radius << centre + cv::Point2d(23, 1) << 0.0 << right;
    QTest::newRow("covers, by the edge facing the neighbour")
        << Look::CoverOnScene << right << radius << centre + cv::Point2d(12, 0) << 0.0 << centre;
    QTest::newRow("a larger neighbour does not outweigh the click")
        << Look::Sticker << centre + cv::Point2d(0, 52) << 30.0 << centre + cv::Point2d(0, 10)
        << 0.0 << centre;
    // A speck beside the click is a round blob too, unless the size is known.
    const cv::Point2d speck = centre + cv::Point2d(-radius - 9, 0);
    QTest::newRow("a speck nearest the click, size unknown")
        << Look::Sticker << speck << 4.0 << speck + cv::Point2d(0, 5) << 0.0 << speck;
    QTest::newRow("a speck nearest the click, size known")
        << Look::Sticker << speck << 4.0 << speck + cv::Point2d(0, 5) << radius << centre;
}

void StickerSnapTest::neighbour_is_never_taken()
{
    QFETCH(Look, look);
    QFETCH(cv::Point2d, neighbour);
    QFETCH(double, neighbour_radius);
    QFETCH(cv::Point2d, click);
    QFETCH(double, expected_radius);
    QFETCH(cv::Point2d, meant);

    cv::Mat photo = picture_with(look);
    paint_disc(photo, neighbour, neighbour_radius,
               look == Look::Sticker ? sticker_bgr(StickerColor::Yellow) : cover);
    const StickerSnap snap = snap_to_sticker(photo, click, yellow, expected_radius);
    QVERIFY(snap.snapped());
    const double off = cv::norm(snap.point - meant);
    QVERIFY2(off < 0.25, qPrintable(QStringLiteral("(%1, %2)").arg(snap.point.x).arg(snap.point.y)));
}

void StickerSnapTest::nothing_round_keeps_the_click_data()
{
    QTest::addColumn<int>("shape");
    QTest::addColumn<cv::Point2d>("click");

    // 0: a plain grey field; 1: a square of the sticker's colour; 2: a long
    // stripe of it.
    QTest::newRow("plain field") << 0 << cv::Point2d(100.5, 100.5);
    QTest::newRow("square patch") << 1 << cv::Point2d(103, 98);
    QTest::newRow("long stripe") << 2 << cv::Point2d(100, 101);
    QTest::newRow("outside the photo") << 0 << cv::Point2d(-30, 100);
    QTest::newRow("not a number") << 0 << cv::Point2d(std::nan(""), 100);
}

void StickerSnapTest::nothing_round_keeps_the_click()
{
    QFETCH(int, shape);
    QFETCH(cv::Point2d, click);

    cv::Mat photo(300, 400, CV_8UC3, cv::Scalar(128, 128, 128));
    const cv::Scalar sticker = sticker_bgr(StickerColor::Yellow);
    if (shape == 1)
        cv::rectangle(photo, cv::Rect(80, 80, 40, 40), sticker, cv::FILLED);
    else if (shape == 2)
        cv::rectangle(photo, cv::Rect(30, 95, 140, 12), sticker, cv::FILLED);
    const StickerSnap snap = snap_to_sticker(photo, click, yellow);
    QCOMPARE(snap.method, SnapMethod::None);
    if (std::isfinite(click.x))
        QCOMPARE(snap.point, click);
    QCOMPARE(snap.uncertainty, unsnapped_click_uncertainty);
    QCOMPARE(snap.status(),
             QStringLiteral("Aucun sticker rond trouvé près du clic : point gardé tel quel"));
}

QTEST_APPLESS_MAIN(StickerSnapTest)
#include "sticker_snap_test.moc"
