// The controller-unit tasks against the simulator over a pseudo-terminal, and
// the firmware update with the boot-loader stand-in. Runs in a zone with
// daylight saving (see tasks.cmake): the clock travels in local time.
#include "base/apppaths.h"
#include "controller/appcontroller.h"
#include "link/pqvkcomms.h"
#include "link/unitwaits.h"
#include "simulator/controllersimulator.h"
#include "support/testsupport.h"

#include <QtTest>

#include <cmath>
#include <ctime>

namespace {

const auto texts = TestSupport::progressTexts;

const char* const clockFormat = "yyyy-MM-dd hh:mm:ss";

// The fields of a received command, without its name and checksum.
QString receivedFields(const ControllerSimulator& sim, const QString& name)
{
    const QString command = sim.receivedCommands().filter("$" + name + ",").value(0);
    const int comma = command.indexOf(',');
    return command.mid(comma + 1, command.indexOf('*') - comma - 1);
}

// Runs a task to its end on this thread, on `given` or a controller of its
// own; the reports of its progress signals.
QStringList runTask(const QString& task, const QString& port, const QString& dest,
                    AppController* given = nullptr)
{
    AppController own;
    AppController& controller = given ? *given : own;
    QSignalSpy settingsProgress(&controller, &AppController::updateCameraSettingsProgress);
    QSignalSpy dataProgress(&controller, &AppController::updateDataProgress);
    if (task == "read")
        controller.readCameraSettings(port);
    else if (task == "save")
        controller.saveCameraSettings(port, "2024-05-06 07:08:09", 1, 0.5, 5, 30, 30);
    else if (task == "reset")
        controller.resetCameraSettings(port);
    else if (task == "export")
        controller.copyData(port, dest, QString());
    else if (task == "erase")
        controller.eraseMemory(port);
    else
        controller.turnOff(port);
    QThreadPool::globalInstance()->waitForDone();
    return texts(settingsProgress) + texts(dataProgress);
}

// A settings save: what the view passes, the fields of the settings command
// sent (LED and E1 as given), the clock sent (0: the current time) and why
// nothing is sent (empty: saved).
struct Save
{
    QString date;
    double video, photo, minutes;
    QString sent;
    qint64 clock = 0;
    QString refused = {};
};

// A task against a port: "sim", "held" by another client, "missing", or
// empty; the unit answers `command` four times with `answer`.
struct Command
{
    QString task;
    QStringList reports;
    QByteArray command = {}, answer = {};
    QString port = "sim";
};

// A task against a unit that does not answer: the last report, the command
// asked at most `requests` times, answers that never verify, a command that
// must not go out.
struct Silent
{
    QString task, report;
    QByteArray command;
    int requests;
    bool garbled = false;
    QByteArray never = {};
};

} // namespace

Q_DECLARE_METATYPE(Save)
Q_DECLARE_METATYPE(Command)
Q_DECLARE_METATYPE(Silent)

