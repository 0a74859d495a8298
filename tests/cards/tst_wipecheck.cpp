#include "cards/cardpreparation.h"
#include "cards/importledger.h"
#include "cards/mediaimport.h"
#include "cards/volumes.h"
#include "cards/wipecheck.h"
#include "support/loopvolume.h"
#include "support/testsupport.h"

#include <QDirIterator>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/fsuid.h>
#include <unistd.h>

using TestSupport::tree;
using TestSupport::writeFile;

namespace {

using TestSupport::captureLog;
QStringList& logLines = TestSupport::capturedLog;

const QString Video = QStringLiteral("DCIM/100QVK/QVK0001.MOV");
const QString Photo = QStringLiteral("DCIM/100QVK/QVK0002.JPG");

} // namespace

// The wipe's check against the import ledger, on real volumes: card 1 a FAT
// file system as the cameras write it (where the kernel has FAT), cards 2
// and 3 ext4.
class TestWipeCheck : public QObject
{
    Q_OBJECT

    QScopedPointer<QTemporaryDir> base;
    QStringList cards;
    QString dest;
    LoopVolume loops[3];
    QStringList reports;
    QMap<int, QStringList> named;
    FolderVolumeProvider noIdentity;

    void prepare(bool force, bool reverify, int copies)
    {
        reports.clear();
        logLines.clear();
        named.clear();
        WipeOptions wipe;
        wipe.force = force;
        wipe.reverify = reverify;
        wipe.copies = copies;
        wipe.unverified = [this](int card, const QStringList& paths) { named[card] = paths; };
        prepareCards(
            cards[0], cards[1], cards[2], true, true,
            [this](int card, int from, int to, int value, const QString& text) {
                reports << QString("%1 %2 %3 %4 ").arg(card).arg(from).arg(to).arg(value) + text;
            },
            wipe);
    }

    // The run the app makes; every copy goes into the ledger.
    void import(const QString& into = {}, int lastCard = 3)
    {
        MediaImport run(into.isEmpty() ? dest : into, QString(), QString(),
                        [](int, int, int, int, const QString&) {});
        for (int n = 1; n <= lastCard; ++n)
            QVERIFY(run.copyCard(n, cards[n - 1]).status != Outcome::Status::Refused);
    }

    void fill(int n)
    {
        QVERIFY(writeFile(cards[n - 1] + "/" + Video, "video " + QByteArray::number(n)));
        QVERIFY(writeFile(cards[n - 1] + "/" + Photo, "photo " + QByteArray::number(n)));
        // Files that preparation writes itself are no loss.
        QVERIFY(writeFile(cards[n - 1] + "/MISC/cfg", "multi.auto_ena=1\n"));
        QVERIFY(writeFile(cards[n - 1] + QString("/QVK_0%1").arg(n), ""));
    }

    // Card n again, as another card at the same mount point: the same
    // files with the same sizes and times, other bytes.
    void clone(int n, const QString& type)
    {
        const QString card = cards[n - 1];
        QMap<QString, QDateTime> times;
        for (const QString& file : {Video, Photo})
            times[file] = QFileInfo(card + "/" + file).lastModified();
        loops[n - 1].unmount();
        if (!loops[n - 1].mount(base->filePath(QString("clone%1").arg(n)), card, type,
                                QString("QVK_0%1").arg(n)))
            SKIP_SAFETY(loops[n - 1].error());
        for (const QString& file : times.keys()) {
            QVERIFY(writeFile(card + "/" + file, file == Video ? "VIDEO " + QByteArray::number(n)
                                                               : "PHOTO " + QByteArray::number(n)));
            setTime(card + "/" + file, times[file]);
        }
    }

    static void setTime(const QString& path, const QDateTime& time)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
    }

    // A byte in the middle changed, size and time kept: only reading it again tells.
    static void rewriteMiddle(const QString& path)
    {
        const QDateTime time = QFileInfo(path).lastModified();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(file.size() / 2) &&
                file.putChar('X') && file.flush());
        file.close();
        setTime(path, time);
    }

    QString copyOf(int card, const QString& relativePath) const
    {
        const QList<LedgerEntry> rows =
            ImportLedger().copiesOf(CardIdentity::of(cards[card - 1]), relativePath);
        return rows.isEmpty() ? QString() : rows.last().copyPath;
    }

