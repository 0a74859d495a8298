// The data export against the simulator: the CSV files it leaves, the reports
// the view gets, and every way the unit, the link or the destination can let
// it down. Runs in a zone with daylight saving (see tasks.cmake).
#include "controller/appcontroller.h"
#include "controller/exportledger.h"
#include "link/pqvkcomms.h"
#include "link/unitwaits.h"
#include "simulator/controllersimulator.h"
#include "support/testsupport.h"

#include <QtTest>

#include <atomic>
#include <ctime>
#include <sys/mount.h>

namespace {

const auto texts = TestSupport::progressTexts;
// Hidden ones too: no temporary file may stay.
const auto filesIn = [](const QString& dir) { return TestSupport::files(dir); };

const char* const clockFormat = "yyyy-MM-dd hh:mm:ss";
const QByteArray header =
    "Number,Id,Datetime,Timestamp,Runtime,Type,Depth,Temperature,Heading,Roll,Pitch\r\n";

// The reports without the download's progress, which comes as often as time
// allows; the last of those is kept, with the counts it carries.
QStringList withoutRecordProgress(const QStringList& reports)
{
    QStringList result;
    QString last;
    for (const QString& report : reports) {
        if (report.contains(QLatin1String(",Reading dataset "))) {
            last = report;
            continue;
        }
        if (!last.isEmpty())
            result << last;
        last.clear();
        result << report;
    }
    return result;
}

qint64 at(int year, int month, int day, int hour, int minute, int second,
          Qt::TimeSpec zone = Qt::LocalTime)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), zone).toSecsSinceEpoch();
}

QString local(qint64 seconds, const char* format)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(format);
}

// The export's name for a dataset that starts then.
QString nameAt(qint64 start, const QString& more = {})
{
    return "vazizidadu_" + local(start, "yyyyMMdd-hhmm") + "00" + more + ".csv";
}

// A record as the unit sends it: only a start record (flag 1) carries the
// full timestamp, the others its low 16 bits.
QByteArray record(int id, int flags, qint64 timestamp, const QByteArray& readings)
{
    const qint64 field = (flags & 1) ? timestamp : (timestamp & 0xFFFF);
    return ControllerSimulator::sentence("PQVKDATA," + QByteArray::number(id) + ',' +
                                         QByteArray::number(flags) + ',' +
                                         QByteArray::number(field) + ',' + readings + ",0");
}

// The row the export writes for a record `runtime` seconds after `start`.
QByteArray row(int number, int id, qint64 start, int runtime, char type, const QByteArray& readings)
{
    return QStringLiteral("%1,%2,%3,%4,%5,%6,")
               .arg(number)
               .arg(id)
               .arg(local(start + runtime, clockFormat))
               .arg(start + runtime)
               .arg(runtime)
               .arg(QLatin1Char(type))
               .toLatin1() +
           readings + "\r\n";
}

} // namespace

class TestDataExport : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerSimulator> sim;
    std::unique_ptr<QTemporaryDir> tmp;
    QString mounted;
    QVariantMap outcome; // of the last export or erase

    // The export (from the simulator unless another unit is given) and the
    // erase as the view asks for them, on this thread so the reports keep their
    // order; the erase forced on the thread pool. A call that fails leaves no report.
    QStringList exportTo(const QString& dest, const QString& project = {},
                         ControllerSimulator* unit = nullptr)
    {
        return run("copyDataWorker", (unit ? unit : sim.get())->portPath(), dest, project);
    }
    QStringList erase(bool force) { return run(force ? "" : "eraseMemoryWorker", sim->portPath()); }
    QStringList run(const char* worker, const QString& port, const QString& dest = {},
                    const QString& project = {})
    {
        AppController controller;
        QSignalSpy progress(&controller, &AppController::updateDataProgress);
        QSignalSpy outcomes(&controller, &AppController::dataOutcome);
        if (!*worker)
            controller.eraseMemoryForced(port);
        else if (qstrcmp(worker, "copyDataWorker") != 0)
            QMetaObject::invokeMethod(&controller, worker, Qt::DirectConnection,
                                      Q_ARG(QString, port));
        else
            QMetaObject::invokeMethod(&controller, worker, Qt::DirectConnection,
                                      Q_ARG(QString, port), Q_ARG(QString, dest),
                                      Q_ARG(QString, project));
        QThreadPool::globalInstance()->waitForDone();
        outcome = outcomes.isEmpty() ? QVariantMap() : outcomes.last().at(0).toMap();
        return texts(progress);
    }