class TestControllerTasks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The clock travels in local time: a zone with daylight saving shows what
        // UTC would hide (tasks.cmake sets it too).
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QCOMPARE(QDateTime::fromSecsSinceEpoch(1600000000).toString(clockFormat),
                 QStringLiteral("2020-09-13 14:26:40"));
    }

    void init()
    {
        sim = std::make_unique<ControllerSimulator>();
        QVERIFY(sim->start());
        tmp = std::make_unique<QTemporaryDir>();
    }

    void cleanup()
    {
        QThreadPool::globalInstance()->waitForDone();
        sim.reset();
        tmp.reset();
        UnitWaits::setDefaults(UnitWaits());
    }

    void read_data()
    {
        QTest::addColumn<double>("battery");
        QTest::addColumn<QString>("level");
        QTest::addColumn<QList<uint>>("settings"); // LED, video ms, time-lapse ms, minutes[, E1]
        QTest::addColumn<QVariantList>("shown");   // the view's values after the level

        const QList<uint> plain = {1, 1000, 2000, 0, 30};
        const QVariantList plainShown = {1, 1.0, 2, 0, 30};
        QTest::newRow("0.25 s, 1999 ms, E1 0") << 3.5 << "10 %" << QList<uint>{1, 250, 1999, 90, 0}
                                               << QVariantList{1, 0.25, 1, 90, 29};
        QTest::newRow("no E1 field")
            << 4.13 << "100 %" << QList<uint>{0, 1500, 5000, 60} << QVariantList{0, 1.5, 5, 60, 29};
        QTest::newRow("no battery reading") << 0.3 << "-" << plain << plainShown;
        QTest::newRow("just below 10 %") << 3.49 << "Empty" << plain << plainShown;
        QTest::newRow("just below 100 %") << 4.129 << "90 %" << plain << plainShown;
    }

    void read()
    {
        QFETCH(double, battery);
        QFETCH(QString, level);
        QFETCH(QList<uint>, settings);
        QFETCH(QVariantList, shown);
        sim->setBattery(battery);
        sim->setSettings(settings[0], settings[1], settings[2], settings[3], settings.value(4, 30));
        sim->setReportE1(settings.size() == 5);

        AppController controller;
        QSignalSpy values(&controller, &AppController::updateCameraSettings);
        QCOMPARE(runTask("read", sim->portPath(), {}, &controller),
                 QStringList({"0,2,1,Reading settings ...", "0,2,2,Success. Settings read."}));
        QCOMPARE(values.size(), 1);
        QCOMPARE(values.first(),
                 QVariantList({"2.4.1", level, "2020-09-13 14:26:40"}) + shown); // summer time
    }

    void save_data()
    {
        QTest::addColumn<Save>("save");
        const auto row = [](const char* name, const Save& save) { QTest::newRow(name) << save; };
        const char* may = "2024-05-06 07:08:09";
        // 8.03 * 1000 and the minutes of "month 13" land a rounding error below a whole number.
        row("0.25 s, 90.9 minutes, summer time",
            {may, 0.25, 8.03, 90.9, "1,250,8030,90,30", 1714972089}); // 05:08:09 UTC
        row("winter time", {"2024-12-06 07:08:09", 1.0, 5.0, 60.0, "1,1000,5000,60,29",
                            1733465289}); // 06:08:09 UTC
        row("month 13",
            {"2024-13-06 07:08:09", 1.9999, 5.0, 5.999999999999999, "0,1999,5000,6,26"});
        row("before 1970, the ranges' ends",
            {"1969-07-20 20:17:00", 10.0, 120.0, 360.0, "1,10000,120000,360,30"});
        row("beyond the unit's clock", {"2100-01-01 00:00:00", 0.2, 5.0, 5.0, "1,200,5000,5,29"});
        row("negative", {may, -1.5, 5.0, 5.0, "1,,,,29", 0,
                         "video interval must be a number of seconds from 0.2 to 10"});
        row("not a number", {may, 1.0, std::nan(""), 5.0, "1,,,,29", 0,
                             "photo interval must be a number of seconds from 5 to 120"});
        row("E1 not offered",
            {may, 1.0, 5.0, 5.0, "1,,,,27", 0, "E1 firmware must be 26, 29 or 30, not '27'"});
    }

    void save()
    {
        QFETCH(Save, save);
        AppController controller;
        QSignalSpy progress(&controller, &AppController::updateCameraSettingsProgress);
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        const QStringList fields = save.sent.split(',');
        controller.saveCameraSettings(sim->portPath(), save.date, fields[0].toInt(), save.video,
                                      save.photo, save.minutes, fields[4].toInt());
        QThreadPool::globalInstance()->waitForDone();
        const qint64 after = QDateTime::currentSecsSinceEpoch();

        if (!save.refused.isEmpty()) { // the unit hears nothing
            QCOMPARE(texts(progress), QStringList{"0,2,2,Error saving settings: " + save.refused});
            QCOMPARE(sim->receivedCommands(), QStringList());
            return;
        }
        QCOMPARE(texts(progress), QStringList{"0,2,2,Success. Settings saved."});
        QCOMPARE(receivedFields(*sim, "PQVKSETSETTINGS"), save.sent);
        const qint64 sentClock = receivedFields(*sim, "PQVKSETRTC").toLongLong();
        if (save.clock)
            QCOMPARE(sentClock, save.clock);
        else
            QVERIFY2(sentClock >= before && sentClock <= after,
                     qPrintable(QString::number(sentClock)));
    }

    void commands_data()
    {
        QTest::addColumn<Command>("c");
        const auto row = [](const QString& name, const Command& c) {
            QTest::newRow(qPrintable(name)) << c;
        };
        const QString error = "Communication error. Please try again.";
        const QString reading = "0,2,1,Reading settings ...",
                      resetting = "0,2,1,Resetting controller ...";
        const QString turningOff = "0,2,1,Turning off ...";
        const char* busy = "PQVKSTATUS,1600000000,BUSY";
        row("read, no answer",
            {"read", {reading, "0,2,2,Error getting settings: " + error}, "PQVKGETSETTINGS", busy});
        row("save, no clock answer",
            {"save", {"0,2,2,Error saving settings: " + error}, "PQVKSETRTC", busy});
        row("reset, no answer", {"reset",
                                 {resetting, "0,2,2,Error resetting controller: " + error},
                                 "PQVKFACTORYSETTINGS",
                                 busy});
        row("off", {"off", {turningOff, "0,2,2,Success. Controller is off"}});
        row("off refused", {"off",
                            {turningOff, "0,2,2,Error turning off: " + error},
                            "PQVKOFF",
                            "PQVKMSG,1600000000,PQVKOFF,BUSY,WAIT"});
        const char* tasks[] = {"read", "save", "reset", "export", "erase", "off"};
        for (int i = 0; i < 6; ++i) // both reasons a port cannot be opened
            row(QString("%1, port %2").arg(tasks[i], i % 2 ? "held" : "missing"),
                {tasks[i],
                 {i % 2 ? "0,1,1,Error: Could not open port PORT. It is in use by another task "
                          "of this program."
                        : "0,1,1,Error: Could not open port PORT."},
                 "",
                 "",
                 i % 2 ? "held" : "missing"});
        row("off, empty port", {"off", {}, "", "", ""});
    }

    void commands()
    {
        QFETCH(Command, c);
        const QString path = c.port == "missing" ? tmp->path() + "/none"
                             : c.port.isEmpty()  ? ""
                                                 : sim->portPath();
        PQVKComms holder; // the port is opened exclusively
        if (c.port == "held")
            QVERIFY(holder.open(path));
        const QByteArray line = ControllerSimulator::sentence(c.answer);
        if (!c.command.isEmpty())
            sim->setReply(c.command, {line, line, line, line});

        AppController controller;
        QSignalSpy values(&controller, &AppController::updateCameraSettings);
        QSignalSpy settingsOutcomes(&controller, &AppController::cameraSettingsOutcome);
        QSignalSpy dataOutcomes(&controller, &AppController::dataOutcome);
        const QStringList reports = c.reports.replaceInStrings("PORT", path);
        QCOMPARE(runTask(c.task, path, tmp->path(), &controller), reports);
        // One outcome beside the last report, saying what its text says.
        QStringList statuses;
        for (const QList<QVariant>& outcome : settingsOutcomes + dataOutcomes)
            statuses << outcome.at(0).toMap().value("status").toString();
        QCOMPARE(statuses, reports.isEmpty()                      ? QStringList()
                           : reports.last().contains(",Success.") ? QStringList{"succeeded"}
                                                                  : QStringList{"failed"});
        QCOMPARE(values.size(), 0);
        QCOMPARE(sim->receivedCommands().isEmpty(), c.port != "sim");
        if (c.port == "sim" && c.task == "off")
            QCOMPARE(controller.port(), QString()); // either way no second power-off at exit
    }

    // A port where nothing answers: every task ends with an error that names the
    // port within the silence limit; erase and reset, which have a long wait of
    // their own, are never sent to a unit that does not answer a quick question
    // first; no retry goes on beyond the limit.
    void silentPort_data()
    {
        QTest::addColumn<Silent>("s");
        const auto row = [](const char* name, const Silent& s) { QTest::newRow(name) << s; };
        const QString noAnswer = "Communication error. Please try again.";
        row("read", {"read", "0,2,2,Error getting settings: " + noAnswer, "PQVKVER", 3});
        row("save", {"save", "0,2,2,Error saving settings: " + noAnswer, "PQVKSETRTC", 1});
        row("reset", {"reset", "0,2,2,Error resetting controller: " + noAnswer, "PQVKVER", 3, false,
                      "PQVKFACTORYSETTINGS"});
        row("export", {"export", "0,2,2,Error: Could not read available data. " + noAnswer,
                       "PQVKNUMDUMP", 3});
        row("erase", {"erase", "0,2,2,Error erasing memory: " + noAnswer, "PQVKNUMDUMP", 3, false,
                      "PQVKFORMAT"});
        row("off", {"off", "0,2,2,Error turning off: " + noAnswer, "PQVKOFF", 1});
        // Lines come, but none that verifies: given up as soon as silence would be.
        row("read, only garbled answers",
            {"read", "0,2,2,Error getting settings: " + noAnswer, "PQVKVER", 3, true});
    }

    void silentPort()
    {
        QFETCH(Silent, s);
        // A tenth of a second for 8 s.
        TestSupport::setWaits({{&UnitWaits::answerMs, 100},
                               {&UnitWaits::silenceMs, 250},
                               {&UnitWaits::slowAnswerMs, 400}});
        sim->setGarbleChecksums(s.garbled);
        sim->setSilent(!s.garbled);
        sim->setDatasets(1, 3);

        const QStringList reports = runTask(s.task, sim->portPath(), tmp->path());
        QVERIFY(!reports.isEmpty());
        QCOMPARE(reports.last(), s.report);
        QVERIFY(sim->receivedCount(s.command) >= 1);
        QVERIFY2(sim->receivedCount(s.command) <= s.requests,
                 qPrintable(sim->receivedCommands().join(' ')));
        if (!s.never.isEmpty())
            QCOMPARE(sim->receivedCount(s.never), 0);
        QVERIFY(QDir(tmp->path()).isEmpty());
    }

    // Erase and factory reset answer only when done: they have a long wait of
    // their own, while an ordinary command that answers as late fails.
    void slowAnswers_data()
    {
        QTest::addColumn<QString>("task");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("delay");
        QTest::addColumn<QString>("report");
        const auto row = [](const char* name, const char* task, const char* command, int delay,
                            const char* report) {
            QTest::newRow(name) << QString(task) << QByteArray(command) << delay << QString(report);
        };
        row("erase longer than an answer may take", "erase", "PQVKFORMAT", 600,
            "0,2,2,Success. Memory erased.");
        row("factory reset longer than an answer may take", "reset", "PQVKFACTORYSETTINGS", 600,
            "0,2,2,Success. Controller reset.");
        row("erase beyond its long wait", "erase", "PQVKFORMAT", 2500,
            "0,2,2,Error erasing memory: Communication error. Please try again.");
        row("an ordinary command as late", "off", "PQVKOFF", 600,
            "0,2,2,Error turning off: Communication error. Please try again.");
    }

    void slowAnswers()
    {
        QFETCH(QString, task);
        QFETCH(QByteArray, command);
        QFETCH(int, delay);
        QFETCH(QString, report);
        TestSupport::setWaits({{&UnitWaits::answerMs, 300},
                               {&UnitWaits::silenceMs, 1000},
                               {&UnitWaits::slowAnswerMs, 1500}});
        sim->setAnswerDelay(command, delay);
        QCOMPARE(runTask(task, sim->portPath(), tmp->path()).last(), report);
    }

    // The boot-loader's progress lines move the bar; a boot-loader that falls
    // silent after erasing is stopped at its quiet limit (10 minutes, here
    // 0.6 s; its steps come every 0.15 s).
    void firmware_data()
    {
        QTest::addColumn<QString>("file"); // as the view passes it; "@" is the test's folder
        QTest::addColumn<bool>("stalls");
        QTest::newRow("bare name") << "fw.hex" << false;
        QTest::newRow("absolute path") << "@/stick/new.hex" << false;
        QTest::newRow("boot-loader falls silent") << "fw.hex" << true;
    }

    void firmware()
    {
        QFETCH(QString, file);
        QFETCH(bool, stalls);
        const QString appDir = tmp->path() + "/app";
        resetPathCaches();
        updateAppDirPath(appDir + "/VazizidADU");
        QVERIFY(QDir().mkpath(appDir + "/utilities"));
        QVERIFY(QFile::copy(PQVK_BOOTLOADER_STANDIN, appDir + "/utilities/bootloader"));
        // A bare name is looked for in the firmware folder.
        file.replace('@', tmp->path());
        QVERIFY(TestSupport::writeFile(QDir(appDir + "/firmware").absoluteFilePath(file),
                                       ":10010000214601360121470136007EFE09D2190140\r\n"
                                       ":100110002146017E17C20001FF5F16002148011928\r\n"
                                       ":00000001FF\r\n"));
        // Slower than one wait slice of the task, which runs no event loop.
        qputenv("BOOTLOADER_STANDIN_DELAY_MS", "150");
        if (stalls)
            qputenv("BOOTLOADER_STANDIN_STALL", "1");
        TestSupport::setWaits({{&UnitWaits::bootloaderQuietMs, 600}});

        // The stand-in exits 2 unless "-p COM3" arrives as one argument.
        AppController controller;
        QSignalSpy progress(&controller, &AppController::updateFirmwareProgress);
        QSignalSpy outcomes(&controller, &AppController::firmwareOutcome);
        QVERIFY(QMetaObject::invokeMethod(&controller, "updateFirmwareWorker", Qt::DirectConnection,
                                          Q_ARG(QString, "COM3"), Q_ARG(QString, file)));
        qunsetenv("BOOTLOADER_STANDIN_STALL");
        const QStringList begun{"0,2,1,Firmware update started", "0,102,1,Erasing flash ..."};
        QCOMPARE(texts(progress),
                 begun + (stalls ? QStringList{"0,2,2,Error updating firmware: the boot-loader "
                                               "printed nothing for 0.6 s and was stopped."}
                                 : QStringList{"0,102,50,Writing 50 %", "0,102,100,Writing 100 %",
                                               "0,102,101,Verify OK", "0,2,2,Done"}));
        QCOMPARE(outcomes.size(), 1);
        QCOMPARE(outcomes.first().at(0).toMap().value("status").toString(),
                 stalls ? "failed" : "succeeded");
        resetPathCaches();
    }

private:
    std::unique_ptr<ControllerSimulator> sim;
    std::unique_ptr<QTemporaryDir> tmp;
};

QTEST_MAIN(TestControllerTasks)
#include "tst_controllertasks.moc"
