// The record of complete data exports: what comes back of it, what it says
// about files changed since, and its sharing of the import ledger's database.
#include "cards/importledger.h"
#include "controller/exportledger.h"
#include "support/testsupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <xxhash.h>

namespace {

ExportEntry exportOf(const QString& unit, const QStringList& paths, qint64 records = 8)
{
    ExportEntry entry;
    entry.unit = unit;
    entry.announced = records;
    entry.written = records;
    entry.exportedAt = QDateTime(QDate(2024, 5, 18), QTime(9, 10, 11, 123), Qt::UTC);
    int n = 0;
    for (const QString& path : paths)
        entry.files << ExportedFile{path, 100 + n, 0xfedcba9876543210ULL + quint64(n++)};
    return entry;
}

} // namespace

class TestExportLedger : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString databasePath() const { return dir->filePath("data/imports.sqlite"); }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    // Every field comes back, newest export first, files in their order, and
    // the import ledger's rows in the same database stay as they were.
    void sharesTheImportLedgersDatabase()
    {
        LedgerEntry copy;
        copy.card.rootPath = "/media/a";
        copy.relativePath = "DCIM/V.MOV";
        copy.size = 5;
        copy.modified = QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC);
        copy.copyPath = "/dest/V_cam1.MOV";
        copy.copiedAt = copy.modified;
        QVERIFY(ImportLedger(databasePath()).record(copy));
        {
            ExportLedger ledger(databasePath());
            QVERIFY(ledger.record(exportOf("usb 0403:6001 serial A1", {"/d/a.csv", "/d/b.csv"})));
            QVERIFY(ledger.record(exportOf("/dev/ttyACM0", {"/d/c.csv"}, 3)));
            ExportEntry later = exportOf("usb 0403:6001 serial A1", {"/e/a.csv"}, 12);
            later.exportedAt = later.exportedAt.addSecs(60);
            QVERIFY(ledger.record(later));
        }
        ExportLedger ledger(databasePath());
        const QList<ExportEntry> exports = ledger.exportsOf("usb 0403:6001 serial A1");
        QCOMPARE(exports.size(), 2);
        QCOMPARE(exports[0].announced, 12);
        QCOMPARE(exports[0].exportedAt,
                 QDateTime(QDate(2024, 5, 18), QTime(9, 11, 11, 123), Qt::UTC));
        QCOMPARE(exports[1].written, 8);
        QCOMPARE(exports[1].files.size(), 2);
        QCOMPARE(exports[1].files[1].path, QString("/d/b.csv"));
        QCOMPARE(exports[1].files[1].size, 101);
        QCOMPARE(exports[1].files[1].xxh64, 0xfedcba9876543211ULL); // above the signed range
        QCOMPARE(ledger.exportsOf("/dev/ttyACM0").size(), 1);
        QVERIFY(ledger.exportsOf("/dev/ttyACM1").isEmpty());
        // An erase spends every export of its unit, once; a later export vouches again.
        const QDateTime erased = exports[0].exportedAt.addSecs(60);
        QVERIFY(ledger.spend("usb 0403:6001 serial A1", erased));
        QVERIFY(ledger.spend("usb 0403:6001 serial A1", erased.addSecs(60)));
        QVERIFY(ledger.record(exportOf("usb 0403:6001 serial A1", {"/f/a.csv"})));
        QList<QDateTime> spent;
        for (const ExportEntry& entry : ledger.exportsOf("usb 0403:6001 serial A1"))
            spent << entry.spentAt;
        QCOMPARE(spent, QList<QDateTime>({QDateTime(), erased, erased}));
        QVERIFY(!ledger.exportsOf("/dev/ttyACM0").first().spentAt.isValid());
        QCOMPARE(ImportLedger(databasePath()).copiesOfCard(copy.card).size(), 1);
    }

    void doubt_data()
    {
        QTest::addColumn<QString>("change"); // to the files since the export
        QTest::addColumn<int>("records");    // the unit holds now
        QTest::addColumn<QString>("doubt");  // contains; empty: none
        QTest::newRow("as exported") << "" << 8 << "";
        QTest::newRow("more records") << "" << 12 << "saved 8 records; the unit holds 12 now";
        QTest::newRow("fewer records") << "" << 4 << "saved 8 records; the unit holds 4 now";
        QTest::newRow("a file shortened") << "shorten" << 8 << "has 99 bytes, not the 100";
        QTest::newRow("a file grown") << "grow" << 8 << "has 101 bytes, not the 100";
        QTest::newRow("a folder in its place") << "folder" << 8 << "not the 100 written";
        QTest::newRow("no file recorded") << "none" << 8 << "recorded no file";
    }

    void doubt()
    {
        QFETCH(QString, change);
        QFETCH(int, records);
        QFETCH(QString, doubt);
        const QString a = dir->filePath("a.csv"), b = dir->filePath("b.csv");
        QVERIFY(TestSupport::writeFile(a, QByteArray(100, 'a')));
        QVERIFY(TestSupport::writeFile(b, QByteArray(100, 'b')));
        ExportEntry entry = exportOf("unit", {a, b});
        for (ExportedFile& file : entry.files) {
            file.size = 100;
            file.xxh64 = XXH64(TestSupport::readFile(file.path).constData(), 100, 0);
        }
        if (change == "shorten" || change == "grow")
            QVERIFY(QFile(b).resize(change == "grow" ? 101 : 99));
        else if (change == "folder")
            QVERIFY(QFile::remove(b) && QDir().mkpath(b));
        else if (change == "none")
            entry.files.clear();
        const QString found = ExportLedger::doubt(entry, records);
        if (doubt.isEmpty())
            QCOMPARE(found, QString());
        else
            QVERIFY2(found.contains(doubt), qPrintable(found));
    }

    // A database that cannot be opened: nothing recorded, nothing vouched
    // for, and the log says so.
    void unusableDatabaseVouchesForNothing()
    {
        QVERIFY(TestSupport::writeFile(dir->filePath("data"), "a file where the folder goes"));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^Export records .*imports\\.sqlite: "));
        ExportLedger ledger(databasePath());
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^Export records .*: cannot record the export "
                                                "of unit: "));
        QVERIFY(!ledger.record(exportOf("unit", {"/d/a.csv"})));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Export records .*: cannot read: "));
        QVERIFY(ledger.exportsOf("unit").isEmpty());
    }
};

QTEST_MAIN(TestExportLedger)
#include "tst_exportledger.moc"
