// The sharing page's pure rules: how a request's path is split and decoded,
// which bytes a Range header asks for, which listen addresses are accepted.

#include "serve/byte_range.h"
#include "serve/listen_address.h"
#include "serve/request_path.h"

#include <QtTest>

Q_DECLARE_METATYPE(ByteRange::Kind)

class ShareRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void request_path_data();
    void request_path();
    void path_segment_round_trips();
    void byte_range_asked_data();
    void byte_range_asked();
    void listen_address_data();
    void listen_address();
};

void ShareRulesTest::request_path_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("segments");
    QTest::newRow("root") << QByteArray("/") << true << QStringList();
    QTest::newRow("take page") << QByteArray("/take/Prise%201") << true
                               << QStringList{"take", "Prise 1"};
    QTest::newRow("UTF-8 name") << QByteArray("/take/F%C3%AAte") << true
                                << QStringList{"take", QString::fromUtf8("Fête")};
    QTest::newRow("plus is a plus") << QByteArray("/take/a+b") << true
                                    << QStringList{"take", "a+b"};
    QTest::newRow("escaped percent stays one") << QByteArray("/take/%252e%252e") << true
                                               << QStringList{"take", "%2e%2e"};
    QTest::newRow("dot dot") << QByteArray("/take/../x") << false << QStringList();
    QTest::newRow("dot") << QByteArray("/take/./x") << false << QStringList();
    QTest::newRow("encoded dot dot") << QByteArray("/take/%2e%2e/x") << false << QStringList();
    QTest::newRow("encoded dot dot, upper case") << QByteArray("/take/%2E%2E") << false
                                                 << QStringList();
    QTest::newRow("encoded slash") << QByteArray("/take/a%2Fb") << false << QStringList();
    QTest::newRow("NUL byte") << QByteArray("/take/a%00.mp4") << false << QStringList();
    QTest::newRow("empty segment") << QByteArray("/take//x") << false << QStringList();
    QTest::newRow("trailing slash") << QByteArray("/take/") << false << QStringList();
    QTest::newRow("relative") << QByteArray("take/x") << false << QStringList();
    QTest::newRow("broken escape") << QByteArray("/take/a%2") << false << QStringList();
    QTest::newRow("escape with a letter") << QByteArray("/take/a%zz") << false << QStringList();
    QTest::newRow("not UTF-8") << QByteArray("/take/%ff%fe") << false << QStringList();
}

void ShareRulesTest::request_path()
{
    QFETCH(QByteArray, raw);
    QFETCH(bool, accepted);
    QFETCH(QStringList, segments);
    const std::optional<QStringList> found = request_path_segments(raw);
    QCOMPARE(found.has_value(), accepted);
    if (accepted)
        QCOMPARE(*found, segments);
}

// Every name a folder can have comes back whole from the links the pages write.
void ShareRulesTest::path_segment_round_trips()
{
    for (const QString& name : {QStringLiteral("Prise 1"), QString::fromUtf8("Fête ü?#%&"),
                               QStringLiteral("a+b;c"), QStringLiteral("..."),
                               QStringLiteral("%2e%2e")}) {
        const QByteArray path = "/take/" + path_segment(name).toLatin1();
        QCOMPARE(request_path_segments(path).value_or(QStringList()),
                 (QStringList{QStringLiteral("take"), name}));
    }
}

