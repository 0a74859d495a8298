// Data export, memory erase and power-off against the controller-unit
// simulator over a pseudo-terminal.
#include "appcontroller.h"
#include "controllersimulator.h"
#include "pqvkcomms.h"
#include "taskreports.h"
#include "testsupport.h"

#include <QtTest>

using TaskReports::LogCapture;
using TaskReports::texts;

namespace {

const QByteArray header =
    "Number,Id,Datetime,Timestamp,Runtime,Type,Depth,Temperature,Heading,Roll,Pitch\r\n";

qint64 localSeconds(int hour, int minute, int second)
{
    return QDateTime(QDate(2024, 3, 5), QTime(hour, minute, second), Qt::LocalTime)
        .toSecsSinceEpoch();
}

QString localText(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::LocalTime)
        .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString nameStamp(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::LocalTime)
        .toString(QStringLiteral("yyyyMMdd-hhmm"));
}

// A record sentence as the unit sends it; the timestamp field of a record
// that is not a start record carries only the low 16 bits.
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
               .arg(localText(start + runtime))
               .arg(start + runtime)
               .arg(runtime)
               .arg(QLatin1Char(type))
               .toLatin1() +
           readings + "\r\n";
}

QStringList relayedReadings(const QList<QByteArray>& lines)
{
    QStringList result;
    for (const QByteArray& line : lines)
        result << QStringLiteral("0,2,1,Reading dataset %1 of %2")
                      .arg(line.split(',').at(1).toInt())
                      .arg(lines.size());
    return result;
}

} // namespace

class TestDataTasks : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void exportFiles_data();
    void exportFiles();
    void refusedBeforeTraffic_data();
    void refusedBeforeTraffic();
    void exportWithoutRecords();
    void exportDownloadFails();
    void exportIntoMissingFolder();
    void erase_data();
    void erase();
    void turnOff_data();
    void turnOff();
    void turnOffTaskClearsPort();
    void portUnavailable_data();
    void portUnavailable();

private:
    void invoke(AppController& controller, const char* worker, const QString& port);
    std::unique_ptr<ControllerSimulator> sim;
    std::unique_ptr<QTemporaryDir> tmp;
};

void TestDataTasks::init()
{
    sim = std::make_unique<ControllerSimulator>();
    QVERIFY(sim->start());
    tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp->isValid());
}

void TestDataTasks::cleanup()
{
    QThreadPool::globalInstance()->waitForDone();
    sim.reset();
    tmp.reset();
}

void TestDataTasks::invoke(AppController& controller, const char* worker, const QString& port)
{
    QVERIFY(
        QMetaObject::invokeMethod(&controller, worker, Qt::DirectConnection, Q_ARG(QString, port)));
    QCoreApplication::processEvents();
}

