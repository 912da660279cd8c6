// `quorvane serve` and `watch --serve` through the real executable on a
// loopback port the system chose: raw requests good and bad, ranges, a take
// that finishes while the page is open, SIGTERM during a download, and, where
// Chromium is installed, the gallery rendered, the QR code read back with
// zbarimg and a video played.

#include "tests/cli/quorvane_process.h"
#include "tests/cli/small_rig.h"
#include "tests/serve/http_exchange.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

const QByteArray secret = "SECRET-OUTSIDE-THE-ROOT";

bool write_bytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray read_bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Bytes whose every offset can be told apart from its neighbours'.
QByteArray patterned(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xff);
    return bytes;
}

// Runs a tool to its end; its standard output, or a null array when it failed.
QByteArray tool_output(const QString& program, const QStringList& arguments, int timeout_ms = 90000)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeout_ms)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    const QByteArray out = process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning().noquote() << program << arguments.join(' ') << process.readAllStandardError();
        return {};
    }
    return out.isNull() ? QByteArray("") : out;
}

// The port a started server prints ("Serving ROOT on http://127.0.0.1:PORT/").
quint16 wait_for_port(QProcess& server, QByteArray& out)
{
    const QRegularExpression serving(QStringLiteral("Serving .* on http://127\\.0\\.0\\.1:(\\d+)/\n"));
    for (int i = 0; i < 300; ++i) {
        const QRegularExpressionMatch match = serving.match(QString::fromUtf8(out));
        if (match.hasMatch())
            return quint16(match.captured(1).toUInt());
        if (server.state() == QProcess::NotRunning || !server.waitForReadyRead(200)) {
            if (server.state() == QProcess::NotRunning)
                return 0;
        }
        out += server.readAllStandardOutput();
    }
    return 0;
}

} // namespace

class ServeTest : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QString root;
    QString clip;  // a real H.264 video, two seconds
    QString gif;
    QString still;
    QByteArray big_video; // the finished take's video in the raw tests
    QProcess server;
    QByteArray server_out;
    quint16 port = 0;

    // ROOT/name holding a video, a boomerang, a GIF and three frames, and the
    // marker when `finished`.
    void make_take(const QString& name, bool finished, const QByteArray& video)
    {
        const QString folder = root + "/" + name;
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(write_bytes(folder + "/output_video.mp4", video));
        QVERIFY(QFile::copy(clip, folder + "/output_video_boomerang.mp4"));
        QVERIFY(QFile::copy(gif, folder + "/output_video.gif"));
        for (int k = 0; k < 3; ++k)
            QVERIFY(QFile::copy(still, folder + QStringLiteral("/output_img_%1.jpg").arg(k)));
        if (finished)
            QVERIFY(write_bytes(folder + "/.termine", ""));
    }

    HttpAnswer get(const QByteArray& path, const QByteArray& headers = {})
    {
        return http_exchange(port, http_request("GET", path, headers));
    }

    void start_server(QProcess& process, QByteArray& out, const QStringList& arguments,
                      quint16& listening)
    {
        out.clear();
        start_quorvane(process, arguments);
        listening = wait_for_port(process, out);
        QVERIFY2(listening != 0, out.constData());
    }

    QString chromium() const { return QStandardPaths::findExecutable(QStringLiteral("chromium")); }

    // Chromium without a window, sandbox or GPU; its profile in this test's folder.
    QStringList chromium_arguments(const QStringList& extra)
    {
        return QStringList{"--headless", "--disable-gpu", "--no-sandbox", "--hide-scrollbars",
                           "--mute-audio", "--no-first-run", "--disable-dev-shm-usage",
                           "--autoplay-policy=no-user-gesture-required",
                           "--user-data-dir=" + work.filePath("chromium")} +
               extra;
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void pages_and_files_data();
    void pages_and_files();
    void one_connection_serves_several_requests();
    void bad_requests_data();
    void bad_requests();
    void a_huge_header_is_refused();
    void a_client_sending_a_byte_a_second_is_closed();
    void ranges_data();
    void ranges();
    void a_finished_take_appears_without_a_reload();
    void sigterm_during_a_download_stops_cleanly();
    void a_used_port_is_said();
    void watch_serves_the_takes_it_makes();
    void chromium_shows_the_gallery_and_reads_the_code();
    void a_code_asked_through_localhost_names_the_booths_address();
};