private slots:
    void initTestCase()
    {
        // The names and rows carry local time: a zone with daylight saving
        // shows what UTC would hide (tasks.cmake sets it too).
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QCOMPARE(local(1600000000, clockFormat), QStringLiteral("2020-09-13 14:26:40"));
    }
    void init()
    {
        // No export of an earlier case may vouch for this one's unit.
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(ExportLedger::defaultPath() + suffix);
        sim = std::make_unique<ControllerSimulator>();
        QVERIFY(sim->start());
        tmp = std::make_unique<QTemporaryDir>();
        qInstallMessageHandler(TestSupport::captureLog);
    }
    void cleanup()
    {
        qInstallMessageHandler(nullptr);
        sim.reset();
        if (!mounted.isEmpty())
            umount2(QFile::encodeName(mounted).constData(), MNT_DETACH);
        mounted.clear();
        tmp.reset();
        UnitWaits::setDefaults(UnitWaits());
    }

    void exportFiles_data();
    void exportFiles();
    void exportFails_data();
    void exportFails();
    void damagedDownload_data();
    void damagedDownload();
    void endlessStreams_data();
    void endlessStreams();
    void stoppedDownload();
    void fullDestination();
    void eraseGate_data();
    void eraseGate();
};

void TestDataExport::exportFiles_data()
{
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<QString>("project");
    QTest::addColumn<QVariantMap>("before"); // files of an earlier export
    QTest::addColumn<QVariantMap>("files");  // name -> exact bytes

    // Readings in general format with six significant digits.
    const QByteArray readingsA = "12.5,3,1000000,-1.5,2.25", rowA = "12.5,3,1e+06,-1.5,2.25";
    const QByteArray readingsB = "0.0001,20.25,359,0,-0.00001", rowB = "0.0001,20.25,359,0,-1e-05";
    const QByteArray readingsC = "1,2,3,4,5";

    const qint64 s1 = at(2024, 3, 5, 14, 7, 42), s2 = at(2024, 3, 5, 16, 0, 0);
    const QList<QByteArray> twoDatasets = {
        record(10, 1, s1, readingsC),      record(11, 10, s1 + 2, readingsA),
        record(12, 18, s1 + 4, readingsB), record(13, 1, s2, readingsC),
        record(14, 10, s2 + 7, readingsC),
    };
    const QByteArray first = header + row(1, 11, s1, 2, 'v', rowA) + row(2, 12, s1, 4, 'p', rowB);
    const QByteArray second = header + row(1, 14, s2, 7, 'v', readingsC);
    const QVariantMap both{{"vazizidadu_20240305-140700.csv", first},
                           {"vazizidadu_20240305-160000.csv", second}};
    QTest::newRow("two datasets") << twoDatasets << "" << QVariantMap() << both;
    // The same records exported again into the same folder: the files that
    // hold exactly them are kept, no "-2" duplicates.
    QTest::newRow("exported again") << twoDatasets << "" << both << both;

    // Neither dataset of one minute may swallow the other, and an earlier
    // export's file of that minute (a unit whose clock was reset) is kept.
    const qint64 early = at(2024, 3, 5, 14, 7, 5), late = at(2024, 3, 5, 14, 7, 50);
    const QList<QByteArray> sameMinute = {
        record(1, 1, early, readingsC), record(2, 10, early + 1, readingsA),
        record(3, 1, late, readingsC), record(4, 18, late + 3, readingsB)};
    const QByteArray earlyFile = header + row(1, 2, early, 1, 'v', rowA);
    const QByteArray lateFile = header + row(1, 4, late, 3, 'p', rowB);
    const QByteArray old = "old export\r\n";
    QTest::newRow("same minute as an earlier export's files")
        << sameMinute << ""
        << QVariantMap{{"vazizidadu_20240305-140700.csv", old},
                       {"vazizidadu_20240305-140700-3.csv", old}}
        << QVariantMap{{"vazizidadu_20240305-140700.csv", old},
                       {"vazizidadu_20240305-140700-2.csv", earlyFile},
                       {"vazizidadu_20240305-140700-3.csv", old},
                       {"vazizidadu_20240305-140700-4.csv", lateFile}};
    // The number goes in as text, whatever the project name holds.
    QTest::newRow("project holding %2")
        << sameMinute << "a%2b%1" << QVariantMap()
        << QVariantMap{{"vazizidadu_a%2b%1_20240305-140700.csv", earlyFile},
                       {"vazizidadu_a%2b%1_20240305-140700-2.csv", lateFile}};

    const qint64 wrap = (s1 | 0xFFFF) - 5; // the low 16 bits wrap after the start
    QTest::newRow("16-bit wrap") << QList<QByteArray>{record(7, 1, wrap, readingsC),
                                                      record(8, 10, wrap + 3, readingsA),
                                                      record(9, 10, wrap + 20, readingsA)}
                                 << "" << QVariantMap()
                                 << QVariantMap{{nameAt(wrap), header +
                                                                   row(1, 8, wrap, 3, 'v', rowA) +
                                                                   row(2, 9, wrap, 20, 'v', rowA)}};

    // Local time across the changes of daylight saving: the clock jumps from
    // 02:00 to 03:00 in spring, and runs through 02:00 to 03:00 twice in autumn.
    const qint64 spring = at(2024, 3, 31, 0, 59, 0, Qt::UTC); // 01:59 local
    QTest::newRow("dataset across the spring change")
        << QList<QByteArray>{record(1, 1, spring, readingsC), record(2, 10, spring + 90, readingsA)}
        << "" << QVariantMap()
        << QVariantMap{{"vazizidadu_20240331-015900.csv", header + "1,2,2024-03-31 03:00:30," +
                                                              QByteArray::number(spring + 90) +
                                                              ",90,v," + rowA + "\r\n"}};
    const qint64 summer = at(2024, 10, 27, 0, 30, 0, Qt::UTC),
                 winter = at(2024, 10, 27, 1, 30, 0, Qt::UTC);
    QTest::newRow("the autumn hour twice")
        << QList<QByteArray>{record(1, 1, summer, readingsC), record(2, 10, summer + 1, readingsA),
                             record(3, 1, winter, readingsC), record(4, 10, winter + 1, readingsA)}
        << "" << QVariantMap()
        << QVariantMap{
               {"vazizidadu_20241027-023000.csv", header + row(1, 2, summer, 1, 'v', rowA)},
               {"vazizidadu_20241027-023000-2.csv", header + row(1, 4, winter, 1, 'v', rowA)}};
}