void TestDataTasks::exportFiles_data()
{
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<QString>("project");
    QTest::addColumn<QVariantMap>("before"); // files of an earlier export
    QTest::addColumn<QVariantMap>("files");  // name -> exact bytes
    QTest::addColumn<QString>("warning");

    // Readings in general format with six significant digits.
    const QByteArray readingsA = "12.5,3,1000000,-1.5,2.25";
    const QByteArray rowA = "12.5,3,1e+06,-1.5,2.25";
    const QByteArray readingsB = "0.0001,20.25,359,0,-0.00001";
    const QByteArray rowB = "0.0001,20.25,359,0,-1e-05";
    const QByteArray readingsC = "1,2,3,4,5";

    const qint64 s1 = localSeconds(14, 7, 42);
    const qint64 s2 = localSeconds(16, 0, 0);
    const QList<QByteArray> twoDatasets = {
        record(10, 1, s1, readingsC),      record(11, 10, s1 + 2, readingsA),
        record(12, 18, s1 + 4, readingsB), record(13, 1, s2, readingsC),
        record(15, 10, s2 + 7, readingsC),
    };
    const QByteArray first = header + row(1, 11, s1, 2, 'v', rowA) + row(2, 12, s1, 4, 'p', rowB);
    const QByteArray second = header + row(2, 15, s2, 7, 'v', readingsC);

    QTest::newRow("two datasets") << twoDatasets << "" << QVariantMap()
                                  << QVariantMap{{"vazizidadu_20240305-140700.csv", first},
                                                 {"vazizidadu_20240305-160000.csv", second}}
                                  << "";
    QTest::newRow("with project") << twoDatasets << "Reef" << QVariantMap()
                                  << QVariantMap{{"vazizidadu_Reef_20240305-140700.csv", first},
                                                 {"vazizidadu_Reef_20240305-160000.csv", second}}
                                  << "";

    // Both start in 14:07: neither file may swallow the other; the file of
    // an earlier export under the same name is replaced.
    const qint64 early = localSeconds(14, 7, 5);
    const qint64 late = localSeconds(14, 7, 50);
    QTest::newRow("same minute")
        << QList<QByteArray>{record(1, 1, early, readingsC), record(2, 10, early + 1, readingsA),
                             record(3, 1, late, readingsC), record(4, 18, late + 3, readingsB)}
        << "" << QVariantMap{{"vazizidadu_20240305-140700.csv", QByteArray("old export\r\n")}}
        << QVariantMap{{"vazizidadu_20240305-140700.csv", header + row(1, 2, early, 1, 'v', rowA)},
                       {"vazizidadu_20240305-140700-2.csv", header + row(1, 4, late, 3, 'p', rowB)}}
        << "";

    // The record's low 16 bits have wrapped since the start: it still comes
    // after its start.
    const qint64 wrapStart = (s1 | 0xFFFF) - 5;
    QTest::newRow("16-bit wrap") << QList<QByteArray>{record(7, 1, wrapStart, readingsC),
                                                      record(8, 10, wrapStart + 3, readingsA),
                                                      record(9, 10, wrapStart + 20, readingsA)}
                                 << "" << QVariantMap()
                                 << QVariantMap{{"vazizidadu_" + nameStamp(wrapStart) + "00.csv",
                                                 header + row(1, 8, wrapStart, 3, 'v', rowA) +
                                                     row(2, 9, wrapStart, 20, 'v', rowA)}}
                                 << "";

    QTest::newRow("records before the first start")
        << QList<QByteArray>{record(4, 10, s1 - 9, readingsA), record(5, 18, s1 - 8, readingsA),
                             record(6, 1, s1, readingsC), record(7, 10, s1 + 2, readingsA)}
        << "" << QVariantMap()
        << QVariantMap{{"vazizidadu_20240305-140700.csv", header + row(1, 7, s1, 2, 'v', rowA)}}
        << "2 records before the first dataset start";
}

void TestDataTasks::exportFiles()
{
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QString, project);
    QFETCH(QVariantMap, before);
    QFETCH(QVariantMap, files);
    QFETCH(QString, warning);
    const QString dest = tmp->path() + "/out";
    QVERIFY(QDir().mkpath(dest));
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QVERIFY(TestSupport::writeFile(dest + '/' + it.key(), it.value().toByteArray()));
    sim->setRecordLines(lines);

    LogCapture log;
    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateDataProgress);
    QVERIFY(QMetaObject::invokeMethod(&controller, "copyDataWorker", Qt::DirectConnection,
                                      Q_ARG(QString, sim->portPath()), Q_ARG(QString, dest),
                                      Q_ARG(QString, project)));
    QCoreApplication::processEvents();

    const QStringList expected =
        QStringList{"0,2,1,Counting datasets ..."} + relayedReadings(lines) +
        QStringList{QStringLiteral("0,2,1,Reading %1 datasets ...").arg(lines.size()),
                    QStringLiteral("0,2,2,Wrote %1 records to %2 files in %3")
                        .arg(lines.size())
                        .arg(files.size())
                        .arg(dest)};
    QCOMPARE(texts(progress), expected);

    // Exactly the expected files, complete, and no temporary leftovers.
    QStringList written = QDir(dest).entryList(QDir::Files | QDir::Hidden);
    written.sort();
    QCOMPARE(written, files.keys());
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QCOMPARE(TestSupport::readFile(dest + '/' + it.key()), it.value().toByteArray());
    if (!warning.isEmpty())
        QVERIFY2(log.contains(warning), qPrintable(log.all().join('\n')));
}

void TestDataTasks::refusedBeforeTraffic_data()
{
    QTest::addColumn<QString>("dest");
    QTest::addColumn<QString>("project");
    QTest::addColumn<QString>("report");
    QTest::newRow("no destination") << ""
                                    << ""
                                    << "Error: Please choose destination";
    QTest::newRow("parent folder") << "@"
                                   << "../up"
                                   << "Error: Invalid project name";
    QTest::newRow("slash") << "@"
                           << "a/b"
                           << "Error: Invalid project name";
    QTest::newRow("backslash") << "@"
                               << "a\\b"
                               << "Error: Invalid project name";
    QTest::newRow("colon") << "@"
                           << "a:b"
                           << "Error: Invalid project name";
    QTest::newRow("only blanks") << "@"
                                 << "  "
                                 << "Error: Invalid project name";
}

