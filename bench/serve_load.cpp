// The sharing page under a booth's worst evening, on the loopback address only:
// 50 guests downloading a 20 MB video at once while 200 pages load, the
// server's peak resident memory, a gallery of 500 takes, and a table of bad
// requests, each refused while the others are still answered. The real
// executable serves; the clients are plain sockets on threads of their own.
// --reduced: 10 downloads of 5 MB, 40 pages, 100 takes.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Answer
{
    int status = 0; // 0: nothing answered, the connection closed
    QByteArray headers;
    QByteArray body;
};

// Sends `request` to 127.0.0.1:`port` and reads until the server closes or
// `silence_ms` pass without a byte.
Answer exchange(int port, const QByteArray& request, int silence_ms = 20000,
                int byte_interval_ms = 0, int* closed_after_ms = nullptr)
{
    Answer answer;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0)
            close(fd);
        return answer;
    }
    QElapsedTimer clock;
    clock.start();
    if (byte_interval_ms > 0) {
        // One byte at a time, until the server hangs up.
        for (int i = 0; i < request.size(); ++i) {
            if (send(fd, request.constData() + i, 1, MSG_NOSIGNAL) != 1)
                break;
            pollfd hangup{fd, POLLIN, 0};
            if (poll(&hangup, 1, byte_interval_ms) > 0)
                break;
        }
    } else {
        for (int sent = 0; sent < request.size();) {
            const ssize_t n =
                send(fd, request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += int(n);
        }
    }
    QByteArray data;
    char buffer[65536];
    while (true) {
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, silence_ms) <= 0)
            break;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        data.append(buffer, int(n));
    }
    if (closed_after_ms)
        *closed_after_ms = int(clock.elapsed());
    close(fd);
    const int end = data.indexOf("\r\n\r\n");
    if (data.startsWith("HTTP/1.") && end > 0) {
        answer.status = data.mid(9, 3).toInt();
        answer.headers = data.left(end);
        answer.body = data.mid(end + 4);
    }
    return answer;
}

QByteArray get(const QByteArray& path)
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