void ServeTest::initTestCase()
{
    QVERIFY(work.isValid());
    clip = work.filePath("clip.mp4");
    gif = work.filePath("clip.gif");
    still = work.filePath("still.jpg");
    const QString source = "testsrc2=size=320x240:rate=25:duration=2";
    QVERIFY(!tool_output("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", source, "-c:v", "libx264",
                                    "-pix_fmt", "yuv420p", "-movflags", "+faststart", clip})
                 .isNull());
    QVERIFY(!tool_output("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", source, "-vf",
                                    "fps=5,scale=160:-1", gif})
                 .isNull());
    QVERIFY(!tool_output("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", source, "-frames:v", "1",
                                    still})
                 .isNull());
    big_video = patterned(3 * 1024 * 1024 + 17);
    QVERIFY(write_bytes(work.filePath("secret.txt"), secret));
    QVERIFY(QDir().mkpath(work.filePath("outside")));
    QVERIFY(write_bytes(work.filePath("outside/output_video.mp4"), secret));
    QVERIFY(write_bytes(work.filePath("outside/.termine"), ""));
}

void ServeTest::init()
{
    root = work.filePath("root");
    QDir(root).removeRecursively();
    QVERIFY(QDir().mkpath(root));
    make_take("Prise 1", true, big_video);
    make_take("Prise 2", false, big_video);
    // A finished take whose video is a link to a file outside ROOT.
    make_take("Fuite", true, big_video);
    QVERIFY(QFile::remove(root + "/Fuite/output_video.mp4"));
    QVERIFY(QFile::link(work.filePath("secret.txt"), root + "/Fuite/output_video.mp4"));
    // A take that is itself a link to a finished-looking folder outside.
    QVERIFY(QFile::link(work.filePath("outside"), root + "/Lien"));
    QVERIFY(write_bytes(root + "/notes.txt", secret));
    start_server(server, server_out, {"serve", root, "--listen", "127.0.0.1:0", "--title", "Mariage"},
                 port);
}

void ServeTest::cleanup()
{
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        QVERIFY(server.waitForFinished(10000));
    }
}

// Each row: a GET of a good address, its status, its type and a piece of its body.
void ServeTest::pages_and_files_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("contains");
    QTest::newRow("gallery") << QByteArray("/") << 200 << QByteArray("text/html; charset=utf-8")
                             << QByteArray("<h1>Mariage</h1>");
    QTest::newRow("gallery's data")
        << QByteArray("/takes.json") << 200 << QByteArray("application/json")
        << QByteArray("{\"name\":\"Prise 1\",\"page\":\"/take/Prise%201\","
                      "\"poster\":\"/take/Prise%201/output_img_1.jpg\",\"qr\":\"/take/Prise%201/"
                      "qr.svg\"");
    QTest::newRow("take page") << QByteArray("/take/Prise%201") << 200
                               << QByteArray("text/html; charset=utf-8")
                               << QByteArray("<video src=\"/take/Prise%201/output_video.mp4\" "
                                             "poster=\"/take/Prise%201/output_img_1.jpg\" "
                                             "controls playsinline muted loop autoplay>");
    QTest::newRow("take page's downloads")
        << QByteArray("/take/Prise%201") << 200 << QByteArray("text/html; charset=utf-8")
        << QByteArray("<a href=\"/download/Prise%201/output_video.gif\" download>Télécharger le "
                      "GIF</a>");
    QTest::newRow("QR code") << QByteArray("/take/Prise%201/qr.svg") << 200
                             << QByteArray("image/svg+xml") << QByteArray("<svg ");
    QTest::newRow("video") << QByteArray("/take/Prise%201/output_video.mp4") << 200
                           << QByteArray("video/mp4") << QByteArray();
    QTest::newRow("GIF") << QByteArray("/take/Prise%201/output_video.gif") << 200
                         << QByteArray("image/gif") << QByteArray("GIF89a");
    QTest::newRow("still") << QByteArray("/take/Prise%201/output_img_1.jpg") << 200
                           << QByteArray("image/jpeg") << QByteArray();
}