void TestDataExport::exportFiles()
{
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QString, project);
    QFETCH(QVariantMap, before);
    QFETCH(QVariantMap, files);
    // Without earlier files the folder is not there yet: the export makes it.
    const QString dest = tmp->path() + "/exports";
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QVERIFY(TestSupport::writeFile(dest + '/' + it.key(), it.value().toByteArray()));
    sim->setRecordLines(lines);

    const int n = lines.size();
    QCOMPARE(withoutRecordProgress(exportTo(dest, project)),
             QStringList({"0,2,1,Counting datasets ...",
                          QStringLiteral("0,%1,%2,Reading dataset %2 of %2").arg(n + 1).arg(n),
                          QStringLiteral("0,2,1,Reading %1 datasets ...").arg(n),
                          QStringLiteral("0,2,2,Wrote %1 records to %2 files in %3")
                              .arg(n)
                              .arg(std::count_if(files.cbegin(), files.cend(),
                                                 [](const QVariant& bytes) {
                                                     return !bytes.toByteArray().startsWith("old");
                                                 }))
                              .arg(dest)}));
    // Exactly these files, complete, and no temporary leftovers.
    QCOMPARE(filesIn(dest), files.keys());
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QCOMPARE(TestSupport::readFile(dest + '/' + it.key()), it.value().toByteArray());
}

