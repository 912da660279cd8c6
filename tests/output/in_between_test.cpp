// Frames made between two neighbouring frames: where a moved picture lands, and
// which frame a region seen by one frame only comes from.

#include "output/in_between_frames.h"
#include "output/in_between_pictures.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

namespace {

const cv::Size frame_size(320, 240);

// A smooth random texture, larger than the frames so that moved copies have
// no border; `tint` multiplies its channels.
cv::Mat texture(int seed, cv::Scalar tint)
{
    // Detail at several scales, as in a photo, so that large motion is seen
    // at the flow's coarse levels too.
    const cv::Size size(frame_size.width + 120, frame_size.height + 120);
    cv::Mat sum = cv::Mat::zeros(size, CV_32FC3);
    cv::RNG rng(seed);
    for (const double sigma : {1.5, 4.0, 10.0}) {
        cv::Mat noise(size, CV_32FC3);
        rng.fill(noise, cv::RNG::UNIFORM, -1.0, 1.0);
        cv::GaussianBlur(noise, noise, cv::Size(0, 0), sigma);
        cv::Scalar mean, deviation;
        cv::meanStdDev(noise, mean, deviation);
        sum += noise / deviation[0];
    }
    cv::Mat spread = sum * 25.0 + cv::Scalar::all(127.5);
    cv::multiply(spread, tint, spread);
    cv::Mat out;
    spread.convertTo(out, CV_8UC3);
    return out;
}

// The frame of `source` moved by (dx, dy): frame pixel p shows source pixel
// p - (dx, dy) + the margin.
cv::Mat moved(const cv::Mat& source, double dx, double dy)
{
    const cv::Matx23d shift(1, 0, dx - 60, 0, 1, dy - 60);
    cv::Mat out;
    cv::warpAffine(source, out, shift, frame_size, cv::INTER_CUBIC, cv::BORDER_REFLECT);
    return out;
}

// A background moved by `background_dx` and, in front of it, a square of
// `square_side` pixels (its own texture, red) moved by `square_dx`, its left
// edge at `square_left` before moving.
struct Layered
{
    double background_dx, square_dx;
    int square_left = 120, square_top = 80, square_side = 80;

    cv::Rect2d square_at(double t) const
    {
        return {square_left + square_dx * t, static_cast<double>(square_top),
                static_cast<double>(square_side), static_cast<double>(square_side)};
    }

    cv::Mat render(double t, const cv::Mat& back, const cv::Mat& front) const
    {
        cv::Mat frame = moved(back, background_dx * t, 0);
        const cv::Mat square = moved(front, square_dx * t, 0);
        const cv::Rect2d r = square_at(t);
        // Whole-pixel square edges keep the truth exact.
        const cv::Rect mask(cvRound(r.x), square_top, square_side, square_side);
        square(mask).copyTo(frame(mask));
        return frame;
    }
};

double mean_abs_difference(const cv::Mat& a, const cv::Mat& b, const cv::Mat& mask)
{
    cv::Mat difference;
    cv::absdiff(a, b, difference);
    const cv::Scalar m = cv::mean(difference, mask);
    return (m[0] + m[1] + m[2]) / 3.0;
}

// The made frame's error against the truth on `wall`, at most `share` of a
// plain crossfade's there.
void verify_beats_crossfade(const cv::Mat& first, const cv::Mat& second, const cv::Mat& made,
                            const cv::Mat& truth, const cv::Mat& wall, double share)
{
    cv::Mat crossfade;
    cv::addWeighted(first, 0.5, second, 0.5, 0, crossfade);
    const double made_error = mean_abs_difference(made, truth, wall);
    const double blended = mean_abs_difference(crossfade, truth, wall);
    QVERIFY2(made_error < share * blended,
             qPrintable(QString("wall: %1, crossfade %2").arg(made_error).arg(blended)));
}

} // namespace

