// The controller-unit tasks against the simulator over a pseudo-terminal, and
// the firmware update with the boot-loader stand-in.
#include "base/apppaths.h"
#include "controller/appcontroller.h"
#include "link/pqvkcomms.h"
#include "simulator/controllersimulator.h"
#include "support/testsupport.h"

#include <QtTest>

#include <cmath>

namespace {

const char* const clockFormat = "yyyy-MM-dd hh:mm:ss";
const QByteArray header =
    "Number,Id,Datetime,Timestamp,Runtime,Type,Depth,Temperature,Heading,Roll,Pitch\r\n";

// "from,to,value,text" per report of a progress signal.
QStringList texts(const QSignalSpy& spy)
{
    QStringList result;
    for (const QList<QVariant>& r : spy)
        result << QStringLiteral("%1,%2,%3,%4")
                      .arg(r.at(0).toInt())
                      .arg(r.at(1).toInt())
                      .arg(r.at(2).toInt())
                      .arg(r.at(3).toString());
    return result;
}

// The fields of a received command, without its name and checksum.
QString receivedFields(const ControllerSimulator& sim, const QString& name)
{
    const QString command = sim.receivedCommands().filter("$" + name + ",").value(0);
    const int comma = command.indexOf(',');
    return command.mid(comma + 1, command.indexOf('*') - comma - 1);
}

qint64 at(int hour, int minute, int second)
{
    return QDateTime(QDate(2024, 3, 5), QTime(hour, minute, second)).toSecsSinceEpoch();
}

QString local(qint64 seconds, const char* format)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(format);
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

// On this thread, so the unit's relayed messages keep their place among the reports.
void exportTo(AppController& controller, const QString& port, const QString& dest,
              const QString& project)
{
    QVERIFY(QMetaObject::invokeMethod(&controller, "copyDataWorker", Qt::DirectConnection,
                                      Q_ARG(QString, port), Q_ARG(QString, dest),
                                      Q_ARG(QString, project)));
}

} // namespace

class TestControllerTasks : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void read_data();
    void read();
    void save_data();
    void save();
    void commands_data();
    void commands();
    void exportFiles_data();
    void exportFiles();
    void exportFails_data();
    void exportFails();
    void firmware_data();
    void firmware();

private:
    std::unique_ptr<ControllerSimulator> sim;
    std::unique_ptr<QTemporaryDir> tmp;
};

void TestControllerTasks::init()
{
    sim = std::make_unique<ControllerSimulator>();
    QVERIFY(sim->start());
    tmp = std::make_unique<QTemporaryDir>();
}

void TestControllerTasks::cleanup()
{
    QThreadPool::globalInstance()->waitForDone();
    sim.reset();
    tmp.reset();
}

void TestControllerTasks::read_data()
{
    QTest::addColumn<double>("battery");
    QTest::addColumn<QString>("level");
    QTest::addColumn<QList<uint>>("settings"); // LED, video ms, time-lapse ms, minutes[, E1]
    QTest::addColumn<QVariantList>("shown");   // the view's values after the level

    const QList<uint> plain = {1, 1000, 2000, 0, 30};
    const QVariantList plainShown = {1, 1.0, 2, 0, 30};
    QTest::newRow("0.25 s, 1999 ms, E1 0")
        << 3.5 << "10 %" << QList<uint>{1, 250, 1999, 90, 0} << QVariantList{1, 0.25, 1, 90, 29};
    QTest::newRow("no E1 field") << 4.13 << "100 %" << QList<uint>{0, 1500, 5000, 60}
                                 << QVariantList{0, 1.5, 5, 60, 29};
    QTest::newRow("no battery reading") << 0.3 << "-" << plain << plainShown;
    QTest::newRow("just below 10 %") << 3.49 << "Empty" << plain << plainShown;
    QTest::newRow("just below 100 %") << 4.129 << "90 %" << plain << plainShown;
}

