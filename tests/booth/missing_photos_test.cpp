// The names the booth gives for the photos a take lacks: only where the names
// follow one pattern, never a guess that the numbers do not support.

#include "booth/missing_photos.h"

#include <QtTest>

class MissingPhotosTest : public QObject
{
    Q_OBJECT

private slots:
    void names_of_the_missing_photos_data();
    void names_of_the_missing_photos();
};

void MissingPhotosTest::names_of_the_missing_photos_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("cameras");
    QTest::addColumn<QStringList>("missing");

    QStringList twelve;
    for (int k = 1; k <= 12; ++k)
        if (k != 7)
            twelve << QStringLiteral("cam_%1.jpg").arg(k, 2, 10, QLatin1Char('0'));
    QTest::newRow("a gap in zero-padded names") << twelve << 12 << QStringList{"cam_07.jpg"};
    QStringList eleven;
    for (int k = 1; k <= 11; ++k)
        eleven << QStringLiteral("cam%1.jpg").arg(k);
    QTest::newRow("the last of a run from 1, across widths")
        << eleven << 12 << QStringList{"cam12.jpg"};
    QTest::newRow("the last of a run from 0")
        << QStringList{"shot0.png", "shot1.png", "shot2.png"} << 4 << QStringList{"shot3.png"};
    QTest::newRow("the first of a run from 2")
        << QStringList{"IMG_0002.JPG", "IMG_0003.JPG", "IMG_0004.JPG"} << 4
        << QStringList{"IMG_0001.JPG"};
    QTest::newRow("two gaps") << QStringList{"c1.jpg", "c3.jpg", "c5.jpg"} << 5
                              << QStringList{"c2.jpg", "c4.jpg"};
    QTest::newRow("a gap and the end")
        << QStringList{"c1.jpg", "c3.jpg"} << 4 << QStringList{"c2.jpg", "c4.jpg"};
    QTest::newRow("digits before the camera number")
        << QStringList{"take3_cam1.jpg", "take3_cam2.jpg", "take3_cam4.jpg"} << 4
        << QStringList{"take3_cam3.jpg"};

    QTest::newRow("more gaps than photos missing")
        << QStringList{"IMG_0012.jpg", "IMG_0015.jpg", "IMG_0020.jpg"} << 4 << QStringList{};
    QTest::newRow("a run far from 1 with no gap")
        << QStringList{"IMG_0101.jpg", "IMG_0102.jpg", "IMG_0103.jpg"} << 4 << QStringList{};
    QTest::newRow("two prefixes") << QStringList{"left1.jpg", "right2.jpg"} << 3 << QStringList{};
    QTest::newRow("two extensions") << QStringList{"c1.jpg", "c3.png"} << 3 << QStringList{};
    QTest::newRow("padded beside unpadded")
        << QStringList{"cam1.jpg", "cam02.jpg", "cam04.jpg"} << 4 << QStringList{};
    QTest::newRow("one number written twice")
        << QStringList{"cam1.jpg", "cam01.jpg"} << 3 << QStringList{};
    QTest::newRow("no number") << QStringList{"front.jpg", "back.jpg"} << 3 << QStringList{};
    QTest::newRow("nothing missing") << QStringList{"c1.jpg", "c2.jpg"} << 2 << QStringList{};
}

void MissingPhotosTest::names_of_the_missing_photos()
{
    QFETCH(QStringList, names);
    QFETCH(int, cameras);
    QFETCH(QStringList, missing);
    QCOMPARE(probable_missing_photos(names, cameras), missing);
}

QTEST_GUILESS_MAIN(MissingPhotosTest)
#include "missing_photos_test.moc"