class InBetweenTest : public QObject
{
    Q_OBJECT

private slots:
    void moved_picture_lands_where_it_belongs_data();
    void moved_picture_lands_where_it_belongs();
    void region_seen_by_one_frame_comes_from_it_data();
    void region_seen_by_one_frame_comes_from_it();
    void far_moving_wall_lands_where_it_belongs_data();
    void far_moving_wall_lands_where_it_belongs();
    void slanted_wall_lands_where_it_belongs_data();
    void slanted_wall_lands_where_it_belongs();
    void border_seen_by_one_frame_comes_from_it_data();
    void border_seen_by_one_frame_comes_from_it();
    void counts_and_positions();
    void a_failure_is_an_ending_not_a_crash();
};

void InBetweenTest::moved_picture_lands_where_it_belongs_data()
{
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dy");
    QTest::addColumn<double>("position");
    QTest::addColumn<int>("method");
    QTest::newRow("half way right") << 6.4 << 0.0 << 0.5 << int(FlowMethod::DisMedium);
    QTest::newRow("half way left and down") << -11.3 << 2.7 << 0.5 << int(FlowMethod::DisMedium);
    QTest::newRow("a quarter of a large move")
        << 31.0 << -1.5 << 0.25 << int(FlowMethod::DisMedium);
    QTest::newRow("three quarters") << 9.0 << 0.0 << 0.75 << int(FlowMethod::DisMedium);
    QTest::newRow("fastest preset") << 7.7 << 1.1 << 0.5 << int(FlowMethod::DisUltrafast);
    QTest::newRow("farneback") << 5.2 << -0.6 << 0.5 << int(FlowMethod::Farneback);
}

// The frame between two copies of a picture moved by a known amount is the
// picture moved by that share of it, to a tenth of a pixel.
void InBetweenTest::moved_picture_lands_where_it_belongs()
{
    QFETCH(double, dx);
    QFETCH(double, dy);
    QFETCH(double, position);
    QFETCH(int, method);
    const cv::Mat source = texture(7, cv::Scalar(1, 1, 1));
    InBetweenOptions options;
    options.method = static_cast<FlowMethod>(method);
    const cv::Mat first = moved(source, 0, 0), second = moved(source, dx, dy);
    const cv::Mat made =
        frame_between(first, second, measure_pair_flow(first, second, options), position);
    QCOMPARE(made.size(), first.size());
    QCOMPARE(made.type(), CV_8UC3);

    // Away from the borders, where one frame lacks what the other shows.
    const cv::Rect inner(40, 40, frame_size.width - 80, frame_size.height - 80);
    const cv::Mat truth = moved(source, dx * position, dy * position);
    cv::Mat made_grey, truth_grey;
    cv::cvtColor(made(inner), made_grey, cv::COLOR_BGR2GRAY);
    cv::cvtColor(truth(inner), truth_grey, cv::COLOR_BGR2GRAY);
    made_grey.convertTo(made_grey, CV_64F);
    truth_grey.convertTo(truth_grey, CV_64F);
    const cv::Point2d offset = cv::phaseCorrelate(truth_grey, made_grey);
    QVERIFY2(std::abs(offset.x) < 0.1 && std::abs(offset.y) < 0.1,
             qPrintable(QString("off by %1, %2 px").arg(offset.x).arg(offset.y)));
    QVERIFY2(cv::PSNR(made(inner), truth(inner)) > 30.0,
             qPrintable(QString("%1 dB").arg(cv::PSNR(made(inner), truth(inner)))));
}

void InBetweenTest::region_seen_by_one_frame_comes_from_it_data()
{
    QTest::addColumn<double>("background_dx");
    QTest::addColumn<double>("square_dx");
    QTest::addColumn<double>("position");
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    // After alignment on the sticker column the wall moves, the subject near
    // the column little or the other way.
    QTest::newRow("subject against the wall") << 14.0 << -8.0 << 0.5 << 80 << 120 << 80;
    QTest::newRow("subject still") << 20.0 << 0.0 << 0.5 << 80 << 120 << 80;
    QTest::newRow("wall moving left") << -16.0 << 6.0 << 0.5 << 80 << 120 << 80;
    QTest::newRow("near the first frame") << 14.0 << -10.0 << 0.25 << 80 << 120 << 80;
    QTest::newRow("near the second frame") << 14.0 << -10.0 << 0.75 << 80 << 120 << 80;
    // More subject than wall: the wall is still what lies behind.
    QTest::newRow("subject filling the frame") << 14.0 << -8.0 << 0.5 << 200 << 60 << 20;
    QTest::newRow("subject filling the frame, wall moving left")
        << -16.0 << 8.0 << 0.5 << 200 << 60 << 20;
    // Two frames between, as the videos make them, with a wall moving far.
    QTest::newRow("a third of the way") << 24.0 << -6.0 << 1.0 / 3 << 80 << 120 << 80;
    QTest::newRow("two thirds of the way") << 24.0 << -6.0 << 2.0 / 3 << 80 << 120 << 80;
}