void TestDataExport::exportFails_data()
{
    QTest::addColumn<QString>("dest"); // "@" is the test's folder
    QTest::addColumn<int>("datasets"); // of three records each
    QTest::addColumn<QString>("project");
    QTest::addColumn<QString>("report"); // the last report starts so; "0,1,1," ones are the only
    QTest::addColumn<QString>("status"); // the outcome's

    const auto row = [](const char* name, const char* dest, int datasets, const char* project,
                        const char* report, const char* status) {
        QTest::newRow(name) << QString(dest) << datasets << QString(project) << QString(report)
                            << QString(status);
    };
    row("no destination", "", 1, "", "0,1,1,Error: Please choose destination", "refused");
    row("parent folder", "@", 1, "../up", "0,1,1,Error: Invalid project name", "refused");
    // A folder made for the export goes again when nothing came into it.
    row("empty memory", "@/missing", 0, "", "0,2,2,No records available.", "succeeded");
    // The unit holds records but never answers the count: no "No records available."
    row("count unanswered", "@", -1, "", "0,2,2,Error: Could not read available data. ", "failed");
    // Nothing is read from the unit for a folder that cannot be made.
    row("folder cannot be made", "/proc/qvk/export", 2, "",
        "0,1,1,Error: Cannot create the folder /proc/qvk/export", "refused");
}

void TestDataExport::exportFails()
{
    QFETCH(QString, dest);
    QFETCH(int, datasets);
    QFETCH(QString, project);
    QFETCH(QString, report);
    QFETCH(QString, status);
    dest.replace('@', tmp->path());
    report.replace('@', tmp->path());
    TestSupport::setWaits({{&UnitWaits::answerMs, 300}});
    sim->setDatasets(datasets == 0 ? 0 : qMax(datasets, 2), 3);
    if (datasets < 0) {
        const QByteArray unrelated = ControllerSimulator::sentence("PQVKSTATUS,0,IDLE");
        sim->setReply("PQVKNUMDUMP", {unrelated, unrelated, unrelated, unrelated});
    }

    const QStringList reports = exportTo(dest, project);
    QVERIFY2(!reports.isEmpty() && reports.last().startsWith(report),
             qPrintable(reports.join('\n')));
    QCOMPARE(outcome.value("status").toString(), status);
    if (report.startsWith("0,1,1,")) {
        QCOMPARE(reports.size(), 1);
        QVERIFY(sim->receivedCommands().isEmpty());
    }
    QVERIFY(QDir(tmp->path()).isEmpty()); // no file, no folder, no half dataset
}

