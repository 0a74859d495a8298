#include "cards/cardpreparation.h"
#include "cards/volumes.h"
#include "support/loopvolume.h"
#include "support/testsupport.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/fsuid.h>
#include <unistd.h>

using TestSupport::tree;

namespace {

const QByteArray configBytes = "multi.auto_ena=1\nrecord.tl_enable=0\n";

QByteArray autoRunBytes(int card)
{
    return "[autorun]\r\nlabel=QVK_0" + QByteArray::number(card) +
           "\r\n\r\n[Content]\r\nMusicFiles=0\r\nPictureFiles=0\r\nVideoFiles=0";
}

using TestSupport::captureLog;
QStringList& logLines = TestSupport::capturedLog;

QStringList markers(int card, QStringList others = {})
{
    others += {".disable_osx_metadata", ".metadata_never_index", "AutoRun.inf",
               QString("QVK_0%1").arg(card)};
    others.sort();
    return others;
}

// As root, the thread's file access acts as the given user (0: root again),
// so that file modes hold as they do for a user.
void actAs(unsigned id)
{
    if (geteuid() == 0) {
        setfsgid(id);
        setfsuid(id);
    }
}

} // namespace

class TestCardPreparation : public QObject
{
    Q_OBJECT

    QScopedPointer<QTemporaryDir> base;
    QStringList cards;
    FolderVolumeProvider volumes;
    QStringList reports;
    QStringList outcomes; // each card's status, in camera order

    void prepare(bool erase, bool sync, bool force = false)
    {
        reports.clear();
        logLines.clear();
        outcomes.clear();
        WipeOptions wipe;
        wipe.force = force;
        const auto ended = prepareCards(
            cards[0], cards[1], cards[2], erase, sync,
            [this](int card, int from, int to, int value, const QString& text) {
                reports << QString("%1 %2 %3 %4 ").arg(card).arg(from).arg(to).arg(value) + text;
            },
            wipe);
        for (const Outcome& outcome : ended)
            outcomes << Outcome::statusName(outcome.status);
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
    }

    void flags_data()
    {
        QTest::addColumn<bool>("erase");
        QTest::addColumn<bool>("sync");
        QTest::addColumn<bool>("mounted");
        QTest::addColumn<bool>("force");
        QTest::addColumn<QString>("status"); // empty: refused, nothing touched
        QTest::newRow("no flags") << false << false << false << false << "No action";
        QTest::newRow("config") << false << true << false << false << "Prepared.";
        // The cards hold files that are not media: wiped only when forced.
        QTest::newRow("both, real volumes")
            << true << true << true << true << "Erased and prepared.";
        QTest::newRow("both, real volumes, not forced") << true << true << true << false << "";
    }