// Of the wall the square uncovers or covers between the frames, what one frame
// alone sees comes from that frame, not a blend with the square's red.
void InBetweenTest::region_seen_by_one_frame_comes_from_it()
{
    QFETCH(double, background_dx);
    QFETCH(double, square_dx);
    QFETCH(double, position);
    QFETCH(int, side);
    QFETCH(int, left);
    QFETCH(int, top);
    const cv::Mat back = texture(3, cv::Scalar(0.6, 0.6, 0.6));
    const cv::Mat front = texture(5, cv::Scalar(0.2, 0.3, 1.0));
    const Layered scene{background_dx, square_dx, left, top, side};
    const cv::Mat first = scene.render(0, back, front), second = scene.render(1, back, front);
    const cv::Mat truth = scene.render(position, back, front);
    const cv::Mat made = in_between_frames(first, second, 1, {}).front();
    const cv::Mat at_position =
        position == 0.5 ? made
                        : frame_between(first, second, measure_pair_flow(first, second), position);

    // Wall pixels of the in-between view and whether each frame sees them.
    cv::Mat first_only(frame_size, CV_8U, cv::Scalar(0)), second_only = first_only.clone();
    const cv::Rect2d square_now = scene.square_at(position), square_first = scene.square_at(0),
                     square_second = scene.square_at(1);
    for (int y = scene.square_top; y < scene.square_top + scene.square_side; ++y)
        for (int x = 0; x < frame_size.width; ++x) {
            if (x >= square_now.x - 2 && x < square_now.br().x + 2)
                continue;
            // Where this wall point is in each frame.
            const double in_first = x - background_dx * position;
            const double in_second = x + background_dx * (1 - position);
            // Two pixels off the square's edges either way: its outline is blurred.
            auto outside = [](double at, const cv::Rect2d& r) {
                return at < r.x - 2 || at >= r.br().x + 2;
            };
            auto inside = [](double at, const cv::Rect2d& r) {
                return at >= r.x + 2 && at < r.br().x - 2;
            };
            const bool seen_first = outside(in_first, square_first);
            const bool seen_second = outside(in_second, square_second);
            const bool hidden_first = inside(in_first, square_first);
            const bool hidden_second = inside(in_second, square_second);
            if (seen_first && hidden_second)
                first_only.at<uchar>(y, x) = 255;
            if (seen_second && hidden_first)
                second_only.at<uchar>(y, x) = 255;
        }
    cv::erode(first_only, first_only, cv::Mat::ones(5, 1, CV_8U));
    cv::erode(second_only, second_only, cv::Mat::ones(5, 1, CV_8U));

    // A crossfade there is off by about half the difference between wall and
    // square; what comes from the one frame that sees the wall is much closer,
    // with no see-through copy of the square's rim from the frame that sees
    // the square there (a copy at a fifth to a third of the square's weight
    // reads as about half a crossfade's error).
    // Bands of fewer than six columns (near the frame that sees most of them)
    // are all outline and are not judged.
    cv::Mat crossfade;
    cv::addWeighted(first, 1 - position, second, position, 0, crossfade);
    int judged = 0;
    for (const auto& [name, region] : {std::pair{"first", first_only}, {"second", second_only}}) {
        if (cv::countNonZero(region) < 6 * (scene.square_side - 4))
            continue;
        ++judged;
        const double blended = mean_abs_difference(crossfade, truth, region);
        const double made_error = mean_abs_difference(at_position, truth, region);
        QVERIFY(blended > 12.0);
        QVERIFY2(made_error < 0.35 * blended,
                 qPrintable(QString("seen by the %1 only: %2, crossfade %3")
                                .arg(name)
                                .arg(made_error)
                                .arg(blended)));
    }
    QVERIFY(judged > 0);
}

