#include "cardpreparation.h"
#include "drivediscovery.h"
#include "testsupport.h"
#include "volumes.h"

#include <QDirIterator>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#if defined(Q_OS_LINUX)
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace {

const QByteArray configBytes = "multi.auto_ena=1\nrecord.tl_enable=0\n";

QByteArray autoRunBytes(int card)
{
    return "[autorun]\r\nlabel=QVK_0" + QByteArray::number(card) +
           "\r\n\r\n[Content]\r\nMusicFiles=0\r\nPictureFiles=0\r\nVideoFiles=0";
}

QStringList logLines;

void captureLog(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    static const char* const kinds[] = {"D", "W", "C", "F", "I"};
    logLines << QString("%1 %2").arg(kinds[type], text);
}

// Everything below a folder, links as "name@", folders with a trailing slash.
QStringList tree(const QString& root)
{
    QStringList result;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString name = QDir(root).relativeFilePath(info.filePath());
        result << (info.isSymLink() ? name + "@" : info.isDir() ? name + "/" : name);
    }
    result.sort();
    return result;
}

const QStringList markers(int card)
{
    return {".disable_osx_metadata", ".metadata_never_index", "AutoRun.inf",
            QString("QVK_0%1").arg(card)};
}

// File checks as someone who may not override permissions: as root, the
// calling thread takes the file-system identity of "nobody" for a while.
struct Unprivileged
{
#if defined(Q_OS_LINUX)
    const bool switched = geteuid() == 0;
    Unprivileged()
    {
        if (switched) {
            setfsgid(65534);
            setfsuid(65534);
        }
    }
    ~Unprivileged()
    {
        if (switched) {
            setfsuid(0);
            setfsgid(0);
        }
    }
#endif
};

} // namespace

class TestCardPreparation : public QObject
{
    Q_OBJECT

    QTemporaryDir* base = nullptr;
    QStringList cards;
    FolderVolumeProvider* volumes = nullptr;
    QStringList reports;
    QtMessageHandler previousHandler = nullptr;

    void prepare(bool erase, bool sync)
    {
        prepareCards(
            cards[0], cards[1], cards[2], erase, sync,
            [this](int card, int from, int to, int value, const QString& text) {
                reports
                    << QString("%1 %2 %3 %4 %5").arg(card).arg(from).arg(to).arg(value).arg(text);
            });
    }
    QString finalReport(int card) const
    {
        for (int i = reports.size() - 1; i >= 0; --i)
            if (reports[i].startsWith(QString::number(card) + " "))
                return reports[i];
        return {};
    }
    QString cardLine(const char* pattern, int card) const
    {
        return QString(pattern).arg(card).arg(cards[card - 1]);
    }
    // Something on every card that a wipe removes and everything else keeps.
    void fillCards()
    {
        for (const QString& card : cards) {
            QVERIFY(TestSupport::writeFile(card + "/DCIM/100GOPRO/GOPR0001.MP4", "video"));
            QVERIFY(TestSupport::writeFile(card + "/.hidden", "h"));
        }
    }
    void openToEveryone()
    {
        QFile::setPermissions(base->path(), QFileDevice::Permissions(0x7777));
        for (const QString& card : cards)
            QFile::setPermissions(card, QFileDevice::Permissions(0x7777));
    }

private slots:
    void init()
    {
        base = new QTemporaryDir;
        QVERIFY(base->isValid());
        volumes = new FolderVolumeProvider;
        cards.clear();
        for (int n = 1; n <= 3; ++n) {
            cards << base->filePath(QString("card%1").arg(n));
            QVERIFY(QDir().mkpath(cards.last()));
            volumes->add(FolderVolumeProvider::folderVolume(cards.last()));
        }
        Volumes::setProvider(volumes);
        reports.clear();
        logLines.clear();
        previousHandler = qInstallMessageHandler(captureLog);
    }

