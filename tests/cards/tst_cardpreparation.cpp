#include "cards/cardpreparation.h"
#include "cards/drivediscovery.h"
#include "cards/volumes.h"
#include "support/testsupport.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QScopeGuard>
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
    logLines << QString(QLatin1Char("DWCFI"[type])) + ' ' + text;
}

// Everything below a folder, links as "name@", folders with a trailing slash.
QStringList tree(const QString& root)
{
    QStringList result;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString name = QDir(root).relativeFilePath(info.filePath());
        result << (info.isSymLink() ? name + "@" : info.isDir() ? name + "/" : name);
    }
    result.sort();
    return result;
}

QStringList markers(int card, QStringList others = {})
{
    others += {".disable_osx_metadata", ".metadata_never_index", "AutoRun.inf",
               QString("QVK_0%1").arg(card)};
    others.sort();
    return others;
}

// As root, the thread's file access acts as the given user (0: root again),
// so that file modes hold as they do for a user.
void actAs([[maybe_unused]] unsigned id)
{
#if defined(Q_OS_LINUX)
    if (geteuid() == 0) {
        setfsgid(id);
        setfsuid(id);
    }
#endif
}

// Mounts (or unmounts) a small memory file system on the folder: a real volume.
bool memoryVolume(const QString& folder, bool mounted)
{
#if defined(Q_OS_LINUX)
    const QByteArray path = folder.toLocal8Bit();
    return mounted ? mount("tmpfs", path, "tmpfs", 0, "size=1m") == 0
                   : umount2(path, MNT_DETACH) == 0;
#else
    return false;
#endif
}

} // namespace

class TestCardPreparation : public QObject
{
    Q_OBJECT

    QScopedPointer<QTemporaryDir> base;
    QStringList cards;
    FolderVolumeProvider volumes;
    QStringList reports;

    void prepare(bool erase, bool sync)
    {
        reports.clear();
        logLines.clear();
        prepareCards(cards[0], cards[1], cards[2], erase, sync,
                     [this](int card, int from, int to, int value, const QString& text) {
                         reports << QString("%1 %2 %3 %4 ").arg(card).arg(from).arg(to).arg(value) +
                                        text;
                     });
    }
    QString cardLine(const QString& pattern, int card) const
    {
        return pattern.arg(card).arg(cards[card - 1]);
    }
    bool logged(const char* pattern, int card, char kind = 'I') const
    {
        return logLines.contains(
            QString("%1 \"%2\"").arg(QLatin1Char(kind)).arg(cardLine(pattern, card)));
    }
    // Files a wipe removes, longer versions of those a preparation writes, and
    // a link out of the card.
    void fillCards()
    {
        QVERIFY(TestSupport::writeFile(base->filePath("outside/file"), "outside"));
        for (int n = 1; n <= 3; ++n) {
            QVERIFY(QFile::link(base->filePath("outside"), cards[n - 1] + "/out"));
            const QByteArray old = autoRunBytes(n) + "\r\nold tail of an older file\n";
            for (const char* name : {"DCIM/x.MP4", ".hidden", "AutoRun.inf", "MISC/cfg", "QVK_0%1"})
                QVERIFY(TestSupport::writeFile(cards[n - 1] + "/" + QString(name).arg(n), old));
        }
    }

private slots:
    void init()
    {
        base.reset(new QTemporaryDir);
        QVERIFY(base->isValid());
        volumes = FolderVolumeProvider();
        cards.clear();
        for (int n = 1; n <= 3; ++n) {
            cards << base->filePath(QString("card%1").arg(n));
            QVERIFY(QDir().mkpath(cards.last()));
            // The largest size a card may have.
            volumes.add(FolderVolumeProvider::folderVolume(cards.last(), {}, 137438953472));
        }
        Volumes::setProvider(&volumes);
        qInstallMessageHandler(captureLog);
    }

    void cleanup()
    {
        qInstallMessageHandler(nullptr);
        Volumes::setProvider(nullptr);
        for (const QString& card : cards)
            memoryVolume(card, false);
    }

    void flags_data()
    {
        QTest::addColumn<bool>("erase");
        QTest::addColumn<bool>("sync");
        QTest::addColumn<bool>("mounted");
        QTest::addColumn<QString>("status");
        QTest::newRow("no flags") << false << false << false << "No action";
        QTest::newRow("config") << false << true << false << "Prepared.";
        QTest::newRow("both") << true << true << false << "Erased and prepared.";
        QTest::newRow("both, memory volumes") << true << true << true << "Erased and prepared.";
    }