void ServeTest::pages_and_files()
{
    QFETCH(QByteArray, path);
    QFETCH(int, status);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, contains);
    const HttpAnswer answer = get(path);
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.headers.value("content-type"), type);
    QVERIFY2(answer.body.contains(contains), answer.body.left(2000).constData());
    QCOMPARE(answer.headers.value("x-content-type-options"), QByteArray("nosniff"));
    if (path.endsWith("output_video.mp4"))
        QCOMPARE(answer.body, big_video);
    // Only finished takes, and no link out of ROOT, reach the gallery.
    if (path == "/takes.json")
        for (const char* hidden : {"Prise 2", "Lien", "notes"})
            QVERIFY2(!answer.body.contains(hidden), answer.body.constData());
}

// A phone loading the gallery asks for page after page on one connection.
void ServeTest::one_connection_serves_several_requests()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(socket.waitForConnected(5000));
    socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                 "HEAD /take/Prise%201 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                 "GET /takes.json HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray data;
    while (socket.waitForReadyRead(10000) || socket.bytesAvailable() > 0)
        data += socket.readAll();
    QCOMPARE(data.count("HTTP/1.1 200 OK\r\n"), 3);
    // The HEAD's answer has no body: the third answer follows its headers.
    const int third = data.lastIndexOf("HTTP/1.1 200 OK\r\n");
    QVERIFY(data.indexOf("{\"takes\":[", third) > third);
    QVERIFY(data.endsWith("}]}"));
}

// Each row: a raw request that must get a 4xx answer (0: or be closed without
// one) and nothing from outside the finished takes.
void ServeTest::bad_requests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    const auto get = [](const QByteArray& path) { return http_request("GET", path); };
    QTest::newRow("..") << get("/take/Prise%201/../../secret.txt") << 400;
    QTest::newRow("%2e%2e") << get("/take/%2e%2e/secret.txt") << 400;
    QTest::newRow("%2e%2e in the file") << get("/take/Prise%201/%2e%2e%2f%2e%2e%2fsecret.txt") << 400;
    QTest::newRow("encoded slash") << get("/take/Prise%201%2Foutput_video.mp4") << 400;
    QTest::newRow("NUL byte") << get("/take/Prise%201/output_video.mp4%00.txt") << 400;
    QTest::newRow("absolute path") << get("/etc/passwd") << 404;
    QTest::newRow("a file of ROOT") << get("/take/notes.txt") << 404;
    QTest::newRow("a take linked out of ROOT") << get("/take/Lien/output_video.mp4") << 404;
    QTest::newRow("a take linked out of ROOT, page") << get("/take/Lien") << 404;
    QTest::newRow("a file linked out of ROOT") << get("/take/Fuite/output_video.mp4") << 404;
    QTest::newRow("a file linked out of ROOT, download")
        << get("/download/Fuite/output_video.mp4") << 404;
    QTest::newRow("an unfinished take") << get("/take/Prise%202") << 404;
    QTest::newRow("an unfinished take's video") << get("/take/Prise%202/output_video.mp4") << 404;
    QTest::newRow("the marker") << get("/take/Prise%201/.termine") << 404;
    QTest::newRow("a frame without --frames") << get("/take/Prise%201/output_img_0.jpg") << 404;
    QTest::newRow("a folder listing") << get("/take") << 404;
    QTest::newRow("a name in another case") << get("/take/prise%201") << 404;
    QTest::newRow("POST") << http_request("POST", "/take/Prise%201",
                                          "Content-Length: 5\r\n") + "hello"
                          << 405;
    QTest::newRow("PUT") << http_request("PUT", "/take/Prise%201/output_video.mp4",
                                         "Content-Length: 0\r\n")
                         << 405;
    QTest::newRow("DELETE") << http_request("DELETE", "/take/Prise%201") << 405;
    QTest::newRow("GET with a body") << http_request("GET", "/", "Content-Length: 4\r\n") + "abcd"
                                     << 400;
    QTest::newRow("not HTTP") << QByteArray("HELLO\r\n\r\n") << 0;
}

