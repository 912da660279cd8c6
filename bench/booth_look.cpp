// One look of the booth at a take: listing its photos and telling whether each
// is whole, against reading the same files whole. The photos are JPEGs of a
// camera's size, written once beside this program (or in --folder) and read
// from the page cache, as the booth reads photos just written.

#include "booth/take_folder.h"
#include "photo/image_reading.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSize>

#include <algorithm>
#include <iomanip>
#include <iostream>
#include <optional>
#include <vector>

namespace {

struct Options
{
    int photos = 24;
    QSize size{6000, 4000};
    int repeats = 5;
    QString folder;
};

const char* const usage =
    "usage: booth_look [--photos N] [--size WxH] [--folder DIR] [--repeats N]\n"
    "  --photos   photos of the take (default 24)\n"
    "  --size     photo size in pixels (default 6000x4000, 24 MP)\n"
    "  --folder   where the take is generated once and reused (default: beside this program)\n"
    "  --repeats  looks timed; the best one counts (default 5)\n";

std::optional<Options> parse_options(const QStringList& arguments)
{
    Options options;
    options.folder = QStringLiteral(QUORVANE_BENCH_CACHE "/booth_look_take");
    for (int i = 0; i + 1 < arguments.size(); i += 2) {
        const QString& name = arguments[i];
        const QString& value = arguments[i + 1];
        bool ok = true;
        if (name == "--photos") {
            options.photos = value.toInt(&ok);
            ok = ok && options.photos > 0;
        } else if (name == "--size") {
            const QStringList parts = value.split('x');
            ok = parts.size() == 2;
            if (ok) {
                bool w = false;
                bool h = false;
                options.size = QSize(parts[0].toInt(&w), parts[1].toInt(&h));
                ok = w && h && options.size.width() >= 16 && options.size.height() >= 16;
            }
        } else if (name == "--folder") {
            options.folder = value;
        } else if (name == "--repeats") {
            options.repeats = value.toInt(&ok);
            ok = ok && options.repeats > 0;
        } else {
            ok = false;
        }
        if (!ok)
            return std::nullopt;
    }
    if (arguments.size() % 2 != 0)
        return std::nullopt;
    return options;
}

// A photo with a camera's grain, so that its JPEG has a camera's size.
QByteArray camera_like_jpeg(const QSize& size)
{
    cv::Mat picture(size.height(), size.width(), CV_8UC3);
    for (int y = 0; y < picture.rows; ++y) {
        auto* row = picture.ptr<cv::Vec3b>(y);
        for (int x = 0; x < picture.cols; ++x)
            row[x] = cv::Vec3b(x * 255 / picture.cols, y * 255 / picture.rows, 128);
    }
    cv::Mat grain(picture.size(), CV_8UC3);
    cv::randn(grain, cv::Scalar::all(0), cv::Scalar::all(12));
    cv::add(picture, grain, picture);
    std::vector<unsigned char> bytes;
    cv::imencode(".jpg", picture, bytes, {cv::IMWRITE_JPEG_QUALITY, 92});
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

// The take's folder, made once for these options.
QString prepared_take(const Options& options)
{
    const QString folder = QStringLiteral("%1/%2x%3_%4")
                               .arg(options.folder)
                               .arg(options.size.width())
                               .arg(options.size.height())
                               .arg(options.photos);
    const QString last = QStringLiteral("%1/cam_%2.jpg").arg(folder).arg(options.photos);
    if (QFileInfo::exists(last))
        return folder;
    QDir().mkpath(folder);
    const QByteArray jpeg = camera_like_jpeg(options.size);
    for (int k = 1; k <= options.photos; ++k) {
        QFile file(QStringLiteral("%1/cam_%2.jpg").arg(folder).arg(k));
        if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size())
            return QString();
    }
    return folder;
}

template <typename Work> double best_ms(int repeats, Work work)
{
    double best = 0;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        const double ms = clock.nsecsElapsed() / 1e6;
        best = i == 0 ? ms : std::min(best, ms);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const std::optional<Options> options = parse_options(application.arguments().mid(1));
    if (!options) {
        std::cerr << usage;
        return 2;
    }
    const QString folder = prepared_take(*options);
    if (folder.isEmpty()) {
        std::cerr << "booth_look: cannot write the photos\n";
        return 1;
    }
    const TakeFolder take = read_take_folder(folder);
    QByteArray bytes;
    qint64 total = 0;
    // Reading every file whole once also brings them into the page cache.
    for (const QString& photo : take.photos) {
        read_file_bytes(photo, bytes);
        total += bytes.size();
    }
    bool complete = true;
    const double look = best_ms(options->repeats, [&] {
        complete = photos_complete(read_take_folder(folder)) && complete;
    });
    const double whole = best_ms(options->repeats, [&] {
        for (const QString& photo : take.photos)
            read_file_bytes(photo, bytes);
    });
    if (!complete) {
        std::cerr << "booth_look: a whole photo was taken for one cut short\n";
        return 1;
    }
    std::cout << std::fixed << std::setprecision(2) << "one look over " << take.photos.size()
              << " photos of " << options->size.width() << " x " << options->size.height() << " ("
              << total / double(take.photos.size()) / 1e6 << " MB each): " << look
              << " ms; reading them whole " << whole << " ms: " << std::setprecision(4)
              << look / whole << "x\n";
    return 0;
}