    void flags()
    {
        QFETCH(bool, erase);
        QFETCH(bool, sync);
        QFETCH(bool, mounted);
        QFETCH(QString, status);
        if (mounted) {
            // Real volumes through the system's own volume information.
            for (const QString& card : cards)
                if (!memoryVolume(card, true))
                    QSKIP("memory volumes cannot be mounted here (needs root)");
            Volumes::setProvider(nullptr);
        }
        fillCards();
        prepare(erase, sync);

        QStringList expected = {"1 0 1 2 ", "2 0 1 2 ", "3 0 1 2 "};
        for (int n = 1; n <= 3; ++n)
            expected << QString("%1 0 1 2 ").arg(n) + cardLine("Card %1 (%2) ok.", n);
        for (int n = 1; n <= 3; ++n) {
            if (erase)
                expected << QString("%1 0 2 1 Erasing").arg(n);
            if (sync)
                expected << QString("%1 0 2 2 Creating config").arg(n);
            expected << QString("%1 0 2 2 ").arg(n) + status;
        }
        QCOMPARE(reports, expected);

        for (int n = 1; n <= 3; ++n) {
            const QString card = cards[n - 1];
            QCOMPARE(tree(card), markers(n, erase ? QStringList{"MISC/", "MISC/cfg"}
                                                  : QStringList{".hidden", "DCIM/", "DCIM/x.MP4",
                                                                "MISC/", "MISC/cfg", "out@"}));
            QCOMPARE(TestSupport::readFile(card + "/AutoRun.inf"), autoRunBytes(n));
            QCOMPARE(TestSupport::readFile(card + QString("/QVK_0%1").arg(n)), QByteArray());
            if (sync) {
                QCOMPARE(TestSupport::readFile(card + "/MISC/cfg"), configBytes);
                // Read-only for all; the "user" bits tell what the tester may do.
                QCOMPARE(QFile::permissions(card + "/MISC/cfg") & 0x7077,
                         QFileDevice::Permissions(0x4044));
            }
            QCOMPARE(logged("Created config file on card %1 (%2)", n), sync);
            QCOMPARE(logged("Erased card %1 (%2)", n), erase);
            for (const char* line : {"Card %1 (%2) ok.", "Created index file on card %1 (%2)",
                                     "Created AutoRun file on card %1 (%2)"})
                QVERIFY2(logged(line, n), line);
        }
        QCOMPARE(tree(base->filePath("outside")), QStringList{"file"});
        // Memory file systems are no card to offer, even though one can be prepared.
        if (mounted)
            QVERIFY(!QJsonDocument::fromVariant(listDrives()).toJson().contains(cards[0].toUtf8()));
    }

    void refused_data()
    {
        QTest::addColumn<int>("card");
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<bool>("root");
        QTest::newRow("one byte more") << 2 << Q_INT64_C(137438953473) << true << false;
        QTest::newRow("not ready") << 3 << Q_INT64_C(1) << false << false;
        QTest::newRow("system volume") << 2 << Q_INT64_C(1) << true << true;
    }

    void refused()
    {
        QFETCH(int, card);
        QFETCH(qint64, bytes);
        QFETCH(bool, ready);
        QFETCH(bool, root);
        fillCards();
        QList<VolumeInfo> list = volumes.mountedVolumes();
        list[card - 1].bytesTotal = bytes;
        list[card - 1].ready = ready;
        list[card - 1].root = root;
        volumes = FolderVolumeProvider(list);
        const QStringList before = tree(base->path());

        prepare(true, true);
        const char* invalid = "Invalid directory for card %1 (%2)";
        QCOMPARE(reports.size(), 3 + card);
        QCOMPARE(reports.last(), QString("%1 0 2 2 ").arg(card) + cardLine(invalid, card));
        QVERIFY(logged(invalid, card, 'C'));
        QCOMPARE(tree(base->path()), before);
    }

    void linksWhereCardFilesBelongReplaced()
    {
        QVERIFY(TestSupport::writeFile(base->filePath("outside/file"), "outside"));
        QVERIFY(QFile::link(base->filePath("outside"), cards[1] + "/MISC"));
        QVERIFY(QFile::link(base->filePath("outside/file"), cards[1] + "/AutoRun.inf"));
        prepare(false, true);
        QCOMPARE(tree(cards[1]), markers(2, {"MISC/", "MISC/cfg"}));
        QCOMPARE(tree(base->filePath("outside")), QStringList{"file"});
        QCOMPARE(TestSupport::readFile(base->filePath("outside/file")), QByteArray("outside"));
    }

    void readOnlyConfigLoggedAsItIs()
    {
        const QString cfg = cards[0] + "/MISC/cfg";
        for (const QString& folder : cards + QStringList{base->path()})
            QFile::setPermissions(folder, QFileDevice::Permissions(0x7777));
        actAs(65534);
        const auto asBefore = qScopeGuard([] { actAs(0); });
        prepare(false, true);
        prepare(false, true);
        QVERIFY(reports.contains("1 0 2 2 Prepared."));
        QVERIFY(logged("Config file on card %1 (%2) already in place, left as it was", 1));
        QVERIFY(!logged("Created config file on card %1 (%2)", 1));

        const QByteArray stale = "multi.auto_ena=0\n";
        QVERIFY(QFile::setPermissions(cfg, QFileDevice::Permissions(0x6666)));
        QVERIFY(TestSupport::writeFile(cfg, stale));
        QVERIFY(QFile::setPermissions(cfg, QFileDevice::Permissions(0x4444)));
        prepare(false, true);
        QVERIFY(reports.contains("1 0 2 2 Error: Could not write config file"));
        QVERIFY(logged("Could not write config file on card %1 (%2)", 1, 'W'));
        QVERIFY(!logged("Created config file on card %1 (%2)", 1));
        QCOMPARE(TestSupport::readFile(cfg), stale);
    }
};

QTEST_GUILESS_MAIN(TestCardPreparation)
#include "tst_cardpreparation.moc"
