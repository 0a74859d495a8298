#include "cards/importledger.h"
#include "support/loopvolume.h"
#include "support/testsupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

Q_DECLARE_METATYPE(CardIdentity)

namespace {

LedgerEntry entry(const CardIdentity& card, const QString& file, int n = 0)
{
    LedgerEntry e;
    e.card = card;
    e.relativePath = file;
    e.size = 1000 + n;
    e.modified = QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7, 250), Qt::UTC);
    e.xxh64 = 0xfedcba9876543210ULL + quint64(n); // above the signed range
    e.copyPath = QStringLiteral("/dest/%1-%2").arg(file).arg(n);
    e.copiedAt = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5, 678), Qt::UTC);
    e.runId = QStringLiteral("run-%1").arg(n);
    e.fingerprint = 0x8000000000000001ULL + quint64(n);
    e.hasFingerprint = true;
    e.copyModified = QDateTime(QDate(2021, 3, 4), QTime(5, 6, 8, 500), Qt::UTC);
    return e;
}

CardIdentity identity(const char* uuid, const char* root)
{
    CardIdentity card;
    card.uuid = QString::fromLatin1(uuid);
    card.label = QStringLiteral("QVK CAM");
    card.rootPath = QString::fromLatin1(root);
    return card;
}

// Runs statements on a database through a connection of its own, as another
// program would.
bool execOn(const QString& path, const QStringList& statements)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "other");
        db.setDatabaseName(path);
        ok = db.open();
        for (const QString& statement : statements)
            ok = ok && QSqlQuery(db).exec(statement);
    }
    QSqlDatabase::removeDatabase("other");
    return ok;
}

// Rows of a "type" column: the file system a loop device holds, "" a folder.
void fileSystemRows(const QStringList& types)
{
    QTest::addColumn<QString>("type");
    for (const QString& type : types)
        QTest::newRow(type.isEmpty() ? "folder" : qPrintable(type)) << type;
}

} // namespace