void ServeTest::bad_requests()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    const HttpAnswer answer = http_exchange(port, request);
    if (status != 0 || answer.status != 0)
        QCOMPARE(answer.status, status == 0 ? 400 : status);
    QVERIFY2(!answer.body.contains(secret), answer.body.constData());
    if (status == 405)
        QCOMPARE(answer.headers.value("allow"), QByteArray("GET, HEAD"));
    // And the others are still answered.
    QCOMPARE(get("/take/Prise%201/output_video.mp4").body, big_video);
}

void ServeTest::a_huge_header_is_refused()
{
    const HttpAnswer answer = http_exchange(
        port, http_request("GET", "/", "X-Filler: " + QByteArray(1024 * 1024, 'a') + "\r\n"));
    // Refused, or cut off before the answer could be read: never served.
    QVERIFY2(answer.status == 0 || (answer.status >= 400 && answer.status < 500),
             QByteArray::number(answer.status).constData());
    QVERIFY(!answer.body.contains("<h1>Mariage</h1>"));
    QCOMPARE(get("/").status, 200);
}

void ServeTest::a_client_sending_a_byte_a_second_is_closed()
{
    QTcpSocket slow;
    slow.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(slow.waitForConnected(5000));
    const QByteArray request = http_request("GET", "/take/Prise%201/output_video.mp4");
    int sent = 0;
    QElapsedTimer clock;
    clock.start();
    // One byte a second until the server hangs up; the request is never whole.
    while (slow.state() == QAbstractSocket::ConnectedState && sent < request.size() - 4) {
        slow.write(request.mid(sent++, 1));
        slow.flush();
        slow.waitForDisconnected(1000);
        // Meanwhile another guest is served.
        if (sent == 3)
            QCOMPARE(get("/takes.json").status, 200);
    }
    QCOMPARE(slow.state(), QAbstractSocket::UnconnectedState);
    QVERIFY2(clock.elapsed() < 30000, QByteArray::number(clock.elapsed()).constData());
    QVERIFY(!slow.readAll().contains(big_video.left(64)));
    QCOMPARE(get("/").status, 200);
    QTRY_VERIFY((server_out += server.readAllStandardOutput())
                    .contains("127.0.0.1 closed: no whole request within 10 s"));
}

// Each row: a Range header on the take's video, the status, the bytes and
// Content-Range expected.
void ServeTest::ranges_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("range");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("length");
    const int size = 3 * 1024 * 1024 + 17;
    const QByteArray video = "/take/Prise%201/output_video.mp4";
    QTest::newRow("whole") << QByteArray("GET") << video << QByteArray() << 200 << 0 << size;
    QTest::newRow("first bytes") << QByteArray("GET") << video << QByteArray("bytes=0-1") << 206
                                 << 0 << 2;
    QTest::newRow("middle") << QByteArray("GET") << video << QByteArray("bytes=1000000-1999999")
                            << 206 << 1000000 << 1000000;
    QTest::newRow("to the end") << QByteArray("GET") << video << QByteArray("bytes=3000000-")
                                << 206 << 3000000 << size - 3000000;
    QTest::newRow("last bytes") << QByteArray("GET") << video << QByteArray("bytes=-100") << 206
                                << size - 100 << 100;
    QTest::newRow("past the end") << QByteArray("GET") << video
                                  << QByteArray("bytes=") + QByteArray::number(size) + "-" << 416
                                  << 0 << 0;
    QTest::newRow("HEAD") << QByteArray("HEAD") << video << QByteArray() << 200 << 0 << size;
    QTest::newRow("download") << QByteArray("GET") << QByteArray("/download/Prise%201/output_video.mp4")
                              << QByteArray("bytes=10-19") << 206 << 10 << 10;
}