bool write_file(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

double peak_resident_mb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toDouble() / 1024.0;
    return -1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const bool reduced = application.arguments().contains(QStringLiteral("--reduced"));
    const int downloads = reduced ? 10 : 50;
    const int video_mb = reduced ? 5 : 20;
    const int pages = reduced ? 40 : 200;
    const int gallery_takes = reduced ? 100 : 500;
    std::printf("%s run\n", reduced ? "reduced" : "full");

    QTemporaryDir work;
    const QString root = work.filePath(QStringLiteral("root"));
    QByteArray video(video_mb * 1024 * 1024, '\0');
    for (int i = 0; i < video.size(); ++i)
        video[i] = char((i * 31 + i / 4093) & 0xff);
    const QByteArray small(2000, 'x');
    for (int take = 0; take < gallery_takes; ++take) {
        const QString folder = root + QStringLiteral("/Prise %1").arg(take, 3, 10, QLatin1Char('0'));
        QDir().mkpath(folder);
        const bool big = take == 0;
        write_file(folder + "/output_video.mp4", big ? video : small);
        write_file(folder + "/output_video_boomerang.mp4", small);
        write_file(folder + "/output_video.gif", small);
        for (int k = 0; k < 12; ++k)
            write_file(folder + QStringLiteral("/output_img_%1.jpg").arg(k), small);
        write_file(folder + "/.termine", "");
    }
    // What must never be served.
    write_file(work.filePath("secret.txt"), "SECRET");
    QDir().mkpath(root + "/Inachevée");
    write_file(root + "/Inachevée/output_video.mp4", "SECRET");
    QDir().mkpath(work.filePath("outside"));
    write_file(work.filePath("outside/output_video.mp4"), "SECRET");
    write_file(work.filePath("outside/.termine"), "");
    QFile::link(work.filePath("outside"), root + "/Lien");
    QDir().mkpath(root + "/Fuite");
    QFile::link(work.filePath("secret.txt"), root + "/Fuite/output_video.mp4");
    write_file(root + "/Fuite/.termine", "");

    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(QUORVANE_EXECUTABLE),
                 {QStringLiteral("serve"), root, QStringLiteral("--listen"),
                  QStringLiteral("127.0.0.1:0")});
    QByteArray out;
    int port = 0;
    const QRegularExpression serving(QStringLiteral("on http://127\\.0\\.0\\.1:(\\d+)/"));
    while (port == 0 && server.waitForReadyRead(10000)) {
        out += server.readAllStandardOutput();
        const QRegularExpressionMatch match = serving.match(QString::fromUtf8(out));
        if (match.hasMatch())
            port = match.captured(1).toInt();
    }
    if (port == 0) {
        std::fprintf(stderr, "the server did not start: %s\n", out.constData());
        return 1;
    }
    // The access log is read away so that the server never waits on its pipe.
    QObject::connect(&server, &QProcess::readyReadStandardOutput,
                     [&server] { server.readAllStandardOutput(); });

    const double resident_at_start = peak_resident_mb(server.processId());

    // A gallery of many takes, read cold: the page, then its data.
    QElapsedTimer gallery_clock;
    gallery_clock.start();
    const Answer gallery_page = exchange(port, get("/"));
    const Answer gallery_data = exchange(port, get("/takes.json"));
    const double gallery_s = gallery_clock.nsecsElapsed() / 1e9;
    const int listed = gallery_data.body.count("\"name\":");

    std::atomic<int> errors{0};
    QElapsedTimer load_clock;
    load_clock.start();
    std::vector<std::thread> clients;
    for (int i = 0; i < downloads; ++i)
        clients.emplace_back([&] {
            const Answer answer = exchange(port, get("/download/Prise%20000/output_video.mp4"));
            if (answer.status != 200 || answer.body != video)
                ++errors;
        });
    constexpr int page_threads = 10;
    for (int t = 0; t < page_threads; ++t)
        clients.emplace_back([&, t] {
            for (int i = t; i < pages; i += page_threads) {
                const QByteArray path =
                    i % 2 ? QByteArray("/take/Prise%20") +
                                QByteArray::number(i % gallery_takes).rightJustified(3, '0')
                          : QByteArray("/");
                if (exchange(port, get(path)).status != 200)
                    ++errors;
            }
        });
    for (std::thread& client : clients)
        client.join();
    const double load_s = load_clock.nsecsElapsed() / 1e9;
    application.processEvents();
    const double resident = peak_resident_mb(server.processId());

    // Bad requests: each must be refused (4xx) or closed, never answered with a
    // byte from outside the finished takes, and the server must go on serving.
    struct Bad
    {
        const char* what;
        QByteArray request;
        int byte_interval_ms = 0;
    };
    const std::vector<Bad> bad = {
        {"..", get("/take/Prise%20000/../../secret.txt")},
        {"%2e%2e", get("/take/%2e%2e/secret.txt")},
        {"encoded slash", get("/take/Prise%20000%2Foutput_video.mp4")},
        {"NUL byte", get("/take/Prise%20000/output_video.mp4%00.txt")},
        {"link out of ROOT (take)", get("/take/Lien/output_video.mp4")},
        {"link out of ROOT (file)", get("/take/Fuite/output_video.mp4")},
        {"unfinished take", get("/take/Inach%C3%A9v%C3%A9e/output_video.mp4")},
        {"POST", "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc"},
        {"1 MB header", "GET / HTTP/1.1\r\nHost: x\r\nX-Filler: " + QByteArray(1 << 20, 'a') +
                            "\r\nConnection: close\r\n\r\n"},
        {"one byte a second", get("/"), 1000},
    };
    std::printf("%-26s %-14s %-10s %s\n", "bad request", "answer", "leaked", "others served");
    int bad_failures = 0;
    for (const Bad& row : bad) {
        int closed_after_ms = 0;
        Answer answer;
        std::thread attacker([&] {
            answer = exchange(port, row.request, 20000, row.byte_interval_ms, &closed_after_ms);
        });
        // Another guest while the bad one is at it (and after it).
        const bool served = exchange(port, get("/takes.json")).status == 200;
        attacker.join();
        const bool served_after = exchange(port, get("/")).status == 200;
        const bool leaked = answer.body.contains("SECRET");
        const bool refused = answer.status == 0 || (answer.status >= 400 && answer.status < 500);
        const std::string shown =
            answer.status ? std::to_string(answer.status)
                          : "closed " + std::to_string(closed_after_ms / 1000) + " s";
        std::printf("%-26s %-14s %-10s %s\n", row.what, shown.c_str(), leaked ? "YES" : "no",
                    served && served_after ? "yes" : "NO");
        if (leaked || !refused || !served || !served_after)
            ++bad_failures;
    }
    server.terminate();
    server.waitForFinished(10000);

    std::printf("gallery: page %d, data %d with %d takes\n", gallery_page.status,
                gallery_data.status, listed);
    std::printf("server resident at start %.0f MB (mostly its shared libraries), peak %.0f MB\n",
                resident_at_start, resident);
    std::printf("%d downloads of %d MB + %d pages in %.2f s\n", downloads, video_mb, pages, load_s);
    // "Fuite" is finished too, only its video is not served.
    if (listed != gallery_takes + 1)
        ++errors;
    std::printf("%d downloads + %d pages: %d errors; resident %.0f MB = %.2fx its bound; gallery "
                "of %d in %.2f s = %.2fx; bad requests: %d of %zu wrong\n",
                downloads, pages, errors.load(), resident, resident / 100.0, gallery_takes,
                gallery_s, gallery_s / 1.0, bad_failures, bad.size());
    return errors == 0 && bad_failures == 0 && resident < 100 && gallery_s < 1 ? 0 : 1;
}
