// The names a processing run owns: exactly what it writes, and what a killed
// run leaves, as Qt and ffmpeg really name those files.

#include "output/run_files.h"
#include "support/atomic_file.h"

#include <QDir>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

class RunFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("run_file");
        QTest::addColumn<bool>("leftover");
        QTest::newRow("frame") << "output_img_12.jpg" << true << false;
        QTest::newRow("video") << "output_video.mp4" << true << false;
        QTest::newRow("boomerang GIF") << "output_video_boomerang.gif" << true << false;
        QTest::newRow("user's edit") << "output_video_final_edit.mov" << false << false;
        QTest::newRow("user's cover") << "output_img_cover.jpg" << false << false;
        QTest::newRow("leading zero") << "output_img_07.jpg" << false << false;
        QTest::newRow("other case") << "output_video.MP4" << false << false;
        QTest::newRow("partial video") << ".output_video.partial.mp4" << false << true;
        QTest::newRow("partial boomerang GIF")
            << ".output_video_boomerang.partial.gif" << false << true;
        QTest::newRow("temporary frame") << "output_img_3.jpg.aBcD12" << false << true;
        QTest::newRow("temporary of a user's file")
            << "output_img_cover.jpg.aBcD12" << false << false;
        QTest::newRow("partial of a user's file")
            << ".output_video_final.partial.mov" << false << false;
        QTest::newRow("staging folder") << staging_folder_name << false << false;
    }

    void names()
    {
        QFETCH(QString, name);
        QFETCH(bool, run_file);
        QFETCH(bool, leftover);
        QCOMPARE(is_run_file(name), run_file);
        QCOMPARE(is_run_leftover(name), leftover);
    }

    // What the kill of a run in the middle of a write really leaves: the
    // temporary file of write_file_atomically and the partial file of ffmpeg.
    void the_real_temporary_names_are_leftovers()
    {
        QTemporaryDir folder;
        const QString frame = folder.filePath(frame_file_name(3));
        QSaveFile file(frame);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write("half a frame") > 0);
        // Where the system offers unnamed temporary files, Qt uses one and a kill
        // leaves nothing; elsewhere the temporary file has a name.
        const QStringList written = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
        QVERIFY(written.size() <= 1);
        for (const QString& name : written)
            QVERIFY2(is_run_leftover(name), qPrintable(name));
        file.cancelWriting();

        for (const QString& video : video_file_names()) {
            const QString partial = partial_path(folder.filePath(video));
            QVERIFY2(is_run_leftover(QFileInfo(partial).fileName()), qPrintable(partial));
        }
    }
};

QTEST_GUILESS_MAIN(RunFilesTest)
#include "run_files_test.moc"