    void flags()
    {
        QFETCH(bool, erase);
        QFETCH(bool, sync);
        QFETCH(bool, mounted);
        QFETCH(bool, force);
        QFETCH(QString, status);
        LoopVolume loops[3];
        if (mounted) {
            // Real volumes through the system's own volume information.
            for (int n = 0; n < 3; ++n)
                if (!loops[n].mount(base->filePath(QString("image%1").arg(n)), cards[n]))
                    SKIP_SAFETY(loops[n].error());
            Volumes::setProvider(nullptr);
        }
        fillCards();
        const QStringList before = tree(base->path());
        prepare(erase, sync, force);

        // Named before the wipe; the link is not what it leads to.
        const QString others = "2 files that are not imported will be wiped: .hidden, DCIM/x.MP4";
        QStringList expected = {"1 0 1 2 ", "2 0 1 2 ", "3 0 1 2 "};
        if (status.isEmpty()) {
            for (int n = 1; n <= 3; ++n)
                expected << QString("%1 0 2 2 Error: ").arg(n) + others;
            QCOMPARE(reports, expected);
            QCOMPARE(tree(base->path()), before);
            QVERIFY(logLines.contains(cardLine("I \"Card %1 (%2): not imported: .hidden\"", 1)));
            return;
        }
        for (int n = 1; n <= 3; ++n)
            expected << (erase ? QStringList{QString("%1 0 1 2 ").arg(n) + others} : QStringList())
                     << QString("%1 0 1 2 ").arg(n) + cardLine("Card %1 (%2) ok.", n);
        for (int n = 1; n <= 3; ++n) {
            if (erase)
                expected << QString("%1 0 2 1 Erasing").arg(n);
            if (sync)
                expected << QString("%1 0 2 2 Creating config").arg(n);
            expected << QString("%1 0 2 2 ").arg(n) + status;
        }
        QCOMPARE(reports, expected);
        QCOMPARE(outcomes, QStringList({"succeeded", "succeeded", "succeeded"}));

        for (int n = 1; n <= 3; ++n) {
            const QString card = cards[n - 1];
            // The volume's own folder for repairs stays.
            const QStringList volumeFolders = mounted ? QStringList{"lost+found/"} : QStringList();
            QCOMPARE(
                tree(card),
                markers(n, volumeFolders + (erase ? QStringList{"MISC/", "MISC/cfg"}
                                                  : QStringList{".hidden", "DCIM/", "DCIM/x.MP4",
                                                                "MISC/", "MISC/cfg", "out@"})));
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
    }

    // A card the check pass refuses: nothing is touched on any card, and the
    // report names the cause. Only a wipe needs a whole volume.
    // Rows without a reason are prepared.
    void refused_data()
    {
        QTest::addColumn<int>("card");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* name, int card, const char* change, const char* reason) {
            QTest::newRow(name) << card << QString(change) << QString(reason);
        };
        row("one byte more", 2, "bytes", "larger than 128 GiB");
        row("not ready", 3, "ready", "the volume is not ready");
        row("system volume", 2, "root", "the system's own volume");
        row("read-only", 1, "readOnly", "the volume is read-only");
        row("memory file system", 3, "tmpfs", "a tmpfs file system, not a card");
        row("folder given as a card", 2, "folder", "a folder, not the root of its volume (%1)");
        row("folder given as a card, no wipe", 2, "folder, no wipe", "");
        row("no volume", 3, "none", "no volume holds it");
    }

    void refused()
    {
        QFETCH(int, card);
        QFETCH(QString, change);
        QFETCH(QString, reason);
        fillCards();
        QList<VolumeInfo> list = volumes.mountedVolumes();
        VolumeInfo& volume = list[card - 1];
        if (change == "bytes")
            volume.bytesTotal = 137438953473;
        volume.ready = change != "ready";
        volume.root = change == "root";
        volume.readOnly = change == "readOnly";
        if (change == "tmpfs")
            volume.fileSystemType = change;
        if (change.startsWith("folder")) {
            // The volume is the card's parent folder; the card a folder on it.
            reason = reason.arg(base->path());
            volume.rootPath = base->path();
        }
        if (change == "none")
            list.removeAt(card - 1);
        volumes = FolderVolumeProvider(list);
        const QStringList before = tree(base->path());

        const bool wipe = !change.endsWith("no wipe");
        prepare(wipe, true);
        if (reason.isEmpty()) {
            QCOMPARE(outcomes, QStringList({"succeeded", "succeeded", "succeeded"}));
            QCOMPARE(TestSupport::readFile(cards[card - 1] + "/AutoRun.inf"), autoRunBytes(card));
            QVERIFY(QFileInfo::exists(cards[card - 1] + "/DCIM/x.MP4"));
            return;
        }
        const QString invalid = cardLine("Invalid directory for card %1 (%2): ", card) + reason;
        QCOMPARE(reports.size(), 3 + card);
        QCOMPARE(reports.last(), QString("%1 0 2 2 ").arg(card) + invalid);
        QVERIFY(logLines.contains("C \"" + invalid + "\""));
        QCOMPARE(tree(base->path()), before);
        QCOMPARE(outcomes, QStringList({"refused", "refused", "refused"}));
    }