// A download that does not match what the unit announced is asked for again;
// when that mends it, the export is as if nothing happened. When it does not,
// what arrived is kept in files named incomplete and the export fails.
void TestDataExport::damagedDownload_data()
{
    QTest::addColumn<QList<int>>("garbled"); // positions of the eight records, from 0
    QTest::addColumn<QList<int>>("dropped");
    QTest::addColumn<int>("announced"); // -1: the truth
    QTest::addColumn<int>("damagedDumps");
    QTest::addColumn<QStringList>("files"); // of the two datasets and those without a start
    QTest::addColumn<QString>("problems");

    const QString d1Incomplete = nameAt(1600000000, "_incomplete"),
                  d2Incomplete = nameAt(1600100000, "_incomplete");
    const QStringList whole = {nameAt(1600000000), nameAt(1600100000)},
                      both = {d1Incomplete, d2Incomplete};
    const auto row = [](const char* name, const QList<int>& garbled, const QList<int>& dropped,
                        int announced, int damagedDumps, const QStringList& files,
                        const char* problems = "") {
        QTest::newRow(name) << garbled << dropped << announced << damagedDumps << files
                            << QString(problems);
    };
    row("bad checksum, mended by asking again", {2}, {}, -1, 1, whole);
    row("bad checksum", {2}, {}, -1, -1, both,
        "7 of 8 records arrived; 1 line with a bad checksum; record 3 missing");
    row("gap", {}, {5, 6}, -1, -1, both, "6 of 8 records arrived; records 6 to 7 missing");
    // Numbers that skip while the announced count arrives in full lose nothing.
    row("numbering gap, full count", {}, {6}, 7, -1, whole);
    row("count mismatch", {}, {}, 9, -1, both, "8 of 9 records arrived");
    row("lost first start record", {}, {0}, -1, -1,
        {d2Incomplete, "vazizidadu_without-start_incomplete.csv"},
        "7 of 8 records arrived; 3 records before the first start record");
    // Without the check its records would run on in the first dataset's file.
    row("lost start record in the middle", {}, {4}, -1, -1, {d1Incomplete},
        "7 of 8 records arrived; record 5 missing");
}

void TestDataExport::damagedDownload()
{
    QFETCH(QList<int>, garbled);
    QFETCH(QList<int>, dropped);
    QFETCH(int, announced);
    QFETCH(int, damagedDumps);
    QFETCH(QStringList, files);
    QFETCH(QString, problems);
    TestSupport::setWaits({{&UnitWaits::settleMs, 100}});
    sim->setDatasets(2, 3);
    sim->setDumpDamage(garbled, dropped, damagedDumps);
    sim->setAnnouncedCount(announced);
    const QString dest = tmp->path();

    const QStringList reports = exportTo(dest);
    const int arrived = 8 - garbled.size() - dropped.size();
    const bool mended = problems.isEmpty();
    const int requests = mended ? qMax(damagedDumps, 0) + 1 : 3;
    QCOMPARE(sim->receivedCount("PQVKDUMP"), requests);
    QCOMPARE(reports.filter("Asking the unit again").size(), requests - 1);
    files.sort();
    QCOMPARE(filesIn(dest), files);
    QCOMPARE(outcome.value("status").toString(), mended ? "succeeded" : "incomplete");
    if (mended) {
        const int kept = announced < 0 ? 8 : announced;
        QCOMPARE(reports.last(),
                 QStringLiteral("0,2,2,Wrote %1 records to 2 files in %2").arg(kept).arg(dest));
        // Numbers count from the start record's: a skipped one stays skipped.
        const QStringList rows =
            QString::fromLatin1(TestSupport::readFile(dest + '/' + files.last()))
                .split("\r\n", Qt::SkipEmptyParts)
                .mid(1);
        QStringList numbers;
        for (const QString& row : rows)
            numbers << row.section(',', 0, 1);
        const QStringList expected =
            kept == 8 ? QStringList{"1,6", "2,7", "3,8"} : QStringList{"1,6", "3,8"};
        QCOMPARE(numbers, expected);
        return;
    }
    QCOMPARE(reports.last(), QStringLiteral("0,2,2,Error: The download stayed incomplete (%1). "
                                            "Saved %2 records in %3 files named "
                                            "\"..._incomplete.csv\" in %4.")
                                 .arg(problems)
                                 .arg(arrived)
                                 .arg(files.size())
                                 .arg(dest));
    // What arrived is all there: a row per record that is no start record.
    int rows = 0;
    for (const QString& name : files)
        rows += TestSupport::readFile(dest + '/' + name).count("\r\n") - 1;
    QCOMPARE(rows, arrived - files.filter(QRegularExpression("^vazizidadu_\\d")).size());
}