void TestDataTasks::refusedBeforeTraffic()
{
    QFETCH(QString, dest);
    QFETCH(QString, project);
    QFETCH(QString, report);
    dest.replace('@', tmp->path());
    sim->setDatasets(1, 3);
    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateDataProgress);
    QVERIFY(QMetaObject::invokeMethod(&controller, "copyDataWorker", Qt::DirectConnection,
                                      Q_ARG(QString, sim->portPath()), Q_ARG(QString, dest),
                                      Q_ARG(QString, project)));
    QCoreApplication::processEvents();
    QCOMPARE(texts(progress), QStringList{"0,1,1," + report});
    QTest::qWait(100);
    QVERIFY(sim->receivedCommands().isEmpty());
    QVERIFY(QDir(tmp->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

void TestDataTasks::exportWithoutRecords()
{
    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateDataProgress);
    QVERIFY(QMetaObject::invokeMethod(&controller, "copyDataWorker", Qt::DirectConnection,
                                      Q_ARG(QString, sim->portPath()), Q_ARG(QString, tmp->path()),
                                      Q_ARG(QString, QString())));
    QCoreApplication::processEvents();
    QCOMPARE(texts(progress),
             QStringList({"0,2,1,Counting datasets ...", "0,2,2,No records available."}));
    QCOMPARE(sim->receivedCount("PQVKDUMP"), 0);
}

void TestDataTasks::exportDownloadFails()
{
    // The unit vanishes mid-download: that is no empty memory, and no half
    // dataset is written.
    sim->setDatasets(2, 5);
    sim->setVanishAfter(4);
    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateDataProgress);
    QVERIFY(QMetaObject::invokeMethod(&controller, "copyDataWorker", Qt::DirectConnection,
                                      Q_ARG(QString, sim->portPath()), Q_ARG(QString, tmp->path()),
                                      Q_ARG(QString, QString())));
    QCoreApplication::processEvents();
    const QStringList reports = texts(progress);
    QVERIFY(!reports.isEmpty());
    QVERIFY2(reports.last().startsWith("0,2,2,Error reading data: "), qPrintable(reports.last()));
    QVERIFY(!reports.contains("0,2,2,No records available."));
    QVERIFY(QDir(tmp->path()).entryList(QDir::Files).isEmpty());
}

void TestDataTasks::exportIntoMissingFolder()
{
    sim->setDatasets(2, 3);
    const QString dest = tmp->path() + "/missing";
    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateDataProgress);
    QVERIFY(QMetaObject::invokeMethod(&controller, "copyDataWorker", Qt::DirectConnection,
                                      Q_ARG(QString, sim->portPath()), Q_ARG(QString, dest),
                                      Q_ARG(QString, QString())));
    QCoreApplication::processEvents();
    QCOMPARE(texts(progress).last(), "0,2,2,Wrote 8 records to 0 files in " + dest);
    QVERIFY(!QFileInfo::exists(dest));
}

void TestDataTasks::erase_data()
{
    QTest::addColumn<QList<QByteArray>>("reply"); // empty: the unit's own answer
    QTest::addColumn<QStringList>("reports");
    QTest::addColumn<int>("recordsLeft");
    QTest::newRow("erased") << QList<QByteArray>()
                            << QStringList{"0,2,1,Erasing memory ...",
                                           "0,2,2,Success. Memory erased."}
                            << 0;
    // "COMPLETE" with anything behind it is no completion.
    const QByteArray notComplete =
        ControllerSimulator::sentence("PQVKMSG,1600000000,PQVKFORMAT,FORMAT,COMPLETED");
    QTest::newRow("no completion")
        << QList<QByteArray>{notComplete, notComplete, notComplete, notComplete}
        << QStringList{"0,2,1,Erasing memory ...",
                       "0,2,2,Error erasing memory: Communication error. Please try again."}
        << 4;
}

