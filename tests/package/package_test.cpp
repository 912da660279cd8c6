// The Debian package end to end: CPack builds it from this build tree into a
// temporary folder, dpkg-deb reads its control fields and unpacks it, and the
// unpacked program runs with no display at all.

#include "tests/cli/quorvane_process.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

struct ToolRun
{
    bool finished = false;
    int exit_code = -1;
    QString out;
    QString err;
};

// Runs `program arguments...` to its end (at most three minutes: CPack strips
// and compresses the program, which in a sanitizer build is large).
ToolRun run_tool(const QString& program, const QStringList& arguments,
                 const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ToolRun run;
    if (!process.waitForFinished(180000)) {
        process.kill();
        process.waitForFinished();
        run.err = process.errorString();
        return run;
    }
    run.finished = process.exitStatus() == QProcess::NormalExit;
    run.exit_code = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString describe(const ToolRun& run)
{
    return QStringLiteral("exit %1\n%2\n%3").arg(run.exit_code).arg(run.out, run.err);
}

} // namespace

class PackageTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void package_is_named_after_its_version_and_architecture();
    void control_fields_data();
    void control_fields();
    void installs_only_the_program_its_entry_and_icon();
    void booth_unit_runs_watch_with_its_settings();
    void unpacked_program_runs_without_a_display_data();
    void unpacked_program_runs_without_a_display();
    void desktop_entry_starts_the_program_with_its_icon();

private:
    QString control_field(const QString& name) const;

    QTemporaryDir work_;
    QString package_;
    QString root_; // where the package is unpacked
    QString architecture_;
};

void PackageTest::initTestCase()
{
    QVERIFY(work_.isValid());
    const ToolRun architecture =
        run_tool(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")});
    QVERIFY2(architecture.exit_code == 0, qPrintable(describe(architecture)));
    architecture_ = architecture.out.trimmed();

    const QString output = work_.filePath(QStringLiteral("out"));
    const ToolRun cpack =
        run_tool(QStringLiteral(QUORVANE_CPACK),
                 {QStringLiteral("--config"), QStringLiteral(QUORVANE_CPACK_CONFIG),
                  QStringLiteral("-B"), output});
    QVERIFY2(cpack.exit_code == 0, qPrintable(describe(cpack)));

    const QStringList packages =
        QDir(output).entryList({QStringLiteral("*.deb")}, QDir::Files, QDir::Name);
    QCOMPARE(packages.size(), 1);
    package_ = QDir(output).filePath(packages.first());

    root_ = work_.filePath(QStringLiteral("root"));
    const ToolRun unpack =
        run_tool(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), package_, root_});
    QVERIFY2(unpack.exit_code == 0, qPrintable(describe(unpack)));
}

QString PackageTest::control_field(const QString& name) const
{
    return run_tool(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), package_, name})
        .out.trimmed();
}

void PackageTest::package_is_named_after_its_version_and_architecture()
{
    QCOMPARE(
        QFileInfo(package_).fileName(),
        QStringLiteral("quorvane_%1_%2.deb").arg(QStringLiteral(QUORVANE_VERSION), architecture_));
}

// Each row: a control field and a pattern it must match. A dependency may carry
// a version and be one of alternatives; the OpenCV packages are matched by stem,
// their soname suffix following the distribution.
void PackageTest::control_fields_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("pattern");
    const QString listed = QStringLiteral("(^|, | \\| )%1( \\([^)]*\\))?(,| \\||$)");
    QTest::newRow("name") << "Package"
                          << "^quorvane$";
    QTest::newRow("version") << "Version" << QStringLiteral("^%1$").arg(QUORVANE_VERSION);
    QTest::newRow("section") << "Section"
                             << "^graphics$";
    QTest::newRow("maintainer") << "Maintainer"
                                << "^[^<>]+ <[^<>@]+@[^<>@]+>$";
    // A summary line, then the longer text, every line short enough for a terminal.
    QTest::newRow("description") << "Description"
                                 << "^\\S[^\n]{9,78}(\n [^\n]{1,78})+$";
    QTest::newRow("ffmpeg") << "Depends" << listed.arg(QStringLiteral("ffmpeg"));
    QTest::newRow("Qt Core") << "Depends" << listed.arg(QStringLiteral("libqt5core5a"));
    QTest::newRow("Qt Gui") << "Depends" << listed.arg(QStringLiteral("libqt5gui5"));
    QTest::newRow("Qt Widgets") << "Depends" << listed.arg(QStringLiteral("libqt5widgets5"));
    for (const char* library : {"core", "imgproc", "imgcodecs"})
        QTest::newRow(qPrintable(QStringLiteral("OpenCV %1").arg(library)))
            << "Depends" << listed.arg(QStringLiteral("libopencv-%1[0-9.]+").arg(library));
    // The sharing page's server and QR codes.
    QTest::newRow("libmicrohttpd") << "Depends" << listed.arg(QStringLiteral("libmicrohttpd12"));
    QTest::newRow("libqrencode") << "Depends" << listed.arg(QStringLiteral("libqrencode4"));
    QTest::newRow("Qt's French texts")
        << "Recommends" << listed.arg(QStringLiteral("qttranslations5-l10n"));
}

void PackageTest::control_fields()
{
    QFETCH(QString, field);
    QFETCH(QString, pattern);
    const QString value = control_field(field);
    QVERIFY2(QRegularExpression(pattern).match(value).hasMatch(),
             qPrintable(QStringLiteral("%1: %2").arg(field, value)));
}