// A unit that stalls, babbles or sends without end ends the download in a
// bounded time with an error; what came before is kept, never more records
// than were announced.
void TestDataExport::endlessStreams_data()
{
    using Tail = ControllerSimulator::DumpTail;
    QTest::addColumn<int>("tail"); // after three records
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("problem");
    QTest::newRow("falls silent") << int(Tail::Silence) << 3
                                  << "the unit sent no record for 0.3 s; 3 of 8 records arrived";
    // The unit does not stop: it is not asked again.
    QTest::newRow("only status lines")
        << int(Tail::StatusLines) << 1 << "the unit sent no record for 0.3 s; 3 of 8 records";
    QTest::newRow("garbage") << int(Tail::Garbage) << 1
                             << "the unit sent no record for 0.3 s; 3 of 8 records arrived; ";
    QTest::newRow("a line without end")
        << int(Tail::EndlessLine) << 1 << "the unit sent a line longer than 512 bytes; 3 of 8";
    QTest::newRow("records without end")
        << int(Tail::EndlessRecords) << 1 << "the unit sent more records than the 8 it announced";
}

void TestDataExport::endlessStreams()
{
    QFETCH(int, tail);
    QFETCH(int, requests);
    QFETCH(QString, problem);
    TestSupport::setWaits({{&UnitWaits::recordMs, 300},
                           {&UnitWaits::settleMs, 100},
                           {&UnitWaits::settleLimitMs, 600}});
    sim->setDatasets(2, 3);
    const int kept = tail == int(ControllerSimulator::DumpTail::EndlessRecords) ? 8 : 3;
    sim->setDumpTail(ControllerSimulator::DumpTail(tail), kept);
    const QString dest = tmp->path();

    TestSupport::capturedLog.clear();
    const QStringList reports = exportTo(dest);
    QVERIFY(TestSupport::capturedLog.size() < 150); // the log not flooded
    QCOMPARE(sim->receivedCount("PQVKDUMP"), requests);
    const QString last = reports.last();
    QVERIFY2(last.startsWith("0,2,2,Error: The download stayed incomplete (" + problem),
             qPrintable(last));
    QVERIFY2(last.endsWith(QStringLiteral("Saved %1 records in %2 files named "
                                          "\"..._incomplete.csv\" in %3.")
                               .arg(kept)
                               .arg(kept == 8 ? 2 : 1)
                               .arg(dest)),
             qPrintable(last));
    const QStringList files = filesIn(dest);
    QCOMPARE(files.size(), kept == 8 ? 2 : 1);
    QCOMPARE(files.first(), nameAt(1600000000, "_incomplete"));
    // The header and a row for each record after the start record.
    QCOMPARE(TestSupport::readFile(dest + '/' + files.first()).count("\r\n"), kept == 8 ? 4 : 3);
}

// A stop while the unit streams on without end: the task ends, writes and
// records nothing, and the next export finds the unit ready.
void TestDataExport::stoppedDownload()
{
    TestSupport::setWaits({{&UnitWaits::settleMs, 100}});
    sim->setDatasets(2, 3);
    sim->setAnnouncedCount(1000000);
    sim->setDumpTail(ControllerSimulator::DumpTail::EndlessRecords, 3);
    const QString dest = tmp->path();
    {
        AppController controller;
        QSignalSpy progress(&controller, &AppController::updateDataProgress);
        QSignalSpy outcomes(&controller, &AppController::dataOutcome);
        std::atomic<int> received{0}; // the spies are read once the task is over
        connect(
            &controller, &AppController::updateDataRecords, this,
            [&](const QVariant& records) { received = records.toInt(); }, Qt::DirectConnection);
        controller.copyData(sim->portPath(), dest, {});
        QTRY_VERIFY(received > 3);
        controller.stopExport();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
        QCOMPARE(texts(progress).last(), QStringLiteral("0,2,2,Export stopped."));
        QVERIFY(!TestSupport::capturedLog.filter("Download: \"stopped on request").isEmpty());
        QCOMPARE(outcomes.last().at(0).toMap().value("status"), QVariant("stopped"));
    }
    QCOMPARE(filesIn(dest), QStringList());
    QVERIFY(ExportLedger().exportsOf(PQVKComms::unitIdentity(sim->portPath())).isEmpty());

    sim->setAnnouncedCount(-1);
    sim->setDumpTail(ControllerSimulator::DumpTail::End);
    const QString last = exportTo(dest).last();
    QVERIFY2(last.startsWith("0,2,2,Wrote 8 records to 2 files"), qPrintable(last));
}