void InBetweenTest::far_moving_wall_lands_where_it_belongs_data()
{
    QTest::addColumn<double>("background_dx");
    QTest::addColumn<double>("square_dx");
    QTest::newRow("wall moving right") << 30.0 << -10.0;
    QTest::newRow("wall moving left") << -30.0 << 10.0;
}

// Beside a large subject, a wall moving far between the frames still lands
// where it belongs: where both frames see it, it is the wall moved half way,
// not a blend of two copies.
void InBetweenTest::far_moving_wall_lands_where_it_belongs()
{
    QFETCH(double, background_dx);
    QFETCH(double, square_dx);
    const cv::Mat back = texture(17, cv::Scalar(0.7, 0.9, 0.6));
    const cv::Mat front = texture(19, cv::Scalar(0.3, 0.2, 1.0));
    const Layered scene{background_dx, square_dx, 110, 60, 120};
    const cv::Mat first = scene.render(0, back, front), second = scene.render(1, back, front);
    const cv::Mat truth = scene.render(0.5, back, front);
    const cv::Mat made = in_between_frames(first, second, 1).front();
    // Wall seen by both frames all the way, away from the square
    // and from the borders either frame lacks.
    // Beside the square: its rows.
    cv::Mat wall(frame_size, CV_8U, cv::Scalar(0));
    wall.rowRange(scene.square_top, scene.square_top + scene.square_side).setTo(255);
    const int margin = static_cast<int>(std::abs(background_dx)) / 2 + 4;
    wall.colRange(0, margin).setTo(0);
    wall.colRange(frame_size.width - margin, frame_size.width).setTo(0);
    for (const double t : {0.0, 0.5, 1.0}) {
        const cv::Rect2d r = scene.square_at(t);
        const int from = std::max(0, static_cast<int>(r.x - std::abs(background_dx) / 2 - 4));
        const int to = std::min(frame_size.width,
                                static_cast<int>(r.br().x + std::abs(background_dx) / 2 + 4));
        wall(cv::Rect(from, 0, to - from, frame_size.height)).setTo(0);
    }
    QVERIFY(cv::countNonZero(wall) > 40 * scene.square_side);
    verify_beats_crossfade(first, second, made, truth, wall, 0.25);
}

void InBetweenTest::slanted_wall_lands_where_it_belongs_data()
{
    QTest::addColumn<double>("background_dx");
    QTest::addColumn<double>("slant");
    QTest::addColumn<double>("square_dx");
    // The wall's motion shrinks across the picture, from 30 pixels on the left
    // to about a fifth less on the right, as when it turns away from the cameras.
    QTest::newRow("wall moving right") << 30.0 << 0.0002 << -10.0;
    QTest::newRow("wall moving left") << -30.0 << 0.0002 << 10.0;
}

// A wall seen at a slant moves by a homography, not by an affine map: beside a
// large subject it still lands where it belongs.
void InBetweenTest::slanted_wall_lands_where_it_belongs()
{
    QFETCH(double, background_dx);
    QFETCH(double, slant);
    QFETCH(double, square_dx);
    const cv::Mat back = texture(17, cv::Scalar(0.7, 0.9, 0.6));
    const cv::Mat front = texture(19, cv::Scalar(0.3, 0.2, 1.0));
    const cv::Matx33d motion(1, 0, background_dx, 0, 1, 0, slant, 0, 1);
    const cv::Matx33d margin(1, 0, -60, 0, 1, -60, 0, 0, 1);
    const cv::Rect square(110, 60, 120, 120);
    auto render = [&](double t) {
        // Half way, the wall's motion is close to half of it: the difference
        // is far below a pixel here.
        const cv::Matx33d at = cv::Matx33d::eye() + t * (motion - cv::Matx33d::eye());
        cv::Mat frame;
        cv::warpPerspective(back, frame, at * margin, frame_size, cv::INTER_CUBIC,
                            cv::BORDER_REFLECT);
        const cv::Mat subject = moved(front, square_dx * t, 0);
        const cv::Rect r = square + cv::Point(cvRound(square_dx * t), 0);
        subject(r).copyTo(frame(r));
        return frame;
    };
    const cv::Mat first = render(0), second = render(1), truth = render(0.5);
    const cv::Mat made = in_between_frames(first, second, 1).front();
    // Wall both frames see, beside the square, away from what it uncovers
    // and from the borders either frame lacks.
    cv::Mat wall(frame_size, CV_8U, cv::Scalar(0));
    wall(cv::Rect(20, square.y, 40, square.height)).setTo(255);
    wall(cv::Rect(270, square.y, 30, square.height)).setTo(255);
    verify_beats_crossfade(first, second, made, truth, wall, 0.15);
}

