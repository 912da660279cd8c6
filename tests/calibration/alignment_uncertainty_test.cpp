// The frame-corner error of a camera aligned from uncertain sticker centres:
// for a known bad fit, the corners move by what the geometry says, and the
// uncertainty a sticker's error allows matches the worst such move.
#include "calibration/alignment_uncertainty.h"

#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(cv::Point2d)

namespace {

// A column of stickers 200 px apart around the origin, already where the
// reference has them, and a 1600 x 1200 frame centred on it.
const std::array<cv::Point2d, 3> column{{{0, -200}, {0, 0}, {0, 200}}};
const std::array<cv::Point2d, 4> corners{{{-800, -600}, {800, -600}, {800, 600}, {-800, 600}}};
// An outer sticker off by d turns the fit by d / 400 rad and moves it by
// d / 3: the corner that both push the same way moves by
// |(1.5 + 2i) + 1/3| d = 2.7131 d.
const double outer = std::hypot(1.5 + 1.0 / 3.0, 2.0);

} // namespace

class AlignmentUncertaintyTest : public QObject
{
    Q_OBJECT

private slots:
    void known_bad_fit_data();
    void known_bad_fit();
    void no_fit_has_no_uncertainty();
};

void AlignmentUncertaintyTest::known_bad_fit_data()
{
    QTest::addColumn<int>("sticker");
    QTest::addColumn<cv::Point2d>("error");
    QTest::addColumn<double>("corner_shift");

    QTest::newRow("top sticker 1 px across the column") << 0 << cv::Point2d(1, 0) << outer;
    QTest::newRow("top sticker 1 px along the column") << 0 << cv::Point2d(0, 1) << outer;
    QTest::newRow("bottom sticker 2 px off") << 2 << cv::Point2d(0, -2) << 2 * outer;
    // The middle one only moves the whole fit, by a third of its error.
    QTest::newRow("middle sticker 1 px off") << 1 << cv::Point2d(1, 0) << 1.0 / 3.0;
}

void AlignmentUncertaintyTest::known_bad_fit()
{
    QFETCH(int, sticker);
    QFETCH(cv::Point2d, error);
    QFETCH(double, corner_shift);

    std::array<cv::Point2d, 3> clicked = column;
    clicked[sticker] += error;
    const std::optional<Similarity> bad = fit_similarity(clicked, column);
    const std::optional<Similarity> good = fit_similarity(column, column);
    QVERIFY(bad && good);
    const double shift = frame_corner_shift(*bad, *good, corners);
    // The figures above are to first order; the fit's scale changes too, by
    // parts in a million of the corners' 1000 px.
    const double close = 0.01 + 0.005 * corner_shift;
    QVERIFY2(std::abs(shift - corner_shift) < close, qPrintable(QString::number(shift)));

    // The uncertainty that error allows is the move it makes at worst: in this
    // geometry any direction of it moves the worst corner alike.
    std::array<double, 3> uncertainty{};
    uncertainty[sticker] = cv::norm(error);
    const double said = frame_corner_uncertainty(column, uncertainty, column, corners);
    QVERIFY2(std::abs(said - corner_shift) < close, qPrintable(QString::number(said)));
    // Twice as uncertain, twice the error.
    uncertainty[sticker] *= 2;
    QVERIFY(std::abs(frame_corner_uncertainty(column, uncertainty, column, corners) - 2 * said) <
            0.004 * said);
    // Errors of several stickers add up, as independent errors do.
    const double all = frame_corner_uncertainty(column, {1, 1, 1}, column, corners);
    QVERIFY(all > outer && all < 2 * outer + 1.0 / 3.0);
}

void AlignmentUncertaintyTest::no_fit_has_no_uncertainty()
{
    const std::array<cv::Point2d, 3> one_point{{{5, 5}, {5, 5}, {5, 5}}};
    QVERIFY(frame_corner_uncertainty(one_point, {1, 1, 1}, column, corners) < 0.0);
    QCOMPARE(frame_corner_uncertainty(column, {0, 0, 0}, column, corners), 0.0);
}

QTEST_APPLESS_MAIN(AlignmentUncertaintyTest)
#include "alignment_uncertainty_test.moc"