    void cleanup()
    {
        qInstallMessageHandler(previousHandler);
        Volumes::setProvider(nullptr);
        delete volumes;
        // Let the folder go whatever a test left read-only.
        QDirIterator it(base->path(), QDir::Dirs | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            QFile::setPermissions(it.next(), QFileDevice::Permissions(0x7777));
        delete base;
    }

    void flags_data()
    {
        QTest::addColumn<bool>("erase");
        QTest::addColumn<bool>("sync");
        QTest::addColumn<QStringList>("steps"); // reports after the check pass
        QTest::addColumn<QStringList>("kept");  // besides the marker files
        const QStringList filled = {".hidden", "DCIM/", "DCIM/100GOPRO/",
                                    "DCIM/100GOPRO/GOPR0001.MP4"};
        QTest::newRow("no flags") << false << false << QStringList{"0 2 2 No action"} << filled;
        QTest::newRow("erase") << true << false << QStringList{"0 2 1 Erasing", "0 2 2 Erased"}
                               << QStringList();
        QTest::newRow("config") << false << true
                                << QStringList{"0 2 2 Creating config", "0 2 2 Prepared."}
                                << filled + QStringList{"MISC/", "MISC/cfg"};
        QTest::newRow("both") << true << true
                              << QStringList{"0 2 1 Erasing", "0 2 2 Creating config",
                                             "0 2 2 Erased and prepared."}
                              << QStringList{"MISC/", "MISC/cfg"};
    }

    void flags()
    {
        QFETCH(bool, erase);
        QFETCH(bool, sync);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, kept);
        fillCards();
        prepare(erase, sync);

        QStringList expected;
        for (int n = 1; n <= 3; ++n)
            expected << QString("%1 0 1 2 ").arg(n);
        for (int n = 1; n <= 3; ++n)
            expected << QString("%1 0 1 2 ").arg(n) + cardLine("Card %1 (%2) ok.", n);
        for (int n = 1; n <= 3; ++n)
            for (const QString& step : steps)
                expected << QString("%1 %2").arg(n).arg(step);
        QCOMPARE(reports, expected);

        for (int n = 1; n <= 3; ++n) {
            const QString card = cards[n - 1];
            QStringList files = kept + markers(n);
            files.sort();
            QCOMPARE(tree(card), files);
            QCOMPARE(TestSupport::readFile(card + "/AutoRun.inf"), autoRunBytes(n));
            QCOMPARE(QFileInfo(card + QString("/QVK_0%1").arg(n)).size(), 0);
            if (sync) {
                QCOMPARE(TestSupport::readFile(card + "/MISC/cfg"), configBytes);
                // Read-only for owner, group and others; the "user" flags tell
                // what the tester may do, and root may write anyway.
                QCOMPARE(QFile::permissions(card + "/MISC/cfg") & 0x7077,
                         QFileDevice::Permissions(0x4044));
                QVERIFY(logLines.contains(
                    "I \"" + cardLine("Created config file on card %1 (%2)", n) + "\""));
            }
            for (const char* line : {"Card %1 (%2) ok.", "Created index file on card %1 (%2)",
                                     "Created disable_osx_metadata file on card %1 (%2)",
                                     "Created metadata_never_index file on card %1 (%2)",
                                     "Created AutoRun file on card %1 (%2)"})
                QVERIFY2(logLines.contains("I \"" + cardLine(line, n) + "\""), line);
            QCOMPARE(logLines.contains("I \"" + cardLine("Erased card %1 (%2)", n) + "\""), erase);
        }
    }