void TestControllerTasks::read()
{
    QFETCH(double, battery);
    QFETCH(QString, level);
    QFETCH(QList<uint>, settings);
    QFETCH(QVariantList, shown);
    sim->setBattery(battery);
    sim->setSettings(settings[0], settings[1], settings[2], settings[3], settings.value(4, 30));
    sim->setReportE1(settings.size() == 5);

    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateCameraSettingsProgress);
    QSignalSpy values(&controller, &AppController::updateCameraSettings);
    controller.readCameraSettings(sim->portPath());
    QThreadPool::globalInstance()->waitForDone();

    QCOMPARE(texts(progress),
             QStringList({"0,2,1,Reading settings ...", "0,2,2,Success. Settings read."}));
    QCOMPARE(values.size(), 1);
    QCOMPARE(values.first(),
             QVariantList({"2.4.1", level, local(1600000000, clockFormat)}) + shown);
}

void TestControllerTasks::save_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<double>("videoSeconds");
    QTest::addColumn<double>("timelapseSeconds");
    QTest::addColumn<double>("timeoutMinutes");
    QTest::addColumn<QString>("sent");    // fields of the settings command; LED and E1 as given
    QTest::addColumn<bool>("clockTaken"); // false: the current time is sent instead

    // 2.01 * 1000 and the minutes of "month 13" land a rounding error below a whole number.
    QTest::newRow("0.25 s, 90.9 minutes")
        << "2024-05-06 07:08:09" << 0.25 << 2.01 << 90.9 << "1,250,2010,90,30" << true;
    QTest::newRow("month 13") << "2024-13-06 07:08:09" << 1.9999 << 5.0 << 2.9999999999999996
                              << "0,1999,5000,3,26" << false;
    QTest::newRow("before 1970, negative, not a number")
        << "1969-07-20 20:17:00" << -1.5 << std::nan("") << -3.0 << "1,0,0,0,30" << false;
    QTest::newRow("beyond the unit's clock")
        << "2100-01-01 00:00:00" << 1.0 << 1.0 << 1.0 << "1,1000,1000,1,29" << false;
}

void TestControllerTasks::save()
{
    QFETCH(QString, date);
    QFETCH(double, videoSeconds);
    QFETCH(double, timelapseSeconds);
    QFETCH(double, timeoutMinutes);
    QFETCH(QString, sent);
    QFETCH(bool, clockTaken);

    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateCameraSettingsProgress);
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const QStringList fields = sent.split(',');
    controller.saveCameraSettings(sim->portPath(), date, fields[0].toInt(), videoSeconds,
                                  timelapseSeconds, timeoutMinutes, fields[4].toInt());
    QThreadPool::globalInstance()->waitForDone();
    const qint64 after = QDateTime::currentSecsSinceEpoch();

    QCOMPARE(texts(progress), QStringList{"0,2,2,Success. Settings saved."});
    QCOMPARE(receivedFields(*sim, "PQVKSETSETTINGS"), sent);
    const qint64 clock = receivedFields(*sim, "PQVKSETRTC").toLongLong();
    if (clockTaken)
        QCOMPARE(clock, QDateTime::fromString(date, clockFormat).toSecsSinceEpoch());
    else
        QVERIFY2(clock >= before && clock <= after, qPrintable(QString::number(clock)));
}