// The destination fills up: a file that could not be written holds no name,
// the datasets after it are still written, and the export fails.
void TestDataExport::fullDestination()
{
    const QString dest = tmp->filePath("small");
    QVERIFY(QDir().mkpath(dest));
    if (mount("tmpfs", QFile::encodeName(dest).constData(), "tmpfs", 0, "size=64k") != 0)
        SKIP_SAFETY("no small file system can be mounted here (needs root)");
    mounted = dest;
    // A small dataset, one far larger than the file system, another small one.
    QList<QByteArray> lines;
    int id = 1;
    const qint64 starts[] = {at(2024, 6, 1, 10, 0, 0), at(2024, 6, 1, 11, 0, 0),
                             at(2024, 6, 1, 12, 0, 0)};
    const int sizes[] = {20, 3000, 20};
    for (int d = 0; d < 3; ++d) {
        lines << record(id++, 1, starts[d], "1,2,3,4,5");
        for (int k = 1; k <= sizes[d]; ++k)
            lines << record(id++, 10, starts[d] + k, "12.5,20.25,359,-1.5,2.25");
    }
    sim->setRecordLines(lines);

    const QStringList reports = exportTo(dest);
    const QString large = dest + '/' + nameAt(starts[1]);
    QVERIFY2(reports.last().startsWith("0,2,2,Error: Cannot write " + large + ": "),
             qPrintable(reports.last()));
    QVERIFY2(reports.last().endsWith(" Wrote 2 of 3 files in " + dest + "."),
             qPrintable(reports.last()));
    QCOMPARE(filesIn(dest), QStringList({nameAt(starts[0]), nameAt(starts[2])}));
    for (int d : {0, 2}) {
        const QByteArray content = TestSupport::readFile(dest + '/' + nameAt(starts[d]));
        QCOMPARE(content.count("\r\n"), 21);
        QVERIFY(content.startsWith(header) && content.endsWith(",v,12.5,20.25,359,-1.5,2.25\r\n"));
    }
}

// The unit's memory is erased only when what it holds is saved: empty, or a
// complete export of this unit, not yet used by an erase, saved as many
// records into files that still hold their bytes. Otherwise nothing goes to
// the unit but the count, unless forced.
void TestDataExport::eraseGate_data()
{
    QTest::addColumn<QString>("before"); // what happened since the unit was filled
    QTest::addColumn<bool>("force");
    QTest::addColumn<bool>("erased");
    // In a warning of the log, and in the refusal's reason; empty: no warning.
    QTest::addColumn<QString>("why");

    const QString never = "no complete export of the unit ";
    QTest::newRow("never exported") << "" << false << false << never;
    QTest::newRow("complete export") << "export" << false << true << "";
    QTest::newRow("empty unit") << "empty" << false << true << "";
    QTest::newRow("a file deleted") << "export,delete" << false << false << " is missing";
    QTest::newRow("damaged export") << "damaged export" << false << false << never;
    QTest::newRow("another unit's export") << "other unit export" << false << false << never;
    QTest::newRow("a later complete export after a deleted one")
        << "export,delete,export" << false << true << "";
    QTest::newRow("never exported, forced")
        << "" << true << true << "erasing 8 records that no complete export has saved, as forced";
    // An export vouches for one erase: a new dive of as many records needs its own.
    QTest::newRow("erased, as many records logged since")
        << "export,erase,dive" << false << false << " was spent by the erase of ";
    QTest::newRow("a file changed in place")
        << "export,edit" << false << false << " has changed since (XXH64 ";
    // A count that is no count of records is never taken for an empty unit.
    QTest::newRow("count negative")
        << "export,count -79" << false << false << "record count could not be read";
    QTest::newRow("count no number, forced")
        << "count many" << true << true
        << "erasing a unit whose record count could not be read, as forced";
}