    void existingFilesWrittenWhole_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("AutoRun.inf") << "AutoRun.inf" << autoRunBytes(2);
        QTest::newRow("index file") << "QVK_02" << QByteArray();
        QTest::newRow("marker") << ".metadata_never_index" << QByteArray();
        QTest::newRow("writable cfg") << "MISC/cfg" << configBytes;
    }

    void existingFilesWrittenWhole()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, expected);
        const QString path = cards[1] + "/" + name;
        QVERIFY(TestSupport::writeFile(path, autoRunBytes(2) + "\r\nold tail of an older file\n"));
        prepare(false, true);
        QCOMPARE(TestSupport::readFile(path), expected);
        QCOMPARE(reports.last(), QString("3 0 2 2 Prepared."));
    }

    void refused_data()
    {
        QTest::addColumn<int>("card");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("refused");
        QTest::newRow("128 GiB") << 2 << "size 137438953472" << false;
        QTest::newRow("one byte more") << 2 << "size 137438953473" << true;
        QTest::newRow("not ready") << 3 << "not ready" << true;
        QTest::newRow("invalid volume") << 3 << "invalid" << true;
        QTest::newRow("system volume") << 2 << "root" << true;
        QTest::newRow("no card chosen") << 1 << "empty path" << true;
        QTest::newRow("outside every volume") << 1 << "outside" << true;
        QTest::newRow("read-only is no check") << 1 << "read-only" << false;
    }

    void refused()
    {
        QFETCH(int, card);
        QFETCH(QString, change);
        QFETCH(bool, refused);
        fillCards();
        QList<VolumeInfo> list = volumes->mountedVolumes();
        VolumeInfo& v = list[card - 1];
        if (change.startsWith("size "))
            v.bytesTotal = change.mid(5).toLongLong();
        v.ready = change != "not ready";
        v.valid = change != "invalid";
        v.root = change == "root";
        v.readOnly = change == "read-only";
        if (change == "empty path")
            cards[card - 1].clear();
        if (change == "outside")
            cards[card - 1] = base->path();
        FolderVolumeProvider changed(list);
        Volumes::setProvider(&changed);
        const QStringList before = tree(base->path());

        prepare(true, true);

        if (!refused) {
            QCOMPARE(reports.size(), 15);
            QVERIFY(reports.last().endsWith("Erased and prepared."));
            return;
        }
        QStringList expected = {"1 0 1 2 ", "2 0 1 2 ", "3 0 1 2 "};
        for (int n = 1; n < card; ++n)
            expected << QString("%1 0 1 2 ").arg(n) + cardLine("Card %1 (%2) ok.", n);
        const QString invalid = cardLine("Invalid directory for card %1 (%2)", card);
        expected << QString("%1 0 2 2 ").arg(card) + invalid;
        QCOMPARE(reports, expected);
        QVERIFY(logLines.contains("C \"" + invalid + "\""));
        QCOMPARE(tree(base->path()), before);
    }

    void linksNotFollowed()
    {
        QTemporaryDir outside;
        QVERIFY(TestSupport::writeFile(outside.filePath("keep/file"), "outside"));
        QVERIFY(TestSupport::writeFile(outside.filePath("target.inf"), "outside"));
        QDir().mkpath(cards[0] + "/DCIM");
        QVERIFY(QFile::link(outside.filePath("keep"), cards[0] + "/DCIM/deep"));
        QVERIFY(QFile::link(outside.filePath("keep"), cards[0] + "/top"));
        QVERIFY(QFile::link(outside.filePath("target.inf"), cards[0] + "/file"));
        // Links standing where the card's own files belong.
        QVERIFY(QFile::link(outside.filePath("keep"), cards[1] + "/MISC"));
        QVERIFY(QFile::link(outside.filePath("target.inf"), cards[1] + "/AutoRun.inf"));
        const QStringList outsideBefore = tree(outside.path());

        prepare(false, true);
        QCOMPARE(tree(outside.path()), outsideBefore);
        QCOMPARE(TestSupport::readFile(outside.filePath("target.inf")), QByteArray("outside"));
        QCOMPARE(TestSupport::readFile(cards[1] + "/AutoRun.inf"), autoRunBytes(2));
        QCOMPARE(TestSupport::readFile(cards[1] + "/MISC/cfg"), configBytes);

        prepare(true, false);
        QCOMPARE(tree(outside.path()), outsideBefore);
        QCOMPARE(TestSupport::readFile(outside.filePath("keep/file")), QByteArray("outside"));
        QCOMPARE(tree(cards[0]), markers(1));
    }

    void unprivileged_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("logLine");
        QTest::addColumn<QByteArray>("cfgAfter");
        QTest::newRow("second preparation")
            << "prepare"
            << "Prepared."
            << "I \"Config file on card %1 (%2) already in place, left as it was\"" << configBytes;
        QTest::newRow("stale read-only cfg") << "stale"
                                             << "Error: Could not write config file"
                                             << "W \"Could not write config file on card %1 (%2)\""
                                             << QByteArray("multi.auto_ena=0\n");
        QTest::newRow("cfg is a folder")
            << "folder"
            << "Error: Could not write config file"
            << "W \"Could not write config file on card %1 (%2)\"" << QByteArray();
        QTest::newRow("undeletable file")
            << "locked"
            << "Error: Could not erase everything"
            << "W \"Could not erase everything on card %1 (%2)\"" << configBytes;
    }

    void unprivileged()
    {
        QFETCH(QString, setup);
        QFETCH(QString, status);
        QFETCH(QString, logLine);
        QFETCH(QByteArray, cfgAfter);
        const QString cfg = cards[0] + "/MISC/cfg";
        if (setup == "locked") {
            // Owned by whoever runs the test, not writable by the preparation.
            QVERIFY(TestSupport::writeFile(cards[0] + "/DCIM/locked/file", "x"));
            QFile::setPermissions(cards[0] + "/DCIM", QFileDevice::Permissions(0x7777));
            QFile::setPermissions(cards[0] + "/DCIM/locked", QFileDevice::Permissions(0x5555));
            QVERIFY(TestSupport::writeFile(cards[1] + "/lost+found/f", "kept"));
        }
        if (setup == "folder")
            QVERIFY(QDir().mkpath(cfg + "/inner"));
        openToEveryone();
        {
            Unprivileged as;
            if (setup == "prepare")
                prepare(false, true);
            if (setup == "stale") {
                QVERIFY(TestSupport::writeFile(cfg, cfgAfter));
                QFile::setPermissions(cfg, QFileDevice::Permissions(0x4444));
            }
            reports.clear();
            logLines.clear();
            prepare(setup == "locked", true);
        }
        QCOMPARE(finalReport(1), "1 0 2 2 " + status);
        QVERIFY2(logLines.contains(cardLine(qPrintable(logLine), 1)),
                 qPrintable(logLines.join('\n')));
        if (setup != "locked")
            QVERIFY(!logLines.contains("I \"" + cardLine("Created config file on card %1 (%2)", 1) +
                                       "\""));
        QVERIFY(!logLines.contains("I \"" + cardLine("Erased card %1 (%2)", 1) + "\""));
        if (setup != "folder")
            QCOMPARE(TestSupport::readFile(cfg), cfgAfter);
        if (setup == "locked") {
            QCOMPARE(finalReport(2), QString("2 0 2 2 Erased and prepared."));
            QCOMPARE(finalReport(3), QString("3 0 2 2 Erased and prepared."));
            QCOMPARE(TestSupport::readFile(cards[1] + "/lost+found/f"), QByteArray("kept"));
        }
        QCOMPARE(TestSupport::readFile(cards[0] + "/AutoRun.inf"), autoRunBytes(1));
    }

    void mountedCards_data()
    {
        QTest::addColumn<QByteArray>("card3Size");
        QTest::addColumn<bool>("refused");
        QTest::newRow("small cards") << QByteArray("size=1m") << false;
        QTest::newRow("card 3 above 128 GiB") << QByteArray("size=129g") << true;
    }

    void mountedCards()
    {
        // Real volumes through the system's own volume information.
#if defined(Q_OS_LINUX)
        QFETCH(QByteArray, card3Size);
        QFETCH(bool, refused);
        if (geteuid() != 0)
            QSKIP("mounting needs root");
        struct Mounts
        {
            QStringList points;
            ~Mounts()
            {
                for (const QString& point : points)
                    umount2(point.toLocal8Bit().constData(), MNT_DETACH);
            }
        } mounts;
        for (int n = 1; n <= 3; ++n) {
            const QByteArray options = n == 3 ? card3Size : QByteArray("size=1m");
            if (mount("tmpfs", cards[n - 1].toLocal8Bit().constData(), "tmpfs", 0,
                      options.constData()) != 0)
                QSKIP("tmpfs cannot be mounted here");
            mounts.points << cards[n - 1];
        }
        Volumes::setProvider(nullptr);
        fillCards();
        const QStringList before = tree(base->path());
        prepare(true, true);
        if (refused) {
            QCOMPARE(reports.last(),
                     "3 0 2 2 " + cardLine("Invalid directory for card %1 (%2)", 3));
            QCOMPARE(tree(base->path()), before);
            return;
        }
        for (int n = 1; n <= 3; ++n) {
            QCOMPARE(QStorageInfo(cards[n - 1]).rootPath(), cards[n - 1]);
            QStringList files = markers(n) + QStringList{"MISC/", "MISC/cfg"};
            files.sort();
            QCOMPARE(tree(cards[n - 1]), files);
            QCOMPARE(TestSupport::readFile(cards[n - 1] + "/MISC/cfg"), configBytes);
        }
        QCOMPARE(reports.last(), QString("3 0 2 2 Erased and prepared."));
        // Memory file systems are no card to offer, even though one can be prepared.
        QVERIFY(!QJsonDocument::fromVariant(listDrives()).toJson().contains(cards[0].toUtf8()));
#else
        QSKIP("mounting is tried on Linux only");
#endif
    }
};

QTEST_GUILESS_MAIN(TestCardPreparation)
#include "tst_cardpreparation.moc"