void ServeTest::ranges()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, range);
    QFETCH(int, status);
    QFETCH(int, first);
    QFETCH(int, length);
    const QByteArray headers = range.isEmpty() ? QByteArray() : "Range: " + range + "\r\n";
    const HttpAnswer answer = http_exchange(port, http_request(method, path, headers));
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.headers.value("accept-ranges"), QByteArray("bytes"));
    const QByteArray size = QByteArray::number(big_video.size());
    if (status == 416) {
        QCOMPARE(answer.headers.value("content-range"), "bytes */" + size);
        return;
    }
    QCOMPARE(answer.headers.value("content-length"), QByteArray::number(length));
    QCOMPARE(answer.body, method == "HEAD" ? QByteArray() : big_video.mid(first, length));
    if (status == 206)
        QCOMPARE(answer.headers.value("content-range"),
                 "bytes " + QByteArray::number(first) + "-" +
                     QByteArray::number(first + length - 1) + "/" + size);
    QCOMPARE(answer.headers.value("content-disposition"),
             path.startsWith("/download/")
                 ? QByteArray("attachment; filename=\"Prise_1_output_video.mp4\"; "
                              "filename*=UTF-8''Prise%201_output_video.mp4")
                 : QByteArray());
}

void ServeTest::a_finished_take_appears_without_a_reload()
{
    QVERIFY(!get("/takes.json").body.contains("Prise 2"));
    QCOMPARE(get("/take/Prise%202").status, 404);
    // The booth writes the marker last; from then on the take is served, first.
    QVERIFY(write_bytes(root + "/Prise 2/.termine", ""));
    QTRY_VERIFY(get("/takes.json").body.startsWith("{\"takes\":[{\"name\":\"Prise 2\""));
    QCOMPARE(get("/take/Prise%202").status, 200);
    // A take the booth redoes is withdrawn with its marker, files and all.
    QVERIFY(QFile::remove(root + "/Prise 1/.termine"));
    QCOMPARE(get("/take/Prise%201/output_video.mp4").status, 404);
    QTRY_VERIFY(!get("/takes.json").body.contains("Prise 1"));
}

void ServeTest::sigterm_during_a_download_stops_cleanly()
{
    // A video much larger than the socket buffers, read by a client that stalls.
    QFile large(root + "/Prise 1/output_video.mp4");
    QVERIFY(large.open(QIODevice::ReadWrite) && large.resize(400 * 1024 * 1024));
    large.close();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(client.waitForConnected(5000));
    client.write(http_request("GET", "/take/Prise%201/output_video.mp4"));
    QVERIFY(client.waitForReadyRead(5000));
    QVERIFY(client.read(4096).startsWith("HTTP/1.1 200"));

    server.terminate();
    QVERIFY(server.waitForFinished(15000));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
    QVERIFY(server.readAllStandardOutput().endsWith("Stopped serving\n"));
    QCOMPARE(server.readAllStandardError(), QByteArray());
    // The client is let go, its download cut short.
    qint64 received = 0;
    while (client.state() == QAbstractSocket::ConnectedState || client.bytesAvailable() > 0) {
        received += client.readAll().size();
        if (client.bytesAvailable() == 0 && !client.waitForReadyRead(5000))
            break;
    }
    QCOMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(received < 400 * 1024 * 1024);
}