void InBetweenTest::border_seen_by_one_frame_comes_from_it_data()
{
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dy");
    QTest::newRow("leaving on the right") << 24.0 << 0.0;
    QTest::newRow("leaving on the left") << -24.0 << 0.0;
    QTest::newRow("leaving at the bottom") << 0.0 << 20.0;
}

// What moves out of the picture between the frames is seen by the first frame
// only; half way it is still half in the picture and comes from that frame (a
// blend with the neighbouring picture reads about 20 dB there).
void InBetweenTest::border_seen_by_one_frame_comes_from_it()
{
    QFETCH(double, dx);
    QFETCH(double, dy);
    const cv::Mat source = texture(13, cv::Scalar(1, 1, 1));
    const cv::Mat first = moved(source, 0, 0), second = moved(source, dx, dy);
    const cv::Mat made = in_between_frames(first, second, 1).front();
    const cv::Mat truth = moved(source, dx / 2, dy / 2);
    // The band beyond where the second frame's picture ends, two pixels in.
    const int band_x = static_cast<int>(std::abs(dx) / 2) - 2;
    const int band_y = static_cast<int>(std::abs(dy) / 2) - 2;
    const cv::Rect band = dx > 0   ? cv::Rect(frame_size.width - band_x, 40, band_x, 160)
                          : dx < 0 ? cv::Rect(0, 40, band_x, 160)
                                   : cv::Rect(40, frame_size.height - band_y, 240, band_y);
    const double psnr = cv::PSNR(made(band), truth(band));
    QVERIFY2(psnr > 24.0, qPrintable(QString("%1 dB").arg(psnr)));
}

// One frame per position asked, each at its share of the way; none for 0.
void InBetweenTest::counts_and_positions()
{
    const cv::Mat source = texture(11, cv::Scalar(1, 1, 1));
    const cv::Mat first = moved(source, 0, 0), second = moved(source, 12, 0);
    QVERIFY(in_between_frames(first, second, 0).empty());
    const std::vector<cv::Mat> three = in_between_frames(first, second, 3);
    QCOMPARE(three.size(), size_t(3));
    const cv::Rect inner(40, 40, frame_size.width - 80, frame_size.height - 80);
    for (int j = 1; j <= 3; ++j) {
        const cv::Mat truth = moved(source, 12.0 * j / 4, 0);
        QVERIFY2(cv::PSNR(three[j - 1](inner), truth(inner)) > 30.0,
                 qPrintable(QString::number(j)));
    }
}

// The step runs on a worker thread: an error while making the pictures (here
// a kept picture the colour conversion refuses) must come back as a failed
// ending with its reason, keeping nothing, rather than end the program.
void InBetweenTest::a_failure_is_an_ending_not_a_crash()
{
    VideoFrames kept;
    kept.video.size = QSize(5, 5);
    kept.video.layout = RawLayout::Yuv420p;
    kept.video.pictures = {cv::Mat(5, 5, CV_8UC1, cv::Scalar(0)),
                           cv::Mat(5, 5, CV_8UC1, cv::Scalar(0))};
    InBetweenPictures made;
    QCOMPARE(make_in_between_pictures(kept, 2, 1, made), InBetweenEnding::Failed);
    QVERIFY(!made.failure.empty());
    QVERIFY(!made.video.kept());
}

QTEST_GUILESS_MAIN(InBetweenTest)
#include "in_between_test.moc"