    void volumeInsideCardSurvives()
    {
        LoopVolume loops[3], inner;
        for (int n = 0; n < 3; ++n)
            if (!loops[n].mount(base->filePath(QString("image%1").arg(n)), cards[n]))
                SKIP_SAFETY(loops[n].error());
        if (!inner.mount(base->filePath("inner.img"), cards[0] + "/DCIM/backup"))
            SKIP_SAFETY(inner.error());
        QVERIFY(TestSupport::writeFile(cards[0] + "/DCIM/backup/keep.MOV", "another volume"));
        Volumes::setProvider(nullptr);
        fillCards();

        prepare(true, true, true);
        const QString left = "Error: Erased all but other volumes mounted inside: DCIM/backup";
        for (const QString& final : {"1 0 2 2 " + left, QString("2 0 2 2 Erased and prepared."),
                                     QString("3 0 2 2 Erased and prepared.")})
            QVERIFY2(reports.contains(final), qPrintable(reports.join('\n')));
        QCOMPARE(outcomes, QStringList({"failed", "succeeded", "succeeded"}));
        QVERIFY(logLines.contains(
            QString("W \"Left the volume mounted at DCIM/backup on card 1 (%1) as it is\"")
                .arg(cards[0])));
        QCOMPARE(tree(cards[0]),
                 markers(1, {"DCIM/", "DCIM/backup/", "DCIM/backup/keep.MOV",
                             "DCIM/backup/lost+found/", "MISC/", "MISC/cfg", "lost+found/"}));
        QCOMPARE(TestSupport::readFile(cards[0] + "/DCIM/backup/keep.MOV"),
                 QByteArray("another volume"));
        QCOMPARE(tree(base->filePath("outside")), QStringList{"file"});
    }

    void mountInfoFields_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("fields"); // root|mount point|type; empty: the line is skipped
        const auto row = [](const char* name, const QByteArray& line, const char* fields) {
            QTest::newRow(name) << line << QString(fields);
        };
        row("whole file system",
            "36 25 8:1 / /media/u/QVK_01 rw,nosuid shared:1 - vfat /dev/sdb1 rw",
            "/|/media/u/QVK_01|vfat");
        row("label with a space", "36 25 8:1 / /media/u/NO\\040NAME rw - vfat /dev/sdb1 rw",
            "/|/media/u/NO NAME|vfat");
        row("bind mount, no optional fields",
            "40 25 8:2 /data/a\\134b /mnt/card rw - ext4 /dev/sda2 rw",
            "/data/a\\b|/mnt/card|ext4");
        row("several optional fields", "41 25 0:5 / /mnt/x rw shared:2 master:1 - tmpfs tmpfs rw",
            "/|/mnt/x|tmpfs");
        row("tab and line feed", "42 25 8:3 / /mnt/a\\011b\\012c rw - ext4 /dev/sdc1 rw",
            "/|/mnt/a\tb\nc|ext4");
        row("cut short", "43 25 8:3 / /mnt/a rw", "");
    }

    void mountInfoFields()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, fields);
        QStringList parsed;
        for (const MountInfoEntry& entry :
             Volumes::parseMountInfo("1 0 0:1 / / rw - ext4 /dev/sda1 rw\n" + line + "\n"))
            parsed << entry.root + '|' + entry.mountPoint + '|' + entry.fileSystemType;
        QCOMPARE(parsed, QStringList({"/|/|ext4", fields}).mid(0, fields.isEmpty() ? 1 : 2));
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
        QCOMPARE(outcomes.value(0), QStringLiteral("succeeded"));
        QVERIFY(logged("Config file on card %1 (%2) already in place, left as it was", 1));
        QVERIFY(!logged("Created config file on card %1 (%2)", 1));

        const QByteArray stale = "multi.auto_ena=0\n";
        QVERIFY(QFile::setPermissions(cfg, QFileDevice::Permissions(0x6666)));
        QVERIFY(TestSupport::writeFile(cfg, stale));
        QVERIFY(QFile::setPermissions(cfg, QFileDevice::Permissions(0x4444)));
        prepare(false, true);
        QVERIFY(reports.contains("1 0 2 2 Error: Could not write config file"));
        QCOMPARE(outcomes.value(0), QStringLiteral("failed"));
        QVERIFY(logged("Could not write config file on card %1 (%2)", 1, 'W'));
        QVERIFY(!logged("Created config file on card %1 (%2)", 1));
        QCOMPARE(TestSupport::readFile(cfg), stale);
    }
};

QTEST_GUILESS_MAIN(TestCardPreparation)
#include "tst_cardpreparation.moc"
