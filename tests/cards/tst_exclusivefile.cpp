#include "cards/exclusivefile.h"
#include "cards/runlock.h"
#include "support/loopvolume.h"
#include "support/testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtTest>

// Every entry of the folder, hidden ones included: no temporary file may stay.
static QStringList entries(const QString& dir)
{
    QStringList names =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.removeAll("lost+found"); // ext4's own
    return names;
}

class TestExclusiveFile : public QObject
{
    Q_OBJECT

private slots:
    void refusesAndFails()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("p.kava");
        // A dangling link holds the name: it is neither followed nor replaced.
        QVERIFY(QFile::link(dir.filePath("nowhere"), path));
        QCOMPARE(int(ExclusiveFile::write(path, "new")), int(ExclusiveFile::AlreadyExists));
        QVERIFY(QFileInfo(path).isSymLink());
        QString error;
        QCOMPARE(int(ExclusiveFile::write(dir.filePath("missing/p.kava"), "new", &error)),
                 int(ExclusiveFile::Failed));
        QVERIFY(!error.isEmpty());
        QCOMPARE(entries(dir.path()), QStringList{"p.kava"});
    }

    void onlyTheWinnerStays_data()
    {
        QTest::addColumn<QString>("type"); // of the file system
        QTest::addColumn<bool>("locks");   // it refuses no name itself (no such rename, no links)
        QTest::newRow("ext4") << "ext4" << false;
        QTest::newRow("exFAT through FUSE") << "exfat" << true;
        QTest::newRow("FAT through FUSE") << "fusefat" << true;
        QTest::newRow("NTFS through FUSE") << "ntfs" << false;
    }

    void onlyTheWinnerStays()
    {
        QFETCH(QString, type);
        QFETCH(bool, locks);
        QTemporaryDir base;
        LoopVolume volume;
        const QString dir = base.filePath("fs");
        if (!volume.mount(base.filePath("fs.img"), dir, type))
            SKIP_SAFETY(volume.error());
        const QString path = dir + "/V0042_autopano.kava";
        ExclusiveFile loser(path);
        QVERIFY(loser.open());
        loser.file().write("loser");
        QVERIFY(TestSupport::writeFile(path, "winner")); // another writer got there first
        QCOMPARE(int(loser.commit()), int(ExclusiveFile::AlreadyExists));
        QCOMPARE(TestSupport::readFile(path), QByteArray("winner"));
        {
            ExclusiveFile interrupted(dir + "/a.MOV"); // never committed
            QVERIFY(interrupted.open());
            interrupted.file().write(QByteArray(4096, 'x'));
        }
        // Where the file system cannot refuse a name, it is taken only under
        // the lock of every program of ours, never claimed by an empty file
        // first (which a crash would leave behind).
        const QString photo = dir + "/P0001.JPG";
        QFuture<int> named;
        {
            RunLock::NameLock other(dir);
            QVERIFY(other.locked());
            named = QtConcurrent::run([&] { return int(ExclusiveFile::write(photo, "photo")); });
            QThread::msleep(300);
            QCOMPARE(named.isFinished(), !locks);
            QCOMPARE(QFileInfo::exists(photo), !locks);
        }
        QCOMPARE(named.result(), int(ExclusiveFile::Created));
        QCOMPARE(TestSupport::readFile(photo), QByteArray("photo"));
        QCOMPARE(entries(dir), QStringList({"P0001.JPG", "V0042_autopano.kava"}));
    }
};

QTEST_GUILESS_MAIN(TestExclusiveFile)
#include "tst_exclusivefile.moc"