void TestControllerTasks::commands_data()
{
    QTest::addColumn<QString>("task");
    QTest::addColumn<QString>("port");       // "sim", "held" by another client, "missing", or empty
    QTest::addColumn<QByteArray>("command"); // the unit answers it four times with `answer`
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("reports");

    const QString onSim = "sim", error = "Communication error. Please try again.";
    const QString reading = "0,2,1,Reading settings ...",
                  resetting = "0,2,1,Resetting controller ...";
    const QString erasing = "0,2,1,Erasing memory ...", turningOff = "0,2,1,Turning off ...";
    const QByteArray busy = "PQVKSTATUS,1600000000,BUSY", none;
    QTest::newRow("read, no answer")
        << "read" << onSim << QByteArray("PQVKGETSETTINGS") << busy
        << QStringList{reading, "0,2,2,Error getting settings: " + error};
    QTest::newRow("read, LED flag out of range")
        << "read" << onSim << QByteArray("PQVKGETSETTINGS")
        << QByteArray("PQVKSETTINGS,-1,1000,5000,60,29")
        << QStringList{reading, "0,2,2,Error getting settings: The unit reported a value out of "
                                "range for the record LED: \"-1\"."};
    QTest::newRow("save, no clock answer") << "save" << onSim << QByteArray("PQVKSETRTC") << busy
                                           << QStringList{"0,2,2,Error saving settings: " + error};
    QTest::newRow("reset") << "reset" << onSim << none << none
                           << QStringList{resetting, "0,2,2,Success. Controller reset."};
    QTest::newRow("reset, no answer")
        << "reset" << onSim << QByteArray("PQVKFACTORYSETTINGS") << busy
        << QStringList{resetting, "0,2,2,Error resetting controller: " + error};
    QTest::newRow("erase") << "erase" << onSim << none << none
                           << QStringList{erasing, "0,2,2,Success. Memory erased."};
    // "COMPLETE" with anything behind it is no completion.
    QTest::newRow("erase not completed")
        << "erase" << onSim << QByteArray("PQVKFORMAT")
        << QByteArray("PQVKMSG,1600000000,PQVKFORMAT,FORMAT,COMPLETED")
        << QStringList{erasing, "0,2,2,Error erasing memory: " + error};
    QTest::newRow("off") << "off" << onSim << none << none
                         << QStringList{turningOff, "0,2,2,Success. Controller is off"};
    QTest::newRow("off refused") << "off" << onSim << QByteArray("PQVKOFF")
                                 << QByteArray("PQVKMSG,1600000000,PQVKOFF,BUSY,WAIT")
                                 << QStringList{turningOff, "0,2,2,Error turning off: " + error};
    const char* tasks[] = {"read", "save", "reset", "export", "erase", "off"};
    for (int i = 0; i < 6; ++i) // both reasons a port cannot be opened
        QTest::addRow("%s, port %s", tasks[i], i % 2 ? "held" : "missing")
            << tasks[i] << (i % 2 ? "held" : "missing") << none << none
            << QStringList{"0,1,1,Error: Could not open port PORT."};
    QTest::newRow("off, empty port") << "off" << QString() << none << none << QStringList();
}

void TestControllerTasks::commands()
{
    QFETCH(QString, task);
    QFETCH(QString, port);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, reports);
    const QString path = port == "missing" ? tmp->path() + "/none"
                         : port.isEmpty()  ? ""
                                           : sim->portPath();
    PQVKComms holder; // the port is opened exclusively
    if (port == "held")
        QVERIFY(holder.open(path));
    const QByteArray line = ControllerSimulator::sentence(answer);
    if (!command.isEmpty())
        sim->setReply(command, {line, line, line, line});
    sim->setDatasets(1, 3);

    AppController controller;
    QSignalSpy settingsProgress(&controller, &AppController::updateCameraSettingsProgress);
    QSignalSpy dataProgress(&controller, &AppController::updateDataProgress);
    QSignalSpy values(&controller, &AppController::updateCameraSettings);
    if (task == "read")
        controller.readCameraSettings(path);
    else if (task == "save")
        controller.saveCameraSettings(path, "2024-05-06 07:08:09", 1, 0.5, 2, 30, 30);
    else if (task == "reset")
        controller.resetCameraSettings(path);
    else if (task == "export")
        controller.copyData(path, tmp->path(), QString());
    else if (task == "erase")
        controller.eraseMemory(path);
    else
        controller.turnOff(path);
    QThreadPool::globalInstance()->waitForDone();

    QCOMPARE(texts(settingsProgress) + texts(dataProgress), reports.replaceInStrings("PORT", path));
    QCOMPARE(values.size(), 0);
    QCOMPARE(sim->receivedCommands().isEmpty(), port != "sim");
    if (port == "sim" && task == "off")
        QCOMPARE(controller.port(), QString()); // either way no second power-off at exit
}