void ServeTest::a_used_port_is_said()
{
    const QuorvaneRun run =
        run_quorvane({"serve", root, "--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
    QCOMPARE(run.exit_code, 1);
    QVERIFY2(run.err.startsWith(QStringLiteral("quorvane : impossible de servir sur 127.0.0.1:%1 (")
                                    .arg(port)),
             qPrintable(run.err));
    const QuorvaneRun missing = run_quorvane({"serve", work.filePath("absent")});
    QCOMPARE(missing.exit_code, 1);
    QCOMPARE(missing.err,
             QStringLiteral("quorvane : '%1' : dossier introuvable\n").arg(work.filePath("absent")));
    const QuorvaneRun bad = run_quorvane({"serve", root, "--listen", "localhost"});
    QCOMPARE(bad.exit_code, 2);
    QVERIFY2(bad.err.startsWith("quorvane : serve : --listen attend ADRESSE:PORT"), qPrintable(bad.err));
}

void ServeTest::watch_serves_the_takes_it_makes()
{
    const SmallRig rig = write_small_rig(work.filePath("rig"), 3);
    QVERIFY2(rig.error.empty(), rig.error.c_str());
    const QString calibration = work.filePath("rig.qvcal");
    QCOMPARE(write_small_rig_calibration(rig, calibration), QString());
    const QString inbox = work.filePath("inbox");
    const QString booth_root = work.filePath("booth");
    QVERIFY(QDir().mkpath(inbox));
    QProcess watcher;
    QByteArray out;
    quint16 booth_port = 0;
    start_server(watcher, out,
                 {"watch", "--calibration", calibration, "--output", booth_root, "--settle", "0",
                  "--serve", "127.0.0.1:0", inbox},
                 booth_port);
    QVERIFY(QDir().mkpath(inbox + "/Arrivée"));
    for (int k = 0; k < rig.shots.size(); ++k)
        QVERIFY(QFile::copy(rig.shots[k], inbox + QStringLiteral("/Arrivée/cam%1.jpg").arg(k)));
    QTRY_VERIFY_WITH_TIMEOUT((out += watcher.readAllStandardOutput()).contains("Take done: Arrivée"),
                             120000);
    // ROOT is read again each second.
    QTRY_VERIFY(http_exchange(booth_port, http_request("GET", "/takes.json"))
                    .body.contains("\"name\":\"Arrivée\""));
    const HttpAnswer video = http_exchange(
        booth_port, http_request("GET", "/take/Arriv%C3%A9e/output_video.mp4"));
    QCOMPARE(video.status, 200);
    QCOMPARE(video.body, read_bytes(booth_root + "/Arrivée/output_video.mp4"));
    QTRY_VERIFY((out += watcher.readAllStandardOutput())
                    .contains("127.0.0.1 \"GET /take/Arriv%C3%A9e/output_video.mp4\" 200 "));
    watcher.terminate();
    QVERIFY(watcher.waitForFinished(30000));
    QCOMPARE(watcher.exitCode(), 0);
    QCOMPARE(http_exchange(booth_port, http_request("GET", "/"), 2000).status, 0);
}

void ServeTest::chromium_shows_the_gallery_and_reads_the_code()
{
    if (chromium().isEmpty())
        QSKIP("chromium is not installed (scripts/test installs it)");
    const QString zbarimg = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
    QVERIFY2(!zbarimg.isEmpty(), "zbarimg is missing (zbar-tools)");
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);

    // The gallery as its script draws it, newest first, each video looping muted.
    QVERIFY(write_bytes(root + "/Prise 2/.termine", ""));
    // The server reads ROOT again each second, while Chromium's virtual time runs the
    // page's refreshes at once: the take must be listed before the page is loaded.
    QTRY_VERIFY(http_exchange(port, http_request("GET", "/takes.json"))
                    .body.contains("\"name\":\"Prise 2\""));
    const QByteArray dom = tool_output(
        chromium(), chromium_arguments({"--virtual-time-budget=5000", "--dump-dom", base + "/"}));
    QVERIFY2(dom.contains("<figure data-name=\"Prise 2\">"), dom.constData());
    QVERIFY(dom.indexOf("data-name=\"Prise 2\"") < dom.indexOf("data-name=\"Prise 1\""));
    QVERIFY2(QRegularExpression("<video playsinline=\"\" muted=\"\" loop=\"\" autoplay=\"\"[^>]*"
                                " src=\"/take/Prise%201/output_video_boomerang.mp4\"")
                 .match(QString::fromUtf8(dom))
                 .hasMatch(),
             dom.constData());
    QVERIFY(!dom.contains("Fuite\">") || dom.contains("data-name=\"Fuite\""));

    // The take's QR code, drawn by Chromium, read by zbarimg: this page's address.
    const QString shot = work.filePath("qr.png");
    QFile::remove(shot);
    QVERIFY(!tool_output(chromium(), chromium_arguments({"--window-size=500,500",
                                                         "--screenshot=" + shot,
                                                         base + "/take/Prise%201/qr.svg"}))
                 .isNull());
    QCOMPARE(QString::fromUtf8(tool_output(zbarimg, {"--raw", "-q", shot})).trimmed(),
             base + "/take/Prise%201");

    // The take's video plays in the browser: its time advances.
    const QString player = work.filePath("player.html");
    QVERIFY(write_bytes(player, "<!DOCTYPE html><video muted autoplay playsinline src=\"" +
                                    base.toUtf8() + "/take/Prise%201/output_video_boomerang.mp4\">"
                                    "</video><script>const v = document.querySelector('video');"
                                    "v.addEventListener('timeupdate', () => { if (v.currentTime > "
                                    "0.5 && !document.getElementById('played')) { const p = "
                                    "document.createElement('p'); p.id = 'played'; p.textContent = "
                                    "v.currentTime; document.body.appendChild(p); } });</script>"));
    const QByteArray played = tool_output(
        chromium(), chromium_arguments({"--virtual-time-budget=10000", "--dump-dom",
                                        QUrl::fromLocalFile(player).toString()}));
    QVERIFY2(played.contains("<p id=\"played\">"), played.constData());
}

// The booth's own screen opens the gallery as localhost: the code it shows must
// still name an address a guest's phone reaches.
void ServeTest::a_code_asked_through_localhost_names_the_booths_address()
{
    if (chromium().isEmpty())
        QSKIP("chromium is not installed (scripts/test installs it)");
    const QString zbarimg = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
    QVERIFY2(!zbarimg.isEmpty(), "zbarimg is missing (zbar-tools)");
    QStringList reachable;
    for (const QHostAddress& address : QNetworkInterface::allAddresses())
        if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol)
            reachable << address.toString();
    if (reachable.isEmpty())
        QSKIP("this machine has no address but loopback");

    QProcess everywhere;
    start_quorvane(everywhere, {"serve", root, "--listen", "0.0.0.0:0"});
    QByteArray out;
    const QRegularExpression serving(QStringLiteral("on http://0\\.0\\.0\\.0:(\\d+)/\n"));
    QRegularExpressionMatch match;
    while (!(match = serving.match(QString::fromUtf8(out))).hasMatch() &&
           everywhere.state() != QProcess::NotRunning) {
        everywhere.waitForReadyRead(200);
        out += everywhere.readAllStandardOutput();
    }
    QVERIFY2(match.hasMatch(), out.constData());
    const quint16 listening = quint16(match.captured(1).toUInt());

    const HttpAnswer svg = http_exchange(
        listening, "GET /take/Prise%201/qr.svg HTTP/1.1\r\nHost: localhost:" +
                       QByteArray::number(listening) + "\r\nConnection: close\r\n\r\n");
    QCOMPARE(svg.status, 200);
    const QString drawn = work.filePath("localhost_qr.svg");
    QVERIFY(write_bytes(drawn, svg.body));
    const QString shot = work.filePath("localhost_qr.png");
    QFile::remove(shot);
    QVERIFY(!tool_output(chromium(), chromium_arguments({"--window-size=500,500",
                                                         "--screenshot=" + shot,
                                                         QUrl::fromLocalFile(drawn).toString()}))
                 .isNull());
    const QString read = QString::fromUtf8(tool_output(zbarimg, {"--raw", "-q", shot})).trimmed();
    const QRegularExpressionMatch named =
        QRegularExpression(QStringLiteral("^http://([0-9.]+):(\\d+)/take/Prise%201$")).match(read);
    QVERIFY2(named.hasMatch(), qPrintable(read));
    QVERIFY2(reachable.contains(named.captured(1)), qPrintable(read));
    QCOMPARE(named.captured(2).toUInt(), uint(listening));
    everywhere.terminate();
    QVERIFY(everywhere.waitForFinished(30000));
}

QTEST_GUILESS_MAIN(ServeTest)
#include "serve_test.moc"