void ShareRulesTest::byte_range_asked_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<qulonglong>("size");
    QTest::addColumn<ByteRange::Kind>("kind");
    QTest::addColumn<qulonglong>("first");
    QTest::addColumn<qulonglong>("last");
    using K = ByteRange::Kind;
    QTest::newRow("none") << QByteArray() << 1000ull << K::Whole << 0ull << 0ull;
    QTest::newRow("first bytes") << QByteArray("bytes=0-99") << 1000ull << K::Part << 0ull << 99ull;
    QTest::newRow("from an offset") << QByteArray("bytes=500-") << 1000ull << K::Part << 500ull
                                    << 999ull;
    QTest::newRow("past the end, cut") << QByteArray("bytes=900-5000") << 1000ull << K::Part
                                       << 900ull << 999ull;
    QTest::newRow("last bytes") << QByteArray("bytes=-100") << 1000ull << K::Part << 900ull
                                << 999ull;
    QTest::newRow("more last bytes than the file") << QByteArray("bytes=-5000") << 1000ull
                                                   << K::Part << 0ull << 999ull;
    QTest::newRow("Safari's probe") << QByteArray("bytes=0-1") << 1000ull << K::Part << 0ull
                                    << 1ull;
    QTest::newRow("at the end") << QByteArray("bytes=1000-") << 1000ull << K::Unsatisfiable
                                << 0ull << 0ull;
    QTest::newRow("no last bytes") << QByteArray("bytes=-0") << 1000ull << K::Unsatisfiable
                                   << 0ull << 0ull;
    QTest::newRow("empty file") << QByteArray("bytes=0-") << 0ull << K::Unsatisfiable << 0ull
                                << 0ull;
    QTest::newRow("huge offset") << QByteArray("bytes=99999999999999999999999-") << 1000ull
                                 << K::Unsatisfiable << 0ull << 0ull;
    QTest::newRow("backwards: ignored") << QByteArray("bytes=500-100") << 1000ull << K::Whole
                                        << 0ull << 0ull;
    QTest::newRow("several: the whole file") << QByteArray("bytes=0-1,5-6") << 1000ull << K::Whole
                                             << 0ull << 0ull;
    QTest::newRow("other unit") << QByteArray("items=0-1") << 1000ull << K::Whole << 0ull << 0ull;
    QTest::newRow("negative") << QByteArray("bytes=-5-10") << 1000ull << K::Whole << 0ull << 0ull;
}

void ShareRulesTest::byte_range_asked()
{
    QFETCH(QByteArray, header);
    QFETCH(qulonglong, size);
    QFETCH(ByteRange::Kind, kind);
    QFETCH(qulonglong, first);
    QFETCH(qulonglong, last);
    const ByteRange range = byte_range(header, size);
    QCOMPARE(range.kind, kind);
    if (kind == ByteRange::Kind::Part) {
        QCOMPARE(qulonglong(range.first), first);
        QCOMPARE(qulonglong(range.last), last);
    }
}

void ShareRulesTest::listen_address_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("IPv4") << "192.168.4.1:8080" << true << "192.168.4.1" << 8080;
    QTest::newRow("every interface") << ":80" << true << "" << 80;
    QTest::newRow("IPv6") << "[::1]:9000" << true << "::1" << 9000;
    QTest::newRow("system's choice") << "127.0.0.1:0" << true << "127.0.0.1" << 0;
    QTest::newRow("no port") << "192.168.4.1" << false << "" << 0;
    QTest::newRow("port too large") << "127.0.0.1:65536" << false << "" << 0;
    QTest::newRow("signed port") << "127.0.0.1:+80" << false << "" << 0;
    QTest::newRow("empty port") << "127.0.0.1:" << false << "" << 0;
    QTest::newRow("a name") << "booth.local:8080" << false << "" << 0;
    QTest::newRow("IPv6 without brackets") << "::1:8080" << false << "" << 0;
    QTest::newRow("bad IPv4") << "300.1.1.1:8080" << false << "" << 0;
}

void ShareRulesTest::listen_address()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(QString, host);
    QFETCH(int, port);
    const std::optional<ListenAddress> address = parse_listen_address(text);
    QCOMPARE(address.has_value(), accepted);
    if (accepted) {
        QCOMPARE(address->host, host);
        QCOMPARE(address->port, port);
        if (!host.isEmpty())
            QCOMPARE(url_authority(address->host, address->port), text);
    }
}

QTEST_GUILESS_MAIN(ShareRulesTest)
#include "share_rules_test.moc"