void TestControllerTasks::exportFiles_data()
{
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<QString>("project");
    QTest::addColumn<QVariantMap>("before"); // files of an earlier export
    QTest::addColumn<QVariantMap>("files");  // name -> exact bytes
    QTest::addColumn<QString>("warning");

    // Readings in general format with six significant digits.
    const QByteArray readingsA = "12.5,3,1000000,-1.5,2.25", rowA = "12.5,3,1e+06,-1.5,2.25";
    const QByteArray readingsB = "0.0001,20.25,359,0,-0.00001", rowB = "0.0001,20.25,359,0,-1e-05";
    const QByteArray readingsC = "1,2,3,4,5";

    const qint64 s1 = at(14, 7, 42), s2 = at(16, 0, 0);
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

    // Neither dataset of one minute may swallow the other; an earlier export's file is replaced.
    const qint64 early = at(14, 7, 5), late = at(14, 7, 50);
    QTest::newRow("same minute")
        << QList<QByteArray>{record(1, 1, early, readingsC), record(2, 10, early + 1, readingsA),
                             record(3, 1, late, readingsC), record(4, 18, late + 3, readingsB)}
        << "" << QVariantMap{{"vazizidadu_20240305-140700.csv", QByteArray("old export\r\n")}}
        << QVariantMap{{"vazizidadu_20240305-140700.csv", header + row(1, 2, early, 1, 'v', rowA)},
                       {"vazizidadu_20240305-140700-2.csv", header + row(1, 4, late, 3, 'p', rowB)}}
        << "";

    const qint64 wrap = (s1 | 0xFFFF) - 5; // the low 16 bits wrap after the start
    QTest::newRow("16-bit wrap")
        << QList<QByteArray>{record(7, 1, wrap, readingsC), record(8, 10, wrap + 3, readingsA),
                             record(9, 10, wrap + 20, readingsA)}
        << "" << QVariantMap()
        << QVariantMap{{"vazizidadu_" + local(wrap, "yyyyMMdd-hhmm") + "00.csv",
                        header + row(1, 8, wrap, 3, 'v', rowA) + row(2, 9, wrap, 20, 'v', rowA)}}
        << "";

    QTest::newRow("records before the first start")
        << QList<QByteArray>{record(4, 10, s1 - 9, readingsA), record(5, 18, s1 - 8, readingsA),
                             record(6, 1, s1, readingsC), record(7, 10, s1 + 2, readingsA)}
        << "" << QVariantMap()
        << QVariantMap{{"vazizidadu_20240305-140700.csv", header + row(1, 7, s1, 2, 'v', rowA)}}
        << "2 records before the first dataset start";
}

void TestControllerTasks::exportFiles()
{
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QString, project);
    QFETCH(QVariantMap, before);
    QFETCH(QVariantMap, files);
    QFETCH(QString, warning);
    const QString dest = tmp->path();
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QVERIFY(TestSupport::writeFile(dest + '/' + it.key(), it.value().toByteArray()));
    sim->setRecordLines(lines);
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));

    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateDataProgress);
    exportTo(controller, sim->portPath(), dest, project);

    QStringList expected = {"0,2,1,Counting datasets ..."};
    for (const QByteArray& line : lines) // the unit's messages, relayed in their place
        expected << QStringLiteral("0,2,1,Reading dataset %1 of %2")
                        .arg(line.split(',').at(1).toInt())
                        .arg(lines.size());
    expected << QStringLiteral("0,2,1,Reading %1 datasets ...").arg(lines.size())
             << QStringLiteral("0,2,2,Wrote %1 records to %2 files in %3")
                    .arg(lines.size())
                    .arg(files.size())
                    .arg(dest);
    QCOMPARE(texts(progress), expected);
    // Exactly these files, complete, and no temporary leftovers.
    QCOMPARE(QDir(dest).entryList(QDir::Files | QDir::Hidden, QDir::Name), files.keys());
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QCOMPARE(TestSupport::readFile(dest + '/' + it.key()), it.value().toByteArray());
}

void TestControllerTasks::exportFails_data()
{
    QTest::addColumn<QString>("dest"); // "@" is the test's folder
    QTest::addColumn<int>("datasets"); // of three records each; -1: the unit vanishes mid-download
    QTest::addColumn<QString>("project");
    QTest::addColumn<QString>("report"); // the last report starts so; "0,1,1," ones are the only

    const QString badName = "0,1,1,Error: Invalid project name", noName;
    QTest::newRow("no destination")
        << "" << 1 << noName << "0,1,1,Error: Please choose destination";
    QTest::newRow("parent folder") << "@" << 1 << "../up" << badName;
    QTest::newRow("slash") << "@" << 1 << "a/b" << badName;
    QTest::newRow("backslash") << "@" << 1 << "a\\b" << badName;
    QTest::newRow("colon") << "@" << 1 << "a:b" << badName;
    QTest::newRow("empty memory") << "@" << 0 << noName << "0,2,2,No records available.";
    QTest::newRow("download fails") << "@" << -1 << noName << "0,2,2,Error reading data: ";
    // The unit holds records but never answers the count: no "No records available."
    QTest::newRow("count unanswered")
        << "@" << -2 << noName << "0,2,2,Error: Could not read available data.";
    QTest::newRow("missing folder")
        << "@/missing" << 2 << noName << "0,2,2,Wrote 8 records to 0 files in @/missing";
}

