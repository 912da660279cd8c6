// Whether a photo file is whole and usable, before any decode: one verdict for
// the booth's looks and for the run's check, whatever the file is named.

#include "photo/photo_problem.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray encoded(const char* format)
{
    QImage picture(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, format))
        return QByteArray();
    return bytes;
}

} // namespace

class PhotoProblemTest : public QObject
{
    Q_OBJECT

private slots:
    void a_photo_is_whole_or_cut_short_data();
    void a_photo_is_whole_or_cut_short();
};

void PhotoProblemTest::a_photo_is_whole_or_cut_short_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<QString>("problem");

    const QByteArray png = encoded("PNG");
    const QByteArray jpeg = encoded("JPG");
    const QString png_cut = QStringLiteral("photo PNG incomplète (coupée avant la fin)");
    QTest::newRow("a whole PNG") << "cam1.png" << png << true << "";
    QTest::newRow("a PNG cut in its data")
        << "cam1.png" << png.left(png.size() / 2) << false << png_cut;
    QTest::newRow("a PNG without its IEND chunk")
        << "cam1.png" << png.left(png.size() - 12) << false << png_cut;
    QTest::newRow("a PNG with data after its end") << "cam1.png" << png + "trailer" << true << "";
    // What the file holds counts, not its name.
    QTest::newRow("a PNG cut short, named .jpg")
        << "cam1.jpg" << png.left(png.size() / 2) << false << png_cut;
    QTest::newRow("a whole JPEG, named .png") << "cam1.png" << jpeg << true << "";
    QTest::newRow("a JPEG cut short") << "cam1.jpg" << jpeg.left(jpeg.size() / 2) << false
                                      << "photo JPEG incomplète (coupée avant la fin)";
    QTest::newRow("neither") << "cam1.jpg" << QByteArray("not a photo at all") << false
                             << "ce n'est pas une photo JPEG ou PNG lisible";
}

void PhotoProblemTest::a_photo_is_whole_or_cut_short()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, complete);
    QFETCH(QString, problem);

    QTemporaryDir folder;
    const QString path = folder.filePath(name);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    QCOMPARE(photo_complete(path), complete);
    QCOMPARE(photo_problem(path, false), problem);
}

QTEST_GUILESS_MAIN(PhotoProblemTest)
#include "photo_problem_test.moc"