void PackageTest::installs_only_the_program_its_entry_and_icon()
{
    QStringList files;
    QDirIterator it(root_, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root_).relativeFilePath(it.next());
    files.sort();
    QCOMPARE(files,
             QStringList({QStringLiteral("usr/bin/quorvane"),
                          QStringLiteral("usr/lib/systemd/system/quorvane-booth@.service"),
                          QStringLiteral("usr/lib/sysusers.d/quorvane.conf"),
                          QStringLiteral("usr/share/applications/quorvane.desktop"),
                          QStringLiteral("usr/share/doc/quorvane/booth.conf.example"),
                          QStringLiteral("usr/share/icons/hicolor/scalable/apps/quorvane.svg")}));
    QVERIFY(QFileInfo(QDir(root_).filePath(QStringLiteral("usr/bin/quorvane"))).isExecutable());
}

// The unit starts `quorvane watch` with the arguments of /etc/quorvane/NAME.conf
// as the user the package creates, and the example settings name a booth
// whose arguments `watch` accepts.
void PackageTest::booth_unit_runs_watch_with_its_settings()
{
    QSettings unit(QDir(root_).filePath(
                       QStringLiteral("usr/lib/systemd/system/quorvane-booth@.service")),
                   QSettings::IniFormat);
    QCOMPARE(unit.value(QStringLiteral("Service/EnvironmentFile")).toString(),
             QStringLiteral("/etc/quorvane/%i.conf"));
    QCOMPARE(unit.value(QStringLiteral("Service/ExecStart")).toString(),
             QStringLiteral("/usr/bin/quorvane watch $QUORVANE_ARGS"));
    QCOMPARE(unit.value(QStringLiteral("Service/Restart")).toString(),
             QStringLiteral("on-failure"));
    const QString user = unit.value(QStringLiteral("Service/User")).toString();
    QCOMPARE(user, QStringLiteral("quorvane"));
    QFile sysusers(QDir(root_).filePath(QStringLiteral("usr/lib/sysusers.d/quorvane.conf")));
    QVERIFY(sysusers.open(QIODevice::ReadOnly));
    QVERIFY(sysusers.readAll().contains("\nu quorvane "));
    // The package creates the user when it is installed.
    const ToolRun control = run_tool(QStringLiteral("dpkg-deb"),
                                     {QStringLiteral("-I"), package_, QStringLiteral("postinst")});
    QVERIFY2(control.out.contains(QStringLiteral("systemd-sysusers quorvane.conf")),
             qPrintable(describe(control)));
    const QString verifier = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
    if (!verifier.isEmpty()) {
        const ToolRun verify = run_tool(
            verifier, {QStringLiteral("verify"), QStringLiteral("--man=no"),
                       QDir(root_).filePath(
                           QStringLiteral("usr/lib/systemd/system/quorvane-booth@.service"))});
        QVERIFY2(!verify.err.contains(QStringLiteral("Unknown")), qPrintable(describe(verify)));
    }
}

void PackageTest::unpacked_program_runs_without_a_display_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    QTest::newRow("version") << QStringList{QStringLiteral("--version")}
                             << QStringLiteral("^quorvane %1\n$").arg(QUORVANE_VERSION);
    QTest::newRow("calibrate help")
        << QStringList{QStringLiteral("calibrate"), QStringLiteral("--help")}
        << "^Utilisation : quorvane calibrate .*--output RIG\\.qvcal";
}

void PackageTest::unpacked_program_runs_without_a_display()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    const ToolRun run = run_tool(QDir(root_).filePath(QStringLiteral("usr/bin/quorvane")),
                                 arguments, headless_environment());
    QVERIFY2(run.finished && run.exit_code == 0, qPrintable(describe(run)));
    QVERIFY2(QRegularExpression(expected).match(run.out).hasMatch(), qPrintable(run.out));
}

void PackageTest::desktop_entry_starts_the_program_with_its_icon()
{
    const QString entry =
        QDir(root_).filePath(QStringLiteral("usr/share/applications/quorvane.desktop"));
    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    QVERIFY2(!validator.isEmpty(), "desktop-file-validate is missing (desktop-file-utils)");
    const ToolRun validate = run_tool(validator, {entry});
    QVERIFY2(validate.exit_code == 0 && validate.out.isEmpty(), qPrintable(describe(validate)));

    QSettings desktop(entry, QSettings::IniFormat);
    desktop.setIniCodec("UTF-8");
    desktop.beginGroup(QStringLiteral("Desktop Entry"));
    const QString exec = desktop.value(QStringLiteral("Exec")).toString();
    QVERIFY2(QFileInfo(QDir(root_).filePath(QStringLiteral("usr/bin/") + exec)).isExecutable(),
             qPrintable(exec));
    QCOMPARE(desktop.value(QStringLiteral("Terminal")).toString(), QStringLiteral("false"));
    QVERIFY(
        desktop.value(QStringLiteral("Name")).toString().startsWith(QStringLiteral("Quorvane")));

    const QString icon = desktop.value(QStringLiteral("Icon")).toString();
    QFile svg(QDir(root_).filePath(
        QStringLiteral("usr/share/icons/hicolor/scalable/apps/%1.svg").arg(icon)));
    QVERIFY2(svg.open(QIODevice::ReadOnly), qPrintable(svg.fileName()));
    QXmlStreamReader xml(&svg);
    QVERIFY(xml.readNextStartElement());
    QCOMPARE(xml.name().toString(), QStringLiteral("svg"));
    while (!xml.atEnd())
        xml.readNext();
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
}

QTEST_GUILESS_MAIN(PackageTest)
#include "package_test.moc"