void TestControllerTasks::exportFails()
{
    QFETCH(QString, dest);
    QFETCH(int, datasets);
    QFETCH(QString, project);
    QFETCH(QString, report);
    dest.replace('@', tmp->path());
    report.replace('@', tmp->path());
    sim->setDatasets(datasets < 0 ? 2 : datasets, 3);
    if (datasets == -1)
        sim->setVanishAfter(4);
    if (datasets == -2) {
        const QByteArray unrelated = ControllerSimulator::sentence("PQVKSTATUS,0,IDLE");
        sim->setReply("PQVKNUMDUMP", {unrelated, unrelated, unrelated, unrelated});
    }

    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateDataProgress);
    exportTo(controller, sim->portPath(), dest, project);

    const QStringList reports = texts(progress);
    QVERIFY2(!reports.isEmpty() && reports.last().startsWith(report),
             qPrintable(reports.join('\n')));
    if (report.startsWith("0,1,1,")) {
        QCOMPARE(reports.size(), 1);
        QVERIFY(sim->receivedCommands().isEmpty());
    }
    QVERIFY(QDir(tmp->path()).isEmpty()); // no file, no folder, no half dataset
}

void TestControllerTasks::firmware_data()
{
    QTest::addColumn<bool>("installed"); // the boot-loader is in the utilities folder
    QTest::addColumn<QString>("file");   // as the view passes it; "@" is the test's folder
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("reports");

    const QByteArray hex = ":10010000214601360121470136007EFE09D2190140\r\n"
                           ":100110002146017E17C20001FF5F16002148011928\r\n"
                           ":00000001FF\r\n";
    QByteArray badChecksum = hex;
    badChecksum.replace("0140\r\n", "0141\r\n");
    const QString started = "0,2,1,Firmware update started";
    const QString error = "0,2,2,Error updating firmware.";
    QTest::newRow("bare name") << true << "fw.hex" << hex << QStringList{started, "0,2,2,Done"};
    QTest::newRow("absolute path")
        << true << "@/stick/new.hex" << hex << QStringList{started, "0,2,2,Done"};
    QTest::newRow("bad checksum") << true << "fw.hex" << badChecksum << QStringList{started, error};
    QTest::newRow("no boot-loader")
        << false << "fw.hex" << hex << QStringList{"0,2,1,Firmware update failed to start", error};
}

void TestControllerTasks::firmware()
{
    QFETCH(bool, installed);
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, reports);
    const QString appDir = tmp->path() + "/app";
    resetPathCaches();
    updateAppDirPath(appDir + "/VazizidADU");
    if (installed) {
        QVERIFY(QDir().mkpath(appDir + "/utilities"));
        QVERIFY(QFile::copy(PQVK_BOOTLOADER_STANDIN, appDir + "/utilities/bootloader"));
    }
    // A bare name is looked for in the firmware folder.
    file.replace('@', tmp->path());
    QVERIFY(TestSupport::writeFile(QDir(appDir + "/firmware").absoluteFilePath(file), content));
    // Slower than one wait slice of the task, which runs no event loop.
    qputenv("BOOTLOADER_STANDIN_DELAY_MS", "150");

    // The stand-in exits 2 unless "-p COM3" arrives as one argument.
    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateFirmwareProgress);
    QVERIFY(QMetaObject::invokeMethod(&controller, "updateFirmwareWorker", Qt::DirectConnection,
                                      Q_ARG(QString, "COM3"), Q_ARG(QString, file)));
    QCOMPARE(texts(progress), reports);
    resetPathCaches();
}

QTEST_MAIN(TestControllerTasks)
#include "tst_controllertasks.moc"