void TestDataTasks::erase()
{
    QFETCH(QList<QByteArray>, reply);
    QFETCH(QStringList, reports);
    QFETCH(int, recordsLeft);
    sim->setDatasets(1, 3);
    if (!reply.isEmpty())
        sim->setReply("PQVKFORMAT", reply);
    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateDataProgress);
    invoke(controller, "eraseMemoryWorker", sim->portPath());
    QCOMPARE(texts(progress), reports);
    if (reply.isEmpty())
        QCOMPARE(sim->recordCount(), recordsLeft);
    QCOMPARE(sim->receivedCount("PQVKFORMAT"), 1);
}

void TestDataTasks::turnOff_data()
{
    QTest::addColumn<QList<QByteArray>>("reply");
    QTest::addColumn<QStringList>("reports");
    QTest::newRow("off") << QList<QByteArray>()
                         << QStringList{"0,2,1,Turning off ...",
                                        "0,2,2,Success. Controller is off"};
    const QByteArray busy = ControllerSimulator::sentence("PQVKMSG,1600000000,PQVKOFF,BUSY,WAIT");
    QTest::newRow("refused") << QList<QByteArray>{busy, busy, busy, busy}
                             << QStringList{"0,2,1,Turning off ...",
                                            "0,2,2,Error turning off: Communication error. "
                                            "Please try again."};
}

void TestDataTasks::turnOff()
{
    QFETCH(QList<QByteArray>, reply);
    QFETCH(QStringList, reports);
    if (!reply.isEmpty())
        sim->setReply("PQVKOFF", reply);
    AppController controller;
    controller.setPort(sim->portPath());
    QSignalSpy progress(&controller, &AppController::updateDataProgress);
    invoke(controller, "turnOffWorker", sim->portPath());
    QCOMPARE(texts(progress), reports);
    // Either way the power-off at exit is not repeated.
    QCOMPARE(controller.port(), QString());
    QCOMPARE(sim->receivedCount("PQVKOFF"), 1);
}

void TestDataTasks::turnOffTaskClearsPort()
{
    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateDataProgress);
    controller.turnOff(sim->portPath());
    QCOMPARE(controller.port(), sim->portPath());
    QTRY_COMPARE_WITH_TIMEOUT(progress.size(), 2, 20000);
    QThreadPool::globalInstance()->waitForDone();
    QCOMPARE(controller.port(), QString());
    QCOMPARE(texts(progress).last(), QStringLiteral("0,2,2,Success. Controller is off"));
}

void TestDataTasks::portUnavailable_data()
{
    QTest::addColumn<QString>("worker");
    QTest::addColumn<bool>("held"); // true: another client holds the simulator's port
    const char* workers[] = {"copyDataWorker", "eraseMemoryWorker", "turnOffWorker"};
    for (const char* worker : workers) {
        QTest::addRow("%s, no such port", worker) << worker << false;
        QTest::addRow("%s, port held", worker) << worker << true;
    }
    QTest::addRow("turnOffWorker, empty port") << "turnOffWorker" << false;
}

void TestDataTasks::portUnavailable()
{
    QFETCH(QString, worker);
    QFETCH(bool, held);
    const bool emptyPort = QString(QTest::currentDataTag()).endsWith("empty port");
    const QString port = emptyPort ? QString()
                         : held    ? sim->portPath()
                                   : tmp->path() + "/no-such-port";
    // The port is opened exclusively: a second task on it must not get through.
    PQVKComms holder;
    if (held)
        QVERIFY(holder.open(port));
    sim->setDatasets(1, 2);
    AppController controller;
    controller.setPort("COM7");
    QSignalSpy progress(&controller, &AppController::updateDataProgress);
    if (worker == "copyDataWorker")
        QVERIFY(QMetaObject::invokeMethod(&controller, "copyDataWorker", Qt::DirectConnection,
                                          Q_ARG(QString, port), Q_ARG(QString, tmp->path()),
                                          Q_ARG(QString, QString())));
    else
        invoke(controller, qPrintable(worker), port);
    QCoreApplication::processEvents();

    if (emptyPort)
        QCOMPARE(texts(progress), QStringList());
    else
        QCOMPARE(texts(progress),
                 QStringList{QStringLiteral("0,1,1,Error: Could not open port %1.").arg(port)});
    QTest::qWait(100);
    QVERIFY(sim->receivedCommands().isEmpty());
    QCOMPARE(controller.port(), QStringLiteral("COM7")); // left as it was
}

QTEST_MAIN(TestDataTasks)
#include "tst_datatasks.moc"