class TestImportLedger : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
    }

    // Every field survives the database, in the order recorded; the folder is made.
    void rowsComeBackAsRecorded()
    {
        const CardIdentity card = identity("1234-ABCD", "/media/cam1");
        const CardIdentity other = identity("9999-0000", "/media/cam2");
        ImportLedger ledger(ledgerPath());
        QVERIFY(ledger.record(entry(card, "DCIM/A.MOV", 1)));
        QVERIFY(ledger.record(entry(other, "DCIM/A.MOV", 2)));
        QVERIFY(ledger.record(entry(card, "DCIM/B.JPG", 3)));
        QVERIFY(ledger.record(entry(card, "DCIM/A.MOV", 4)));

        // Another object, as another program would read it.
        const auto fields = [](const LedgerEntry& e) {
            return QVariantList{e.card.uuid,   e.card.label, e.card.rootPath, e.relativePath,
                                e.size,        e.modified,   e.xxh64,         e.copyPath,
                                e.copiedAt,    e.runId,      e.fingerprint,   e.hasFingerprint,
                                e.copyModified};
        };
        QList<QVariantList> rows;
        for (const LedgerEntry& row : ImportLedger(ledgerPath()).copiesOfCard(card))
            rows << fields(row);
        QCOMPARE(rows, QList<QVariantList>({fields(entry(card, "DCIM/A.MOV", 1)),
                                            fields(entry(card, "DCIM/B.JPG", 3)),
                                            fields(entry(card, "DCIM/A.MOV", 4))}));
        QCOMPARE(ledger.copiesOf(card, "DCIM/A.MOV").size(), 2);
        QCOMPARE(ledger.copiesOf(card, "DCIM/C.MOV").size(), 0);

        // The copies inside a folder, whatever card they came from; a folder
        // whose name only begins alike ("_" is no pattern either) holds none.
        LedgerEntry beside = entry(card, "DCIM/B.JPG", 5);
        beside.copyPath = "/dest_x/DCIM/B.JPG-5";
        QVERIFY(ledger.record(beside));
        QStringList inside;
        for (const LedgerEntry& row : ledger.copiesIn("/dest"))
            inside << row.copyPath;
        QCOMPARE(inside, QStringList({"/dest/DCIM/A.MOV-1", "/dest/DCIM/A.MOV-2",
                                      "/dest/DCIM/B.JPG-3", "/dest/DCIM/A.MOV-4"}));
        QVERIFY(ledger.copiesIn("/dest/DCIM/A.MOV-1").isEmpty()); // a copy is no folder
        QCOMPARE(ledger.copiesIn("/dest_").size(), 0);
    }

    void sameCard_data()
    {
        QTest::addColumn<CardIdentity>("recorded");
        QTest::addColumn<CardIdentity>("asked");
        QTest::addColumn<bool>("same");
        const auto row = [](const char* name, CardIdentity a, CardIdentity b, bool same) {
            QTest::newRow(name) << a << b << same;
        };
        const CardIdentity a = identity("AAAA", "/media/a"), folder = identity("", "/home/u/c");
        row("same UUID, mounted elsewhere", a, identity("AAAA", "/mnt/x"), true);
        row("another card at the same mount point", a, identity("BBBB", "/media/a"), false);
        row("folders without UUID, same path", folder, identity("", "/home/u/c"), true);
        row("folders without UUID, other path", folder, identity("", "/home/u/c2"), false);
        row("UUID known on one side only, same path", a, identity("", "/media/a"), true);
    }

    // The ledger's questions follow CardIdentity::sameCard.
    void sameCard()
    {
        QFETCH(CardIdentity, recorded);
        QFETCH(CardIdentity, asked);
        QFETCH(bool, same);
        QCOMPARE(recorded.sameCard(asked), same);
        QCOMPARE(asked.sameCard(recorded), same);
        ImportLedger ledger(ledgerPath());
        QVERIFY(ledger.record(entry(recorded, "V.MOV")));
        QCOMPARE(ledger.copiesOfCard(asked).size(), same ? 1 : 0);
        QCOMPARE(ledger.copiesOf(asked, "V.MOV").size(), same ? 1 : 0);
    }

    void damagedLedgerIsPutAside_data()
    {
        QTest::addColumn<QString>("damage");
        for (const char* damage :
             {"random bytes", "a text file", "database cut short", "another program's table"})
            QTest::newRow(damage) << QString(damage);
    }

    // A ledger that is no longer a sound database is moved aside, bytes intact,
    // with a warning, and a new one takes the rows.
    void damagedLedgerIsPutAside()
    {
        QFETCH(QString, damage);
        QVERIFY(QDir().mkpath(dir->filePath("data")));
        if (damage == "random bytes") {
            QByteArray bytes;
            for (int k = 0; k < 8192; ++k)
                bytes += char(k * 7919 % 251);
            QVERIFY(TestSupport::writeFile(ledgerPath(), bytes));
        } else if (damage == "a text file") {
            QVERIFY(TestSupport::writeFile(ledgerPath(), "imports, one per line\n"));
        } else if (damage == "database cut short") {
            {
                ImportLedger full(ledgerPath());
                for (int n = 0; n < 300; ++n)
                    QVERIFY(
                        full.record(entry(identity("AAAA", "/media/a"), "DCIM/LONG_NAME.MOV", n)));
            }
            QFile file(ledgerPath());
            QVERIFY(file.size() > 8 * 4096);
            QVERIFY(file.resize(file.size() / 3));
        } else {
            QVERIFY(execOn(ledgerPath(), {"CREATE TABLE copies (id INTEGER, what TEXT)"}));
        }
        const QByteArray before = TestSupport::readFile(ledgerPath());

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^Import ledger .*imports\\.sqlite was "
                                                "damaged .* moved to .*damaged-"));
        ImportLedger ledger(ledgerPath());
        QVERIFY(ledger.record(entry(identity("AAAA", "/media/a"), "V.MOV")));

        QCOMPARE(ledger.copiesOfCard(identity("AAAA", "/media/a")).size(), 1);
        const QStringList aside =
            QDir(dir->filePath("data")).entryList({"imports.sqlite.damaged-*"}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(TestSupport::readFile(dir->filePath("data/" + aside.first())), before);
    }

    // A ledger that cannot be written says so, and the caller goes on.
    void unwritableLedgerWarns()
    {
        QVERIFY(TestSupport::writeFile(dir->filePath("data"), "a file where the folder goes"));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^Import ledger .*imports\\.sqlite: "));
        ImportLedger ledger(ledgerPath());
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression("^Import ledger .*: cannot record /dest/V.MOV-0: "));
        QVERIFY(!ledger.record(entry(identity("AAAA", "/media/a"), "V.MOV")));
        QCOMPARE(TestSupport::readFile(dir->filePath("data")),
                 QByteArray("a file where the folder goes"));
    }

    void objectsOnSeveralThreads_data() { fileSystemRows({"", "exfat", "ntfs"}); }

    // Three card workers at once on a new ledger: each has its tables and every row.
    void objectsOnSeveralThreads()
    {
        QFETCH(QString, type);
        LoopVolume volume;
        QString base = dir->filePath("data");
        if (!type.isEmpty()) {
            if (!volume.mount(dir->filePath("data.img"), dir->filePath("fs"), type, {}, 16))
                SKIP_SAFETY(volume.error());
            base = dir->filePath("fs/data");
        }
        constexpr int Rows = 25;
        const auto cardId = [](int n) {
            return identity("", qPrintable(QString("/card%1").arg(n)));
        };
        QAtomicInt failures;
        // A new ledger each time: the race is in its setting up.
        for (int round = 0; round < 10; ++round) {
            const QString path = base + QStringLiteral("/imports-%1.sqlite").arg(round);
            std::vector<std::unique_ptr<QThread>> threads;
            for (int card = 1; card <= 3; ++card) {
                threads.emplace_back(QThread::create([&, card] {
                    ImportLedger ledger(path);
                    const CardIdentity id = cardId(card);
                    for (int n = 0; n < Rows; ++n)
                        if (!ledger.record(entry(id, QStringLiteral("F%1.JPG").arg(n), n)))
                            failures.ref();
                }));
                threads.back()->start();
            }
            for (auto& thread : threads)
                QVERIFY(thread->wait(120000));
            QCOMPARE(failures.loadRelaxed(), 0);
            ImportLedger ledger(path);
            for (int card = 1; card <= 3; ++card)
                QCOMPARE(ledger.copiesOfCard(cardId(card)).size(), Rows);
        }
    }

    void pendingRowsSettled_data()
    {
        QTest::addColumn<QString>("copy");   // what the pending row's name holds
        QTest::addColumn<bool>("running");   // the program that wrote the row still runs
        QTest::addColumn<bool>("confirmed"); // the row proves a copy afterwards
        QTest::newRow("killed after the name") << "bytes" << false << true;
        QTest::newRow("killed before the name") << "" << false << false;
        QTest::newRow("another file took the name") << "other" << false << false;
        QTest::newRow("a program at work") << "bytes" << true << false;
    }

    // A copy killed between its name and its row: the row, written as pending
    // before the name, is confirmed by the next run when the copy is there, and
    // removed when not. A pending row proves nothing.
    void pendingRowsSettled()
    {
        QFETCH(QString, copy);
        QFETCH(bool, running);
        QFETCH(bool, confirmed);
        const QByteArray bytes(1000, 'v');
        const CardIdentity card = identity("", "/card1");
        LedgerEntry row = entry(card, "V.MOV");
        row.copyPath = dir->filePath("dest/V_cam1.MOV");
        row.size = bytes.size();
        row.xxh64 = TestSupport::xxh64Of(bytes).toULongLong(nullptr, 16);
        row.copyModified = QDateTime();
        ImportLedger ledger(ledgerPath());
        qint64 id = -1;
        QVERIFY(ledger.recordPending(row, &id) && id >= 0);
        QVERIFY(ledger.copiesOfCard(card).isEmpty());
        if (!copy.isEmpty())
            QVERIFY(TestSupport::writeFile(row.copyPath,
                                           copy == "bytes" ? bytes : QByteArray(1000, 'x')));
        else
            QVERIFY(QDir().mkpath(dir->filePath("dest")));
        if (!running) // as a killed program left it
            QVERIFY(execOn(ledgerPath(), {"UPDATE copies SET pending = 'ended'"}));

        QCOMPARE(ledger.settlePending(dir->filePath("dest")), int(confirmed));
        const QList<LedgerEntry> rows = ledger.copiesIn(dir->filePath("dest"));
        QCOMPARE(rows.size(), int(confirmed));
        if (confirmed)
            QCOMPARE(rows.first().copyModified, QFileInfo(row.copyPath).lastModified().toUTC());
        // The row of a program at work stays for it to confirm; others are gone.
        QCOMPARE(ledger.confirm(id, row), running);
    }

    // A folder given as a card is not a volume: no UUID nor label, its real path.
    void folderCardIsKnownByItsPath()
    {
        QVERIFY(QDir().mkpath(dir->filePath("real/card")));
        QVERIFY(QFile::link(dir->filePath("real/card"), dir->filePath("link")));
        const CardIdentity card = CardIdentity::of(dir->filePath("link"));
        QCOMPARE(card.rootPath, QFileInfo(dir->filePath("real/card")).canonicalFilePath());
        QVERIFY(card.uuid.isEmpty() && card.label.isEmpty());
        QVERIFY(card.sameCard(CardIdentity::of(dir->filePath("real/card/"))));
    }

    // A ledger of an earlier version gains the new columns, once, and keeps its
    // rows; they prove no card file.
    void olderLedgerGainsColumns()
    {
        QVERIFY(QDir().mkpath(dir->filePath("data")));
        QVERIFY(execOn(ledgerPath(),
                       {"CREATE TABLE copies (id INTEGER PRIMARY KEY, card_uuid TEXT NOT NULL, "
                        "card_label TEXT NOT NULL, card_root TEXT NOT NULL, relative_path TEXT "
                        "NOT NULL, size INTEGER NOT NULL, modified TEXT NOT NULL, xxh64 TEXT NOT "
                        "NULL, copy_path TEXT NOT NULL, copied_at TEXT NOT NULL, run_id TEXT NOT "
                        "NULL)",
                        "INSERT INTO copies VALUES (1, 'AAAA', '', '/media/a', 'V.MOV', 1000, "
                        "'2021-03-04T05:06:07.250Z', '00000000000000ff', '/dest/V_cam1.MOV', "
                        "'2024-01-02T03:04:05.678Z', 'old')"}));
        const CardIdentity card = identity("AAAA", "/media/a");
        for (int opened = 0; opened < 2; ++opened) {
            ImportLedger ledger(ledgerPath());
            const QList<LedgerEntry> rows = ledger.copiesOfCard(card);
            QCOMPARE(rows.size(), 1 + opened);
            QCOMPARE(rows.first().size, 1000);
            QVERIFY(!rows.first().hasFingerprint);
            QVERIFY(!rows.first().copyModified.isValid());
            QCOMPARE(
                CopyProof(dir->filePath("V.MOV"), CopyProof::Depth::FullRead).whyNot(rows.first()),
                QString("recorded before fingerprints were kept"));
            if (opened == 0)
                QVERIFY(ledger.record(entry(card, "W.MOV", 1)));
            else
                QCOMPARE(rows.last().fingerprint, entry(card, "W.MOV", 1).fingerprint);
        }
    }

    void identityFollowsTheFileSystem_data() { fileSystemRows({"fusefat", "ext4", "exfat"}); }

    // A card is the same card wherever it is mounted, and another card mounted
    // where it was is another card, even where the system keeps no links to its
    // file systems' identities.
    void identityFollowsTheFileSystem()
    {
        QFETCH(QString, type);
        LoopVolume volume;
        const QString first = dir->filePath("first.img");
        if (!volume.mount(first, dir->filePath("card"), type, "QVK_01"))
            SKIP_SAFETY(volume.error());
        const CardIdentity card = CardIdentity::of(dir->filePath("card"));
        QVERIFY(!card.uuid.isEmpty());
        QCOMPARE(card.label, QString("QVK_01"));
        volume.unmount();
        QVERIFY(volume.mount(dir->filePath("other.img"), dir->filePath("card"), type, "QVK_01"));
        QVERIFY(!card.sameCard(CardIdentity::of(dir->filePath("card"))));
        volume.unmount();
        // Mounted again elsewhere; not formatted again.
        QVERIFY(volume.mountImage(first, dir->filePath("elsewhere"), type));
        const CardIdentity elsewhere = CardIdentity::of(dir->filePath("elsewhere"));
        QCOMPARE(elsewhere.uuid, card.uuid);
        QVERIFY(card.sameCard(elsewhere));
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString ledgerPath() const { return dir->filePath("data/imports.sqlite"); }
};

QTEST_GUILESS_MAIN(TestImportLedger)
#include "tst_importledger.moc"