private slots:
    void init()
    {
        base.reset(new QTemporaryDir);
        QVERIFY(base->isValid());
        QFile::remove(ImportLedger::defaultPath());
        cards.clear();
        dest = base->filePath("dest");
        for (int n = 1; n <= 3; ++n) {
            cards << base->filePath(QString("card%1").arg(n));
            const QString image = base->filePath(QString("image%1").arg(n));
            const QString label = QString("QVK_0%1").arg(n);
            // A kernel without FAT takes ext4 for card 1 too.
            const bool mounted = (n == 1 && loops[0].mount(image, cards.last(), "vfat", label)) ||
                                 loops[n - 1].mount(image, cards.last(), "ext4", label);
            if (!mounted)
                SKIP_SAFETY(loops[n - 1].error());
            fill(n);
        }
        qInstallMessageHandler(captureLog);
    }

    void cleanup()
    {
        qInstallMessageHandler(nullptr);
        Volumes::setProvider(nullptr);
        for (LoopVolume& loop : loops)
            loop.unmount();
    }

    // After an import: setup: card 1 on exFAT through FUSE, cards without an identity of
    // their own (known by their mount paths), a video larger than its
    // fingerprint's edges; change: what happens between the import and the
    // wipe; refused: the cards the check refuses (then no card is touched);
    // file and reason: what the log names for the first refused card (or,
    // forced, as wiped).
    void gate_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("force");
        QTest::addColumn<bool>("reverify");
        QTest::addColumn<QList<int>>("refused");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* name, const char* setup, const char* change, bool force,
                            bool reverify, const QList<int>& refused, const QString& file = {},
                            const char* reason = "") {
            QTest::newRow(name) << QString(setup) << QString(change) << force << reverify << refused
                                << file << QString(reason);
        };
        const QString clip = "DCIM/100QVK/CLIP.MP4";
        row("imported, no identity, read again", "no identity", "", false, true, {});
        row("copy of card 2 lost", "", "lose copy", false, false, {2}, Video, "its copy is gone");
        row("copy of card 2 overwritten at its size", "", "overwrite copy", false, false, {2},
            Video, "its copy changed since the import");
        row("photo on card 3 touched", "", "touch photo", false, false, {3}, Photo,
            "it changed since the import");
        row("photo on card 3 changed at its size and time", "", "rewrite photo", false, false, {3},
            Photo, "its content changed since the import");
        row("video on card 1 changed mid-file, read again", "big video", "rewrite middle", false,
            true, {1}, Video, "its content changed since the import (read in full)");
        row("card 2 cloned, another UUID", "", "clone", false, true, {2}, Video,
            "no copy recorded");
        row("card 2 cloned, no identity", "no identity", "clone", false, true, {2}, Video,
            "its content changed since the import");
        row("exFAT through FUSE: imported", "exfat", "", false, false, {});
        // Two copies required: in two folders, not twice in one under another name.
        row("two copies required, two folders", "two copies", "backup", false, true, {});
        row("two copies required, one folder twice", "two copies", "linked", false, false,
            {1, 2, 3}, Video, "verified in 1 of the 2 destinations required");
        row("exFAT through FUSE: card 1 cloned", "exfat", "clone", false, false, {1}, Video,
            "no copy recorded");
        // The import copies media in any case, so the wipe asks for their copies,
        // whatever the case of the name.
        row("lower-case video added to card 1 after the import", "", "add video", false, false, {1},
            "DCIM/100QVK/QVK0003.mov", "no copy recorded");
        row("copy of card 2 damaged, read again", "", "damage copy", false, true, {2}, Video,
            "its copy's content differs from the card's");
        row("clip on card 1, forced", "", "add video", true, false, {}, clip);
        row("copy of card 2 lost, forced", "", "lose copy", true, false, {}, Video,
            "its copy is gone");
    }

    void gate()
    {
        QFETCH(QString, setup);
        QFETCH(QString, change);
        QFETCH(bool, force);
        QFETCH(bool, reverify);
        QFETCH(QList<int>, refused);
        QFETCH(QString, file);
        QFETCH(QString, reason);
        if (setup == "exfat") {
            loops[0].unmount();
            if (!loops[0].mount(base->filePath("exfat1"), cards[0], "exfat", "QVK_01"))
                SKIP_SAFETY(loops[0].error());
            fill(1);
        } else if (setup == "no identity") {
            noIdentity = FolderVolumeProvider();
            for (const QString& card : qAsConst(cards))
                noIdentity.add(FolderVolumeProvider::folderVolume(card));
            Volumes::setProvider(&noIdentity);
        } else if (setup == "big video") {
            QVERIFY(writeFile(cards[0] + "/" + Video, QByteArray(3 << 20, 'v')));
        }
        const int required = setup == "two copies" ? 2 : 1;
        import();
        if (change == "linked")
            QVERIFY(QFile::link(dest, base->filePath("linked")));
        if (change == "backup" || change == "linked") { // a second import into that folder
            import(base->filePath(change));
            change.clear();
        }
        const int card = refused.isEmpty() ? (change.isEmpty() ? 1 : 2) : refused.first();
        const bool media = !file.endsWith(".MP4");
        if (change == "lose copy") {
            QVERIFY(QFile::remove(copyOf(2, Video)));
        } else if (change == "overwrite copy") {
            QVERIFY(writeFile(copyOf(2, Video), "VIDEO 2"));
        } else if (change == "damage copy") {
            rewriteMiddle(copyOf(2, Video));
        } else if (change == "touch photo") {
            setTime(cards[2] + "/" + Photo,
                    QFileInfo(cards[2] + "/" + Photo).lastModified().addSecs(-3600));
        } else if (change == "rewrite photo" || change == "rewrite middle") {
            rewriteMiddle(cards[card - 1] + "/" + file);
        } else if (change == "clone") {
            clone(card, setup == "exfat" ? "exfat" : "ext4");
        } else if (change == "add video") {
            QVERIFY(writeFile(cards[0] + "/" + file, "a later video"));
        }
        const auto cardTrees = [this] {
            QStringList all;
            for (const QString& path : qAsConst(cards))
                all << tree(path);
            return all;
        };
        const QStringList before = cardTrees();
        const QStringList copiesBefore = tree(base->filePath("dest"));

        prepare(force, reverify, required);

        const QString cardPath = cards[card - 1];
        if (!refused.isEmpty()) {
            QCOMPARE(cardTrees(), before);
            QVERIFY(!logLines.join('\n').contains("Erased card"));
        }
        if (!refused.isEmpty()) {
            for (int n : refused) {
                const QString text =
                    QString("%1 0 2 2 Error: %2 of %3 media files on card %1 (%4) have %5")
                        .arg(QString::number(n), change != "clone" && required == 1 ? "1" : "2",
                             change == "add video" ? "3" : "2", cards[n - 1],
                             required == 1 ? "no verified copy"
                                           : "fewer than 2 verified copies in distinct "
                                             "destinations");
                QVERIFY2(reports.contains(text), qPrintable(reports.join('\n')));
                QVERIFY(named.value(n).contains(n == card ? file : Video));
            }
            QCOMPARE(named.keys(), refused);
            const QString line = QString("I \"Card %1 (%2): no verified copy: %3 (%4")
                                     .arg(card)
                                     .arg(cardPath, file, reason);
            QVERIFY2(logLines.filter(line).size() == 1, qPrintable(logLines.join('\n')));
        }
        if (refused.isEmpty()) {
            for (int n = 1; n <= 3; ++n) {
                QVERIFY2(reports.contains(QString("%1 0 2 2 Erased and prepared.").arg(n)),
                         qPrintable(reports.join('\n')));
                QVERIFY(!QFileInfo::exists(cards[n - 1] + "/DCIM"));
            }
            const QString line =
                media ? QString("W \"Card %1 (%2): wiping without a verified copy: %3 (%4")
                            .arg(card)
                            .arg(cardPath, file, reason)
                      : QString("W \"Card 1 (%1): wiping a file that is not imported: %2\"")
                            .arg(cards[0], file);
            QCOMPARE(logLines.filter(line).size(), force ? 1 : 0);
            QCOMPARE(named.isEmpty(), !force || !media);
        }
        // The copies are never touched.
        QCOMPARE(tree(base->filePath("dest")), copiesBefore);
    }

    // A folder the user may not look into may hold media: not safe to wipe.
    void unreadableFolderNotSafe()
    {
        QVERIFY(writeFile(cards[1] + "/DCIM/PRIVATE/QVK0009.MOV", "hidden from the user"));
        QVERIFY(QFile::setPermissions(cards[1] + "/DCIM/PRIVATE", QFileDevice::ReadOwner |
                                                                      QFileDevice::WriteOwner |
                                                                      QFileDevice::ExeOwner));
        QVERIFY(QFile::setPermissions(base->path(), QFileDevice::Permissions(0x7777)));
        WipeCheck check(base->filePath("ledger.sqlite"));
        setfsgid(65534);
        setfsuid(65534);
        const CardCopies copies = check.check(cards[1]);
        setfsuid(0);
        setfsgid(0);
        QCOMPARE(copies.mediaFiles, 2);
        QStringList unreadable;
        for (const CardCopies::Entry& entry : copies.unreadable)
            unreadable << entry.relativePath;
        QCOMPARE(unreadable, QStringList{"DCIM/PRIVATE"});
        QVERIFY(!copies.safeToWipe());
    }

    // What the erase box shows: per card its volume, the files with the two
    // copies required and the verified copies in each destination.
    void eraseCheck()
    {
        import();
        import(base->filePath("backup"), 1);
        QVERIFY(writeFile(cards[1] + "/DCIM/100QVK/QVK0003.JPG", "later"));
        QVERIFY(writeFile(cards[2] + "/DCIM/100QVK/CLIP.MP4", "not media"));
        WipeCheck twoCopies;
        twoCopies.setCopiesRequired(2);
        const QVariantList check = twoCopies.eraseCheck(cards[0], cards[1], cards[2]);
        QCOMPARE(check.size(), 3);
        QStringList shown;
        for (const QVariant& entry : check) {
            const QVariantMap map = entry.toMap();
            QVERIFY(map.value("size").toLongLong() > 0);
            QCOMPARE(map.value("path").toString(), cards[map.value("card").toInt() - 1]);
            QString destinations;
            for (const QVariant& place : map.value("destinations").toList())
                destinations +=
                    QString(" %1=%2")
                        .arg(QFileInfo(place.toMap().value("path").toString()).fileName())
                        .arg(place.toMap().value("verified").toInt());
            shown << QString("%1 %2 %3/%4 %5%6%7")
                         .arg(map.value("card").toInt())
                         .arg(map.value("label").toString())
                         .arg(map.value("verified").toInt())
                         .arg(map.value("files").toInt())
                         .arg(map.value("problem").toString())
                         .arg(map.value("notImported").toStringList().join(','))
                         .arg(destinations);
        }
        // Labels from the file systems themselves, udev or not.
        QCOMPARE(shown, QStringList({"1 QVK_01 2/2  backup=2 dest=2", "2 QVK_02 0/3  dest=2",
                                     "3 QVK_03 0/2 DCIM/100QVK/CLIP.MP4 dest=2"}));

        const QVariantMap folder =
            WipeCheck().eraseCheck(cards[0] + "/DCIM", cards[1], cards[2]).first().toMap();
        QCOMPARE(folder.value("problem").toString(), QString()); // markers may go there
        QCOMPARE(folder.value("wipeProblem").toString(),
                 QString("a folder, not the root of its volume (%1)").arg(cards[0]));
        QCOMPARE(folder.value("files").toInt(), -1);
    }
};

QTEST_GUILESS_MAIN(TestWipeCheck)
#include "tst_wipecheck.moc"
