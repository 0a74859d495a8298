#include "cards/cardpreparation.h"
#include "cards/importledger.h"
#include "cards/mediaimport.h"
#include "cards/volumes.h"
#include "cards/wipecheck.h"
#include "support/loopvolume.h"
#include "support/testsupport.h"

#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#if defined(Q_OS_LINUX)
#include <sys/fsuid.h>
#include <unistd.h>
#endif

using TestSupport::readFile;
using TestSupport::writeFile;

using TestSupport::tree;

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

    void prepare(bool force, bool reverify)
    {
        reports.clear();
        logLines.clear();
        named.clear();
        WipeOptions wipe;
        wipe.force = force;
        wipe.reverify = reverify;
        wipe.unverified = [this](int card, const QStringList& paths) { named[card] = paths; };
        prepareCards(
            cards[0], cards[1], cards[2], true, true,
            [this](int card, int from, int to, int value, const QString& text) {
                reports << QString("%1 %2 %3 %4 ").arg(card).arg(from).arg(to).arg(value) + text;
            },
            wipe);
    }

    // The run the app makes; every copy goes into the ledger.
    void import()
    {
        MediaImport run(dest, QString(), QString(), [](int, int, int, int, const QString&) {});
        for (int n = 1; n <= 3; ++n)
            QVERIFY(run.copyCard(n, cards[n - 1]).status != Outcome::Status::Refused);
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
            QVERIFY(writeFile(cards.last() + "/" + Video, "video " + QByteArray::number(n)));
            QVERIFY(writeFile(cards.last() + "/" + Photo, "photo " + QByteArray::number(n)));
            QVERIFY(writeFile(cards.last() + "/MISC/index.dat", "no media"));
        }
        qInstallMessageHandler(captureLog);
    }

    void cleanup()
    {
        qInstallMessageHandler(nullptr);
        for (LoopVolume& loop : loops)
            loop.unmount();
    }

    // change: what happens between the import and the wipe; refused: the
    // cards the check refuses (then no card is touched); file and reason:
    // what the log names for the first refused card (or, forced, as wiped).
    void gate_data()
    {
        QTest::addColumn<bool>("imported");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("force");
        QTest::addColumn<bool>("reverify");
        QTest::addColumn<QList<int>>("refused");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* name, bool imported, const char* change, bool force,
                            bool reverify, const QList<int>& refused, const QString& file,
                            const char* reason) {
            QTest::newRow(name) << imported << QString(change) << force << reverify << refused
                                << file << QString(reason);
        };
        row("never imported", false, "", false, false, {1, 2, 3}, Video, "no copy recorded");
        row("imported", true, "", false, false, {}, "", "");
        row("imported, copies read again", true, "", false, true, {}, "", "");
        row("copy of card 2 lost", true, "lose copy", false, false, {2}, Video, "its copy is gone");
        row("copy of card 2 cut short", true, "shorten copy", false, false, {2}, Video,
            "its copy has another size");
        row("photo on card 3 changed", true, "change photo", false, false, {3}, Photo,
            "changed since it was copied");
        row("photo on card 3 touched", true, "touch photo", false, false, {3}, Photo,
            "changed since it was copied");
        row("video added to card 1 after the import", true, "add video", false, false, {1},
            "DCIM/100QVK/QVK0003.MOV", "no copy recorded");
        // The import copies media in any case, so the wipe asks for their copies.
        row("lower-case video added to card 1 after the import", true, "add video", false, false,
            {1}, "DCIM/100QVK/QVK0003.mov", "no copy recorded");
        row("copy of card 2 damaged, read again", true, "damage copy", false, true, {2}, Video,
            "its copy's content differs from the card's");
        row("never imported, forced", false, "", true, false, {}, Video, "no copy recorded");
        row("copy of card 2 lost, forced", true, "lose copy", true, false, {}, Video,
            "its copy is gone");
    }

    void gate()
    {
        QFETCH(bool, imported);
        QFETCH(QString, change);
        QFETCH(bool, force);
        QFETCH(bool, reverify);
        QFETCH(QList<int>, refused);
        QFETCH(QString, file);
        QFETCH(QString, reason);
        if (imported)
            import();
        const int card = refused.isEmpty() ? (change.isEmpty() ? 1 : 2) : refused.first();
        if (change == "lose copy") {
            QVERIFY(QFile::remove(copyOf(2, Video)));
        } else if (change == "shorten copy") {
            QVERIFY(QFile::resize(copyOf(2, Video), 3));
        } else if (change == "damage copy") {
            // Same size, same time: only reading it again tells.
            const QString copy = copyOf(2, Video);
            const QDateTime time = QFileInfo(copy).lastModified();
            QFile damaged(copy);
            QVERIFY(damaged.open(QIODevice::ReadWrite));
            QVERIFY(damaged.write("V") == 1);
            QVERIFY(damaged.setFileTime(time, QFileDevice::FileModificationTime));
            damaged.close();
        } else if (change == "change photo") {
            QVERIFY(writeFile(cards[2] + "/" + Photo, "photo 3, edited"));
        } else if (change == "touch photo") {
            QFile photo(cards[2] + "/" + Photo);
            QVERIFY(photo.open(QIODevice::ReadWrite));
            QVERIFY(photo.setFileTime(QFileInfo(photo).lastModified().addSecs(-3600),
                                      QFileDevice::FileModificationTime));
        } else if (change == "add video") {
            QVERIFY(writeFile(cards[0] + "/" + file, "a later video"));
        }
        QStringList before;
        for (const QString& path : cards)
            before << tree(path);
        const QStringList copies = tree(base->filePath("dest"));

        prepare(force, reverify);

        const QString cardPath = cards[card - 1];
        if (!refused.isEmpty()) {
            QStringList after;
            for (const QString& path : cards)
                after << tree(path);
            QCOMPARE(after, before);
            QVERIFY(!logLines.join('\n').contains("Erased card"));
            for (int n : refused) {
                const int files = change == "add video" ? 3 : 2;
                const int missing = imported ? 1 : 2;
                const QString text =
                    QString("%1 0 2 2 Error: %2 of %3 media files on card %1 (%4) have no "
                            "verified copy")
                        .arg(n)
                        .arg(missing)
                        .arg(files)
                        .arg(cards[n - 1]);
                QVERIFY2(reports.contains(text), qPrintable(reports.join('\n')));
                QVERIFY(named.value(n).contains(n == card ? file : Video));
            }
            QCOMPARE(named.keys(), refused);
            const QString line = QString("I \"Card %1 (%2): no verified copy: %3 (%4")
                                     .arg(card)
                                     .arg(cardPath, file, reason);
            QVERIFY2(logLines.filter(line).size() == 1, qPrintable(logLines.join('\n')));
        } else {
            for (int n = 1; n <= 3; ++n) {
                QVERIFY2(reports.contains(QString("%1 0 2 2 Erased and prepared.").arg(n)),
                         qPrintable(reports.join('\n')));
                QVERIFY(!QFileInfo::exists(cards[n - 1] + "/DCIM"));
            }
            const QString line = QString("W \"Card %1 (%2): wiping without a verified copy: %3 (%4")
                                     .arg(card)
                                     .arg(cardPath, file, reason);
            QCOMPARE(logLines.filter(line).size(), force ? 1 : 0);
            QCOMPARE(named.isEmpty(), !force);
        }
        // The copies are never touched.
        QCOMPARE(tree(base->filePath("dest")), copies);
    }

    // A folder the user may not look into may hold media: not safe to wipe.
    void unreadableFolderNotSafe()
    {
#if defined(Q_OS_LINUX)
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
#else
        QSKIP("file modes as another user: a Linux test");
#endif
    }

    // What the erase box shows: per card its volume and copies.
    void eraseCheck()
    {
        import();
        QVERIFY(writeFile(cards[1] + "/DCIM/100QVK/QVK0003.JPG", "later"));
        const QVariantList check = WipeCheck().eraseCheck(cards[0], cards[1], cards[2]);
        QCOMPARE(check.size(), 3);
        QStringList shown;
        for (const QVariant& entry : check) {
            const QVariantMap map = entry.toMap();
            QVERIFY(map.value("size").toLongLong() > 0);
            QCOMPARE(map.value("path").toString(), cards[map.value("card").toInt() - 1]);
            shown << QString("%1 %2 %3/%4 %5")
                         .arg(map.value("card").toInt())
                         .arg(map.value("label").toString())
                         .arg(map.value("verified").toInt())
                         .arg(map.value("files").toInt())
                         .arg(map.value("problem").toString());
        }
        // Labels as the system knows them (without udev, loop devices have none).
        const auto label = [this](int n) { return QStorageInfo(cards[n - 1]).name(); };
        QCOMPARE(shown, QStringList({"1 " + label(1) + " 2/2 ", "2 " + label(2) + " 2/3 ",
                                     "3 " + label(3) + " 2/2 "}));

        const QVariantMap folder =
            WipeCheck().eraseCheck(cards[0] + "/DCIM", cards[1], cards[2]).first().toMap();
        QCOMPARE(folder.value("problem").toString(),
                 QString("a folder, not the root of its volume (%1)").arg(cards[0]));
        QCOMPARE(folder.value("files").toInt(), -1);
    }
};

QTEST_GUILESS_MAIN(TestWipeCheck)
#include "tst_wipecheck.moc"