void TestDataExport::eraseGate()
{
    QFETCH(QString, before);
    QFETCH(bool, force);
    QFETCH(bool, erased);
    QFETCH(QString, why);
    sim->setDatasets(before == "empty" ? 0 : 2, 3);
    const QString dest = tmp->path();
    for (const QString& step : before.split(',', Qt::SkipEmptyParts)) {
        if (step == "export") {
            QVERIFY(exportTo(dest).last().startsWith("0,2,2,Wrote 8 records to 2 files"));
        } else if (step == "damaged export") {
            sim->setDumpDamage({2}, {});
            QVERIFY(exportTo(dest).last().startsWith("0,2,2,Error: The download stayed"));
            sim->setDumpDamage({}, {}, 0);
        } else if (step == "other unit export") {
            ControllerSimulator other;
            QVERIFY(other.start());
            other.setDatasets(2, 3);
            QVERIFY(exportTo(dest, "other", &other).last().startsWith("0,2,2,Wrote 8 records"));
        } else if (step == "delete") {
            QVERIFY(QFile::remove(dest + '/' + filesIn(dest).first()));
        } else if (step == "dive") {
            sim->setDatasets(2, 3);
        } else if (step == "erase") {
            QCOMPARE(erase(false).last(), QString("0,2,2,Success. Memory erased."));
        } else if (step == "edit") {
            const QString first = dest + '/' + filesIn(dest).first();
            QByteArray bytes = TestSupport::readFile(first);
            bytes[bytes.size() - 3] = bytes.at(bytes.size() - 3) == '1' ? '2' : '1';
            QVERIFY(TestSupport::writeFile(first, bytes));
        } else if (step.startsWith("count ")) {
            sim->setReply("PQVKNUMDUMP",
                          {ControllerSimulator::sentence("PQVKNUMDATA," + step.mid(6).toLatin1())});
        }
    }
    const int holding = sim->recordCount();
    const QStringList files = filesIn(dest);
    sim->clearReceived();

    TestSupport::capturedLog.clear();
    const QStringList reports = erase(force);
    const QStringList warnings = TestSupport::capturedLog.filter(QRegularExpression("^W "));

    const QString count = before.section("count ", 1);
    const QString refused =
        count.isEmpty() || force
            ? QStringLiteral("0,2,2,Error: The unit holds %1 records that no complete export has "
                             "saved. Export them first.")
                  .arg(holding)
            : QStringLiteral("0,2,2,Error erasing memory: Counting records: the unit's record "
                             "count could not be read; it answered \"%1\".")
                  .arg(count);
    QCOMPARE(reports, QStringList({"0,2,1,Erasing memory ...",
                                   erased ? "0,2,2,Success. Memory erased." : refused}));
    QCOMPARE(outcome.value("status").toString(), erased ? "succeeded" : "refused");
    if (!erased)
        QVERIFY(outcome.value("reason").toString().contains(why));
    QCOMPARE(sim->receivedCount("PQVKFORMAT"), erased ? 1 : 0);
    QCOMPARE(sim->recordCount(), erased ? 0 : holding);
    QCOMPARE(filesIn(dest), files); // the erase never touches the exports
    if (why.isEmpty())
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    else
        QVERIFY2(warnings.filter(why).size() == 1, qPrintable(warnings.join('\n')));
}

QTEST_MAIN(TestDataExport)
#include "tst_dataexport.moc"
