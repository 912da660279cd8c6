// The sticker colour learned from a click and the mask made from it: which
// clicks teach which colour, which are refused, and whether the three-sticker
// rules then find the stickers in darker, brighter, warmer and cooler pictures.
#include "detection/sticker_colour.h"
#include "detection/sticker_components.h"
#include "detection/sticker_triple.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

#include <array>
#include <cmath>
#include <sstream>

Q_DECLARE_METATYPE(cv::Scalar)
Q_DECLARE_METATYPE(cv::Point)

namespace {

const cv::Scalar yellow(40, 210, 225);
const cv::Scalar pink(110, 40, 225);
const cv::Scalar green(60, 170, 40);
const cv::Scalar blue(200, 110, 30);
const cv::Scalar orange(30, 120, 235);
const cv::Scalar skin(120, 160, 215);

const std::array<cv::Point2d, 3> centres{{{160, 50}, {160, 120}, {160, 190}}};
constexpr int radius = 14;

double hue_of(const cv::Scalar& bgr)
{
    double hue = 0.0, chroma = 0.0;
    hue_and_chroma(int(bgr[0]), int(bgr[1]), int(bgr[2]), hue, chroma);
    return hue;
}

double hue_gap(double a, double b)
{
    const double d = std::fmod(std::abs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

// Grey gradient with patches of colours other than the stickers', and the
// three sticker discs.
cv::Mat draw_picture(const cv::Scalar& sticker, const std::vector<cv::Scalar>& others)
{
    cv::Mat picture(240, 320, CV_8UC3);
    for (int y = 0; y < picture.rows; ++y) {
        const int level = 70 + y * 100 / picture.rows;
        picture.row(y).setTo(cv::Scalar(level, level, level));
    }
    // Clear of the stickers' column.
    const int columns[] = {10, 65, 215, 265};
    for (size_t i = 0; i < others.size(); ++i) {
        const int x = columns[i % 4];
        const int y = 15 + int(i / 4) * 115;
        if (i % 2 == 0)
            cv::rectangle(picture, cv::Rect(x, y, 40, 60), others[i], cv::FILLED);
        else
            cv::ellipse(picture, cv::Point(x + 20, y + 35), cv::Size(18, 30), 20, 0, 360,
                        others[i], cv::FILLED);
    }
    for (const cv::Point2d& c : centres)
        cv::circle(picture, cv::Point(int(c.x), int(c.y)), radius, sticker, cv::FILLED,
                   cv::LINE_8);
    return picture;
}

// The picture as a camera would take it at `ev` stops of exposure under a light
// that leaves blue and red multiplied by `blue_gain` and `red_gain` after
// white balance, with noise of `noise` levels.
cv::Mat photograph(const cv::Mat& scene, double ev, double blue_gain, double red_gain,
                   double noise)
{
    cv::Mat linear;
    scene.convertTo(linear, CV_32FC3, 1.0 / 255.0);
    cv::pow(linear, 2.2, linear);
    cv::multiply(linear, cv::Scalar(blue_gain * std::pow(2.0, ev), std::pow(2.0, ev),
                                    red_gain * std::pow(2.0, ev)),
                 linear);
    cv::min(linear, 1.0, linear);
    cv::pow(linear, 1.0 / 2.2, linear);
    cv::Mat grain(scene.size(), CV_32FC3);
    cv::RNG rng(7);
    rng.fill(grain, cv::RNG::NORMAL, 0.0, noise / 255.0);
    linear += grain;
    cv::Mat photo;
    linear.convertTo(photo, CV_8UC3, 255.0);
    return photo;
}

// The three stickers the rules pick with `match`, top to bottom; empty if none.
std::vector<cv::Point2d> found_stickers(const cv::Mat& photo, const StickerMatch& match)
{
    std::ostringstream log;
    const auto identified = identify_sticker_triple(find_sticker_components(photo, match), log);
    if (!identified)
        return {};
    std::vector<cv::Point2d> points;
    for (int index : identified->triple.indices)
        points.push_back(identified->triple.centres[index]);
    return points;
}

bool at_stickers(const std::vector<cv::Point2d>& points, double tolerance)
{
    if (points.size() != 3)
        return false;
    for (int k = 0; k < 3; ++k) {
        if (cv::norm(points[k] - centres[k]) > tolerance)
            return false;
    }
    return true;
}

} // namespace

class StickerColourTest : public QObject
{
    Q_OBJECT

private slots:
    void learns_the_sticker_around_the_click_data();
    void learns_the_sticker_around_the_click();
    void refuses_a_colourless_click_data();
    void refuses_a_colourless_click();
    void finds_each_colour_under_each_light_data();
    void finds_each_colour_under_each_light();
    void yellow_among_orange_and_skin_is_found_by_the_rules();
    void paler_shapes_of_the_sticker_hue_are_not_stickers_data();
    void paler_shapes_of_the_sticker_hue_are_not_stickers();
    void a_hex_colour_is_a_learned_colour_data();
    void a_hex_colour_is_a_learned_colour();
};

void StickerColourTest::learns_the_sticker_around_the_click_data()
{
    QTest::addColumn<cv::Scalar>("sticker");
    QTest::addColumn<cv::Point>("click");
    QTest::addColumn<bool>("noisy_pixel");
    const cv::Point middle(160, 120);
    QTest::newRow("yellow, centre") << yellow << middle << false;
    QTest::newRow("yellow, on the edge") << yellow << cv::Point(160 + radius, 120) << false;
    QTest::newRow("yellow, just outside") << yellow << cv::Point(160 + radius + 2, 120) << false;
    QTest::newRow("yellow, a noisy pixel") << yellow << middle << true;
    QTest::newRow("blue, on the edge") << blue << cv::Point(160, 120 - radius) << false;
    QTest::newRow("pink, a noisy pixel") << pink << middle << true;
}

void StickerColourTest::learns_the_sticker_around_the_click()
{
    QFETCH(cv::Scalar, sticker);
    QFETCH(cv::Point, click);
    QFETCH(bool, noisy_pixel);
    cv::Mat picture = draw_picture(sticker, {orange, green, skin});
    if (noisy_pixel) {
        // A pixel of another colour, with a few grey ones round it.
        cv::rectangle(picture, cv::Rect(click.x - 1, click.y - 1, 3, 3), cv::Scalar(128, 128, 128),
                      cv::FILLED);
        picture.at<cv::Vec3b>(click) = cv::Vec3b(255, 0, 255);
    }
    const ColourLearning learned = learn_colour(picture, click);
    QVERIFY2(learned.colour, qPrintable(learned.refusal));
    double hue = 0.0, chroma = 0.0;
    hue_and_chroma(int(sticker[0]), int(sticker[1]), int(sticker[2]), hue, chroma);
    QVERIFY2(hue_gap(learned.colour->hue, hue) <= 2.0, qPrintable(QString::number(learned.colour->hue)));
    QVERIFY2(std::abs(learned.colour->chroma - chroma) <= 3.0,
             qPrintable(QString::number(learned.colour->chroma)));
    QVERIFY(at_stickers(found_stickers(picture, *learned.colour), 0.5));
}

void StickerColourTest::refuses_a_colourless_click_data()
{
    QTest::addColumn<cv::Point>("click");
    QTest::addColumn<QString>("reason");
    const QString grey = "pas assez saturée";
    QTest::newRow("grey background") << cv::Point(300, 120) << grey;
    QTest::newRow("white patch") << cv::Point(35, 220) << grey;
    QTest::newRow("black patch") << cv::Point(285, 220) << grey;
    QTest::newRow("outside the photo") << cv::Point(320, 10) << "hors de la photo";
    QTest::newRow("left of the photo") << cv::Point(-1, 10) << "hors de la photo";
}

void StickerColourTest::refuses_a_colourless_click()
{
    QFETCH(cv::Point, click);
    QFETCH(QString, reason);
    cv::Mat picture = draw_picture(yellow, {});
    cv::rectangle(picture, cv::Rect(20, 205, 30, 30), cv::Scalar(250, 250, 250), cv::FILLED);
    cv::rectangle(picture, cv::Rect(270, 205, 30, 30), cv::Scalar(8, 8, 8), cv::FILLED);
    const ColourLearning learned = learn_colour(photograph(picture, 0.0, 1.0, 1.0, 3.0), click);
    QVERIFY(!learned.colour);
    QVERIFY2(learned.refusal.contains(reason), qPrintable(learned.refusal));
}

void StickerColourTest::finds_each_colour_under_each_light_data()
{
    QTest::addColumn<cv::Scalar>("sticker");
    QTest::addColumn<double>("ev");
    QTest::addColumn<double>("blue_gain");
    QTest::addColumn<double>("red_gain");
    const std::vector<std::pair<const char*, cv::Scalar>> colours{
        {"yellow", yellow}, {"pink", pink}, {"green", green}, {"blue", blue}, {"orange", orange}};
    struct Light
    {
        const char* name;
        double blue_gain;
        double red_gain;
    };
    const Light lights[] = {{"warm", 0.7, 1.15}, {"neutral", 1.0, 1.0}, {"cool", 1.2, 0.85}};
    for (const auto& [name, bgr] : colours) {
        for (const Light& light : lights) {
            for (double ev : {-2.0, 0.0, 1.0}) {
                QTest::newRow(qPrintable(QStringLiteral("%1, %2, %3 EV")
                                             .arg(name, light.name)
                                             .arg(ev)))
                    << bgr << ev << light.blue_gain << light.red_gain;
            }
        }
    }
}

// The colour is learned in one camera and must find the stickers of cameras
// half a stop darker and brighter, where the preset's bounds miss them.
void StickerColourTest::finds_each_colour_under_each_light()
{
    QFETCH(cv::Scalar, sticker);
    QFETCH(double, ev);
    QFETCH(double, blue_gain);
    QFETCH(double, red_gain);
    // The other patches are of hues well away from the sticker's.
    std::vector<cv::Scalar> others;
    for (const cv::Scalar& other : {yellow, pink, green, blue, orange, skin}) {
        if (hue_gap(hue_of(other), hue_of(sticker)) > 40.0)
            others.push_back(other);
    }
    const cv::Mat scene = draw_picture(sticker, others);
    const ColourLearning learned =
        learn_colour(photograph(scene, ev, blue_gain, red_gain, 3.0), cv::Point(160, 120));
    QVERIFY2(learned.colour, qPrintable(learned.refusal));
    for (double difference : {-0.5, 0.0, 0.5}) {
        const cv::Mat photo = photograph(scene, ev + difference, blue_gain, red_gain, 3.0);
        QVERIFY2(at_stickers(found_stickers(photo, *learned.colour), 0.5),
                 qPrintable(QStringLiteral("%1 EV: hue %2, chroma %3")
                                .arg(ev + difference)
                                .arg(learned.colour->hue)
                                .arg(learned.colour->chroma)));
    }
}

void StickerColourTest::yellow_among_orange_and_skin_is_found_by_the_rules()
{
    const cv::Mat scene = draw_picture(yellow, {orange, skin, orange, skin, orange, skin});
    for (double ev : {-1.0, 0.0}) {
        const cv::Mat photo = photograph(scene, ev, 0.8, 1.1, 3.0);
        const ColourLearning learned = learn_colour(photo, cv::Point(160, 50), preset_colour(StickerColor::Yellow));
        QVERIFY2(learned.colour, qPrintable(learned.refusal));
        QVERIFY(at_stickers(found_stickers(photo, *learned.colour), 0.5));
    }
}

void StickerColourTest::paler_shapes_of_the_sticker_hue_are_not_stickers_data()
{
    QTest::addColumn<cv::Scalar>("sticker");
    QTest::addColumn<cv::Scalar>("paler");
    QTest::addColumn<double>("ev");
    // Each paler colour has the sticker's hue and about 25 points less chroma:
    // sage beside green, greyish blue beside blue, dusty pink beside pink.
    const cv::Scalar sage(95, 170, 82), greyish_blue(200, 140, 80), dusty_pink(145, 95, 225);
    for (double ev : {0.0, -1.0}) {
        const QString at = QStringLiteral(", %1 EV").arg(ev);
        QTest::newRow(qPrintable("green beside sage" + at)) << green << sage << ev;
        QTest::newRow(qPrintable("blue beside greyish blue" + at)) << blue << greyish_blue << ev;
        QTest::newRow(qPrintable("pink beside dusty pink" + at)) << pink << dusty_pink << ev;
    }
}

// Shapes larger than the stickers in a paler version of their hue: taken into
// the mask, the three largest blobs are theirs and the rules pick them.
void StickerColourTest::paler_shapes_of_the_sticker_hue_are_not_stickers()
{
    QFETCH(cv::Scalar, sticker);
    QFETCH(cv::Scalar, paler);
    QFETCH(double, ev);
    const cv::Mat scene = draw_picture(sticker, {paler, paler, paler, paler});
    const ColourLearning learned =
        learn_colour(photograph(scene, ev, 1.0, 1.0, 3.0), cv::Point(160, 120));
    QVERIFY2(learned.colour, qPrintable(learned.refusal));
    for (double difference : {-0.5, 0.5}) {
        const cv::Mat photo = photograph(scene, ev + difference, 1.0, 1.0, 3.0);
        QVERIFY2(at_stickers(found_stickers(photo, *learned.colour), 0.5),
                 qPrintable(QStringLiteral("%1 EV: hue %2 +- %3, chroma %4 +- %5")
                                .arg(ev + difference)
                                .arg(learned.colour->hue)
                                .arg(learned.colour->hue_tolerance)
                                .arg(learned.colour->chroma)
                                .arg(learned.colour->chroma_tolerance)));
    }
}

void StickerColourTest::a_hex_colour_is_a_learned_colour_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("hue");
    QTest::addColumn<double>("chroma");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("yellow") << "#E1D228" << 55.0 << 82.0 << "";
    QTest::newRow("lower case green") << "#28aa3c" << 129.0 << 76.0 << "";
    QTest::newRow("pure blue") << "#0000FF" << 240.0 << 100.0 << "";
    QTest::newRow("grey") << "#808080" << 0.0 << 0.0 << "pas assez saturée";
    QTest::newRow("black") << "#000000" << 0.0 << 0.0 << "pas assez saturée";
    QTest::newRow("no hash") << "E1D228" << 0.0 << 0.0 << "n'est pas une couleur #RRGGBB";
    QTest::newRow("short") << "#E1D" << 0.0 << 0.0 << "n'est pas une couleur #RRGGBB";
    QTest::newRow("not hex") << "#E1D2G8" << 0.0 << 0.0 << "n'est pas une couleur #RRGGBB";
}

void StickerColourTest::a_hex_colour_is_a_learned_colour()
{
    QFETCH(QString, text);
    QFETCH(double, hue);
    QFETCH(double, chroma);
    QFETCH(QString, refusal);
    const ColourLearning colour = colour_from_hex(text);
    if (!refusal.isEmpty()) {
        QVERIFY(!colour.colour);
        QVERIFY2(colour.refusal.contains(refusal), qPrintable(colour.refusal));
        return;
    }
    QVERIFY2(colour.colour, qPrintable(colour.refusal));
    QCOMPARE(colour.colour->hue, hue);
    QCOMPARE(colour.colour->chroma, chroma);
}

QTEST_GUILESS_MAIN(StickerColourTest)
#include "sticker_colour_test.moc"
