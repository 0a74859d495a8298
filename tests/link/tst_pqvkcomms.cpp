#include "controllersimulator.h"
#include "pqvkcomms.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QSignalSpy>
#include <QtTest>

#include <thread>

Q_DECLARE_METATYPE(SerialPortEntry)

namespace {

// Every message logged while a test runs, as the log would show it.
QMutex logMutex;
QStringList logged;

void collect(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&logMutex);
    logged.append(message);
}

QStringList takeLog()
{
    QMutexLocker lock(&logMutex);
    QStringList out;
    out.swap(logged);
    return out;
}

int countStarting(const QStringList& lines, const QString& prefix)
{
    int n = 0;
    for (const QString& line : lines)
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}

// Runs one command of the client by its slot name.
bool run(PQVKComms& comms, const QString& command)
{
    if (command == "setTime")
        return comms.setTime(1700000000);
    if (command == "setConfig")
        return comms.setConfig(1700000000, 0, 2000, 6000, 30, 31);
    bool result = false;
    const bool invoked = QMetaObject::invokeMethod(
        &comms, command.toLatin1().constData(), Qt::DirectConnection, Q_RETURN_ARG(bool, result));
    if (!invoked)
        qFatal("no slot %s", qPrintable(command));
    return result;
}

} // namespace

class TestPQVKComms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void openMissingPort();
    void openHeldPort();
    void openAndClose();
    void closedClient_data();
    void closedClient();

    void commands_data();
    void commands();
    void garbledAnswers_data();
    void garbledAnswers();
    void silentUnit();
    void lateAnswer_data();
    void lateAnswer();
    void answerValues();
    void battery_data();
    void battery();
    void e1Field_data();
    void e1Field();
    void exactAnswers_data();
    void exactAnswers();
    void countDataGivesUp();
    void setConfigSetsClockAfterFailedSettings();
    void readConfigRetries();

    void download_data();
    void download();
    void downloadUnanswered();
    void downloadVanishing();

    void lineInTwoPieces();
    void linesBackToBack();
    void writeLineTrims();
    void vanishingDuringRead();

    void deviceEntries_data();
    void deviceEntries();
};

void TestPQVKComms::initTestCase()
{
    qInstallMessageHandler(collect);
}

void TestPQVKComms::init()
{
    takeLog();
}

void TestPQVKComms::openMissingPort()
{
    PQVKComms comms;
    QVERIFY(!comms.open("/dev/no-such-port"));
    QVERIFY(!comms.isOpen());
    QVERIFY(!comms.open("no-such-port"));
    QVERIFY(!comms.open(""));
    const QStringList log = takeLog();
    QCOMPARE(log.first(), QString("Opening port \"/dev/no-such-port\""));
    QCOMPARE(log.count("ERROR: Could not open com port"), 3);
    QVERIFY(comms.lastError.isEmpty());
}

void TestPQVKComms::openHeldPort()
{
    ControllerSimulator sim;
    QVERIFY(sim.start());
    PQVKComms first;
    QVERIFY(first.open(sim.portPath()));
    {
        PQVKComms second;
        QVERIFY(!second.open(sim.portPath()));
        QVERIFY(!second.isOpen());
        QVERIFY(takeLog().contains("ERROR: Could not open com port"));
    }
    {
        // The same device under another name is the same port.
        QTemporaryDir dir;
        const QString link = dir.filePath("controller");
        QVERIFY(QFile::link(sim.portPath(), link));
        PQVKComms second;
        QVERIFY(!second.open(link));
    }
    // The refused clients left the holder's port alone.
    QVERIFY(first.getSettings());
    first.close();
    PQVKComms third;
    QVERIFY(third.open(sim.portPath()));
}

void TestPQVKComms::openAndClose()
{
    ControllerSimulator sim;
    QVERIFY(sim.start());
    PQVKComms comms;
    comms.close();
    QVERIFY(comms.open(sim.portPath()));
    QVERIFY(comms.open(sim.portPath()));
    QVERIFY(comms.isOpen());
    comms.close();
    comms.close();
    QVERIFY(!comms.isOpen());
    QCOMPARE(takeLog(),
             QStringList({"Closing port: Port already closed.",
                          "Opening port \"" + sim.portPath() + "\"",
                          "Opening port \"" + sim.portPath() + "\"", "Port is already open.",
                          "Closing port: Port closed.", "Closing port: Port already closed."}));
}

void TestPQVKComms::closedClient_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("lastError");

    const QString closed = "Please open serial port first.";
    QTest::newRow("getSettings") << "getSettings" << closed;
    QTest::newRow("getVersion") << "getVersion" << closed;
    QTest::newRow("countData") << "countData" << closed;
    // The others learn it from the failed write.
    QTest::newRow("off") << "off" << QString();
    QTest::newRow("eraseData") << "eraseData" << QString();
    QTest::newRow("beep") << "beep" << QString();
}

void TestPQVKComms::closedClient()
{
    QFETCH(QString, command);
    QFETCH(QString, lastError);
    PQVKComms comms;
    QVERIFY(!run(comms, command));
    QCOMPARE(comms.lastError, lastError);
    const QStringList log = takeLog();
    QCOMPARE(countStarting(log, "readLine:"), 0);
    if (lastError.isEmpty())
        QVERIFY(log.contains("writeLine error, bytes don't match."));
    else
        QVERIFY(log.contains('"' + lastError + '"'));
}

void TestPQVKComms::commands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("unrelatedBefore");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<int>("requests");

    struct Command
    {
        const char* slot;
        const char* sent;
    };
    const Command commands[] = {
        {"getSettings", "$PQVKGETSETTINGS*4F"},
        {"eraseData", "$PQVKFORMAT*1F"},
        {"off", "$PQVKOFF*53"},
        {"reboot", "$PQVKREBOOT*1D"},
        {"reset", "$PQVKFACTORYSETTINGS*4D"},
        {"setTime", "$PQVKSETRTC,1700000000*31"},
    };
    for (const Command& c : commands) {
        QTest::addRow("%s answered", c.slot) << c.slot << 0 << true << c.sent << 1;
        QTest::addRow("%s after three others", c.slot) << c.slot << 3 << true << c.sent << 1;
        QTest::addRow("%s after four others", c.slot) << c.slot << 4 << false << c.sent << 1;
    }
    // Two answer sentences: the battery answer must be the fourth line at the latest.
    QTest::newRow("getVersion answered") << "getVersion" << 0 << true << "$PQVKVER*5D" << 1;
    QTest::newRow("getVersion after two others") << "getVersion" << 2 << true << "$PQVKVER*5D" << 1;
    QTest::newRow("getVersion after three others")
        << "getVersion" << 3 << false << "$PQVKVER*5D" << 1;
    QTest::newRow("countData answered") << "countData" << 0 << true << "$PQVKNUMDUMP*46" << 1;
    QTest::newRow("countData after three others")
        << "countData" << 3 << true << "$PQVKNUMDUMP*46" << 1;
    // The first answer comes too late, and is the first line of the second attempt.
    QTest::newRow("countData after four others")
        << "countData" << 4 << true << "$PQVKNUMDUMP*46" << 2;
    QTest::newRow("setConfig answered")
        << "setConfig" << 0 << true << "$PQVKSETSETTINGS,0,2000,6000,30,31*42" << 1;
    QTest::newRow("setConfig after four others")
        << "setConfig" << 4 << false << "$PQVKSETSETTINGS,0,2000,6000,30,31*42" << 1;
}

void TestPQVKComms::commands()
{
    QFETCH(QString, command);
    QFETCH(int, unrelatedBefore);
    QFETCH(bool, succeeds);
    QFETCH(QString, sent);
    QFETCH(int, requests);

    ControllerSimulator sim;
    sim.setUnrelatedBefore(unrelatedBefore);
    QVERIFY(sim.start());
    PQVKComms comms;
    comms.commandWaitMs = 300; // only reached by a failing row
    QVERIFY(comms.open(sim.portPath()));
    QCOMPARE(run(comms, command), succeeds);
    // A success after a failed attempt keeps the attempt's text, as the unit's tasks expect.
    QCOMPARE(comms.lastError, succeeds && requests == 1
                                  ? QString()
                                  : QString("Communication error. Please try again."));
    QVERIFY(!sim.receivedCommands().isEmpty());
    QCOMPARE(sim.receivedCommands().first(), sent);
    // The last request may still be on its way to the unit.
    const QByteArray name = sent.mid(1, sent.indexOf(QRegularExpression("[,*]")) - 1).toLatin1();
    QTRY_COMPARE_WITH_TIMEOUT(sim.receivedCount(name), requests, 2000);
    const QStringList log = takeLog();
    QVERIFY(log.contains("writeLine: \"" + sent + "\""));
    if (!succeeds)
        QVERIFY(log.contains("\"Communication error. Please try again.\""));
}

void TestPQVKComms::garbledAnswers_data()
{
    QTest::addColumn<QString>("command");
    for (const char* c : {"getSettings", "getVersion", "countData", "eraseData", "off", "reboot",
                          "reset", "setTime", "setConfig"})
        QTest::newRow(c) << c;
}

void TestPQVKComms::garbledAnswers()
{
    QFETCH(QString, command);
    ControllerSimulator sim;
    sim.setGarbleChecksums(true);
    sim.setUnrelatedBefore(0);
    QVERIFY(sim.start());
    PQVKComms comms;
    comms.commandWaitMs = 50;
    QVERIFY(comms.open(sim.portPath()));
    QVERIFY(!run(comms, command));
    QCOMPARE(comms.lastError, QString("Communication error. Please try again."));
}

void TestPQVKComms::silentUnit()
{
    // The real wait: four reads of 2000 ms each, then the command gives up.
    ControllerSimulator sim;
    sim.setSilent(true);
    QVERIFY(sim.start());
    PQVKComms comms;
    QVERIFY(comms.open(sim.portPath()));
    takeLog();
    QVERIFY(!comms.getSettings());
    QCOMPARE(comms.lastError, QString("Communication error. Please try again."));
    const QStringList log = takeLog();
    QCOMPARE(log.count("readLine: \"\""), 4);
    QCOMPARE(sim.receivedCount("PQVKGETSETTINGS"), 1);
}

void TestPQVKComms::lateAnswer_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("succeeds");
    // Reads of 300 ms: an answer that comes during the second read still counts,
    // one that comes after the fourth does not.
    QTest::newRow("second read") << 450 << true;
    QTest::newRow("after four reads") << 1600 << false;
}

void TestPQVKComms::lateAnswer()
{
    QFETCH(int, delayMs);
    QFETCH(bool, succeeds);
    ControllerSimulator sim;
    sim.setAnswerDelay(delayMs);
    QVERIFY(sim.start());
    PQVKComms comms;
    comms.commandWaitMs = 300;
    QVERIFY(comms.open(sim.portPath()));
    QCOMPARE(comms.eraseData(), succeeds);
}

void TestPQVKComms::answerValues()
{
    ControllerSimulator sim;
    sim.setFirmware("3.1.7");
    sim.setClock(1650000000);
    sim.setSettings(1, 1500, 7000, 45, 33);
    sim.setDatasets(2, 3);
    QVERIFY(sim.start());
    PQVKComms comms;
    QVERIFY(comms.open(sim.portPath()));
    QVERIFY(comms.beep());
    QVERIFY(comms.readConfig());
    QCOMPARE(comms.config.firmware, QString("3.1.7"));
    QCOMPARE(comms.config.date, 1650000000);
    QCOMPARE(comms.config.battery, 3.9);
    QCOMPARE(comms.config.recLedOn, 1u);
    QCOMPARE(comms.config.videoLoggingInterval, 1500u);
    QCOMPARE(comms.config.timeLapseInterval, 7000u);
    QCOMPARE(comms.config.timeLapseTimeout, 45u);
    QCOMPARE(comms.config.e1FirmwareVersion, 33u);
    QVERIFY(comms.countData());
    QCOMPARE(comms.config.dataCount, 8);
    QVERIFY(comms.reset());
    QCOMPARE(comms.config.videoLoggingInterval, 1000u);
    QCOMPARE(comms.config.e1FirmwareVersion, 33u); // a reset leaves it as it was
    QVERIFY(comms.eraseData());
    QVERIFY(comms.countData());
    QCOMPARE(comms.config.dataCount, 0);
    const QStringList log = takeLog();
    for (const char* response : {"PQVKVER response", "PQVKBATTERY response",
                                 "PQVKSETTINGS response", "PQVKFORMAT response"})
        QVERIFY2(log.contains(response), response);
    QCOMPARE(sim.receivedCommands().first(), QString("$PQVKBEEP*0E"));
}

void TestPQVKComms::battery_data()
{
    QTest::addColumn<double>("reported");
    QTest::addColumn<double>("stored");
    QTest::newRow("0.5 reads as none") << 0.5 << 0.0;
    QTest::newRow("0.51 kept") << 0.51 << 0.51;
    QTest::newRow("negative reads as none") << -1.0 << 0.0;
    QTest::newRow("4.2 kept") << 4.2 << 4.2;
}

void TestPQVKComms::battery()
{
    QFETCH(double, reported);
    QFETCH(double, stored);
    ControllerSimulator sim;
    sim.setBattery(reported);
    QVERIFY(sim.start());
    PQVKComms comms;
    QVERIFY(comms.open(sim.portPath()));
    comms.config.battery = 99;
    QVERIFY(comms.getVersion());
    QCOMPARE(comms.config.battery, stored);
}

void TestPQVKComms::e1Field_data()
{
    QTest::addColumn<bool>("reported");
    QTest::addColumn<uint>("version");
    QTest::newRow("absent") << false << 29u;
    QTest::newRow("present") << true << 31u;
}

void TestPQVKComms::e1Field()
{
    QFETCH(bool, reported);
    QFETCH(uint, version);
    ControllerSimulator sim;
    sim.setSettings(0, 1000, 5000, 60, 31);
    sim.setReportE1(reported);
    QVERIFY(sim.start());
    PQVKComms comms;
    QVERIFY(comms.open(sim.portPath()));
    comms.config.e1FirmwareVersion = 7;
    QVERIFY(comms.getSettings());
    QCOMPARE(comms.config.e1FirmwareVersion, version);
    QCOMPARE(comms.config.timeLapseTimeout, 60u);
}

void TestPQVKComms::exactAnswers_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("accepted");

    auto s = ControllerSimulator::sentence;
    QTest::newRow("erase COMPLETE") << "eraseData" << s("PQVKMSG,1,PQVKFORMAT,X,COMPLETE") << true;
    QTest::newRow("erase COMPLETE with more")
        << "eraseData" << s("PQVKMSG,1,PQVKFORMAT,X,COMPLETED") << false;
    QTest::newRow("erase other sentence")
        << "eraseData" << s("PQVKMSGX,1,PQVKFORMAT,X,COMPLETE") << false;
    QTest::newRow("erase short") << "eraseData" << s("PQVKMSG,1,PQVKFORMAT,X") << false;
    QTest::newRow("reboot BOOT...") << "reboot" << s("PQVKMSG,1,PQVKREBOOT,BOOTLOADER") << true;
    QTest::newRow("reboot REBOOT") << "reboot" << s("PQVKMSG,1,PQVKREBOOT,REBOOT") << false;
    QTest::newRow("reboot short") << "reboot" << s("PQVKMSG,1,PQVKREBOOT") << false;
    QTest::newRow("off POWER OFF") << "off" << s("PQVKMSG,1,PQVKOFF,POWER OFF") << true;
    QTest::newRow("off POWER OFF with more") << "off" << s("PQVKMSG,1,PQVKOFF,POWER OFF!") << false;
    QTest::newRow("settings with three fields")
        << "getSettings" << s("PQVKSETTINGS,1,2,3") << false;
    QTest::newRow("reset with three fields") << "reset" << s("PQVKSETTINGS,1,2,3") << false;
    QTest::newRow("clock A...") << "setTime" << s("PQVKCLOCK,2023,1,2,3,4,5,0,AB") << true;
    QTest::newRow("clock V") << "setTime" << s("PQVKCLOCK,2023,1,2,3,4,5,0,V") << false;
    QTest::newRow("clock without field 8") << "setTime" << s("PQVKCLOCK,2023,1,2,3,4,5,0") << false;
    QTest::newRow("count without number") << "countData" << s("PQVKNUMDATA") << false;
    QTest::newRow("version short, then battery")
        << "getVersion" << s("PQVKMSG,1,PQVKVER,X") + s("PQVKBATTERY,3.7") << true;
    QTest::newRow("battery without value") << "getVersion" << s("PQVKBATTERY") << false;
    QTest::newRow("no checksum") << "reboot" << QByteArray("$PQVKMSG,1,PQVKREBOOT,BOOT\r\n")
                                 << false;
}

void TestPQVKComms::exactAnswers()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, answer);
    QFETCH(bool, accepted);
    static const QHash<QString, QByteArray> sentName = {{"eraseData", "PQVKFORMAT"},
                                                        {"reboot", "PQVKREBOOT"},
                                                        {"off", "PQVKOFF"},
                                                        {"getSettings", "PQVKGETSETTINGS"},
                                                        {"reset", "PQVKFACTORYSETTINGS"},
                                                        {"setTime", "PQVKSETRTC"},
                                                        {"countData", "PQVKNUMDUMP"},
                                                        {"getVersion", "PQVKVER"}};
    ControllerSimulator sim;
    sim.setReply(sentName.value(command), {answer});
    QVERIFY(sim.start());
    PQVKComms comms;
    comms.commandWaitMs = 50;
    QVERIFY(comms.open(sim.portPath()));
    QCOMPARE(run(comms, command), accepted);
}

void TestPQVKComms::countDataGivesUp()
{
    // Four unwanted lines answer every request: four requests, sixteen reads.
    auto s = ControllerSimulator::sentence;
    ControllerSimulator sim;
    sim.setReply("PQVKNUMDUMP", {s("PQVKNUMDATE,1"), s("PQVKMSG,1,PQVKNUMDUMP,BUSY"),
                                 "$PQVKNUMDATA,5*00", s("PQVKNUMDATA")});
    QVERIFY(sim.start());
    PQVKComms comms;
    QVERIFY(comms.open(sim.portPath()));
    comms.config.dataCount = 12;
    takeLog();
    QVERIFY(!comms.countData());
    QCOMPARE(comms.lastError, QString("Communication error. Please try again."));
    QCOMPARE(comms.config.dataCount, 0);
    QCOMPARE(sim.receivedCount("PQVKNUMDUMP"), 4);
    const QStringList log = takeLog();
    QCOMPARE(countStarting(log, "readLine:"), 16);
    QCOMPARE(log.count("readLine: \"\""), 0);
}

void TestPQVKComms::setConfigSetsClockAfterFailedSettings()
{
    auto s = ControllerSimulator::sentence;
    ControllerSimulator sim;
    sim.setReply("PQVKSETSETTINGS", {s("PQVKSETTINGS,1,2,3")}); // too short to take
    sim.setReply("PQVKSETRTC", {s("PQVKMSG,1,PQVKSETRTC,OK,TIME SET")});
    QVERIFY(sim.start());
    PQVKComms comms;
    comms.commandWaitMs = 50;
    QVERIFY(comms.open(sim.portPath()));
    QVERIFY(!comms.setConfig(1700000028, 1, 2, 3, 4, 5));
    QCOMPARE(sim.receivedCommands(),
             QStringList({"$PQVKSETSETTINGS,1,2,3,4,5*46", "$PQVKSETRTC,1700000028*3B"}));
    QVERIFY(takeLog().contains("PQVKMSG TIME SET response"));
    // Both steps answered: true.
    sim.setReply("PQVKSETSETTINGS", {});
    QVERIFY(comms.setConfig(1700000028, 1, 2, 3, 4, 5));
    QCOMPARE(comms.config.timeLapseTimeout, 4u);
    QVERIFY(comms.lastError.isEmpty());
}

void TestPQVKComms::readConfigRetries()
{
    // The version exchange fails once (its answers are garbled) and succeeds at the second try.
    auto s = ControllerSimulator::sentence;
    ControllerSimulator sim;
    sim.setReply("PQVKVER", {"$PQVKBATTERY,3.9*00", "$PQVKBATTERY,3.9*00", "$PQVKBATTERY,3.9*00",
                             "$PQVKBATTERY,3.9*00"});
    QVERIFY(sim.start());
    PQVKComms comms;
    comms.commandWaitMs = 50;
    QVERIFY(comms.open(sim.portPath()));
    std::thread mend([&] {
        sim.waitForCommands(1, 5000);
        sim.setReply("PQVKVER", {s("PQVKMSG,1,PQVKVER,V,1.0"), s("PQVKBATTERY,3.8")});
    });
    const bool ok = comms.readConfig();
    mend.join();
    QVERIFY(ok);
    QCOMPARE(sim.receivedCount("PQVKVER"), 2);
    QCOMPARE(sim.receivedCount("PQVKGETSETTINGS"), 1);
    QCOMPARE(comms.config.battery, 3.8);

    // Never answered: five of each, then false.
    sim.setSilent(true);
    sim.clearReceived();
    QVERIFY(!comms.readConfig());
    QCOMPARE(sim.receivedCount("PQVKVER"), 5);
    QCOMPARE(sim.receivedCount("PQVKGETSETTINGS"), 5);
    QCOMPARE(comms.lastError, QString("Communication error. Please try again."));
}

void TestPQVKComms::download_data()
{
    QTest::addColumn<int>("datasets");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("unrelatedBefore");
    QTest::addColumn<int>("rate");
    QTest::newRow("end message only") << 0 << 0 << 0 << 0;
    QTest::newRow("one dataset") << 1 << 3 << 0 << 0;
    QTest::newRow("three others first") << 2 << 5 << 3 << 0;
    QTest::newRow("many records") << 3 << 400 << 0 << 0;
    // One record per read, far more than four reads.
    QTest::newRow("records trickling in") << 1 << 9 << 0 << 40;
}

void TestPQVKComms::download()
{
    QFETCH(int, datasets);
    QFETCH(int, records);
    QFETCH(int, unrelatedBefore);
    QFETCH(int, rate);
    ControllerSimulator sim;
    sim.setDatasets(datasets, records);
    sim.setUnrelatedBefore(unrelatedBefore);
    sim.setStreamRate(rate);
    QVERIFY(sim.start());
    PQVKComms comms;
    QVERIFY(comms.open(sim.portPath()));
    QVERIFY(comms.countData());
    QSignalSpy messages(&comms, &PQVKComms::newMessage);
    QStringList lines = {"kept"};
    QVERIFY(comms.readData(lines));
    QStringList expected = {"kept"};
    for (const QByteArray& line : ControllerSimulator::datasetRecords(datasets, records))
        expected.append(QString::fromLatin1(line).trimmed());
    QCOMPARE(lines, expected);
    QCOMPARE(messages.size(), lines.size() - 1);
    if (!messages.isEmpty()) {
        QCOMPARE(messages.last().at(0).toString(),
                 QString("Reading dataset %1 of %1").arg(lines.size() - 1));
    }
    QVERIFY(takeLog().contains("All data read"));
}

void TestPQVKComms::downloadUnanswered()
{
    auto s = ControllerSimulator::sentence;
    ControllerSimulator sim;
    // A record numbered 0 is passed over, and garbled records are not counted.
    sim.setRecordLines({s("PQVKDATA,0,1,1600000000,0,0,0,0,0,0"),
                        "$PQVKDATA,2,10,4098,1,2,3,4,5,6*00", s("PQVKDATA,3,10,4098,1,2,3,4,5,6")});
    QVERIFY(sim.start());
    PQVKComms comms;
    comms.downloadWaitMs = 200;
    QVERIFY(comms.open(sim.portPath()));
    QStringList lines;
    QVERIFY(comms.readData(lines));
    QCOMPARE(lines, QStringList({s("PQVKDATA,3,10,4098,1,2,3,4,5,6").trimmed()}));

    sim.setSilent(true);
    takeLog();
    QVERIFY(!comms.readData(lines));
    QCOMPARE(lines.size(), 1);
    QCOMPARE(comms.lastError, QString("Communication error. Please try again."));
    QCOMPARE(takeLog().count("readLine: \"\""), 4);
}

void TestPQVKComms::downloadVanishing()
{
    ControllerSimulator sim;
    sim.setDatasets(1, 50);
    sim.setVanishAfter(20);
    QVERIFY(sim.start());
    PQVKComms comms;
    QVERIFY(comms.open(sim.portPath()));
    QStringList lines = {"kept"};
    // Returns (the device is gone) rather than reading on without end, and
    // keeps no half download.
    QVERIFY(!comms.readData(lines));
    QCOMPARE(lines, QStringList({"kept"}));
    QCOMPARE(comms.lastError, QString("Communication error. Please try again."));
}

void TestPQVKComms::lineInTwoPieces()
{
    ControllerSimulator sim;
    QVERIFY(sim.start());
    PQVKComms comms;
    QVERIFY(comms.open(sim.portPath()));
    sim.sendRaw("$PQVKNUMDA");
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        sim.sendRaw("TA,12*75\r\n");
    });
    const QString line = comms.readLine(2000, 3);
    later.join();
    QCOMPARE(line, QString("$PQVKNUMDATA,12*75\r\n"));
}

void TestPQVKComms::linesBackToBack()
{
    ControllerSimulator sim;
    QVERIFY(sim.start());
    PQVKComms comms;
    QVERIFY(comms.open(sim.portPath()));
    sim.sendRaw("first\r\nsecond\nthi");
    QCOMPARE(comms.readLine(2000, 3), QString("first\r\n"));
    QCOMPARE(comms.readLine(2000, 3), QString("second\n"));
    // What has no line end yet is returned when the wait is over.
    QCOMPARE(comms.readLine(100, 1), QString("thi"));
    QCOMPARE(comms.readLine(100, 0), QString());
    QCOMPARE(comms.port.write(QByteArray()), 0);
}

void TestPQVKComms::writeLineTrims()
{
    ControllerSimulator sim;
    QVERIFY(sim.start());
    PQVKComms comms;
    QVERIFY(comms.open(sim.portPath()));
    QVERIFY(comms.writeLine("  $PQVKOFF*53 \t"));
    QVERIFY(sim.waitForCommands(1, 2000));
    QCOMPARE(sim.receivedCommands(), QStringList("$PQVKOFF*53"));
    QVERIFY(takeLog().contains("writeLine: \"  $PQVKOFF*53 \\t\""));
}

void TestPQVKComms::vanishingDuringRead()
{
    ControllerSimulator sim;
    QVERIFY(sim.start());
    PQVKComms comms;
    QVERIFY(comms.open(sim.portPath()));
    sim.sendRaw("$PQVKMSG,1,PQ");
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sim.vanish();
    });
    QElapsedTimer timer;
    timer.start();
    const QString line = comms.readLine(60000, 3);
    unplug.join();
    QVERIFY2(timer.elapsed() < 30000, "the read waited on a vanished device");
    QVERIFY(!line.endsWith('\n'));
    // Further reads and writes fail at once.
    QCOMPARE(comms.readLine(60000, 3), QString());
    QVERIFY(!comms.off());
    QVERIFY(timer.elapsed() < 30000);
}

void TestPQVKComms::deviceEntries_data()
{
    QTest::addColumn<QList<SerialPortEntry>>("ports");
    QTest::addColumn<QStringList>("listed");

    const SerialPortEntry usb = {"ttyUSB0", "FT231X USB UART", "/dev/ttyUSB0", "FTDI", "D30AB"};
    const SerialPortEntry acm = {"ttyACM0", "", "/dev/ttyACM0", "PELORIN", ""};
    QTest::newRow("none") << QList<SerialPortEntry>() << QStringList();
    QTest::newRow("two kept in order")
        << QList<SerialPortEntry>{usb, acm} << QStringList{"ttyUSB0", "ttyACM0"};
    QTest::newRow("Bluetooth left out")
        << QList<SerialPortEntry>{{"rfcomm0", "", "/dev/Bluetooth-Incoming", "", ""}, usb}
        << QStringList{"ttyUSB0"};
    QTest::newRow("lower-case bluetooth kept")
        << QList<SerialPortEntry>{{"rfcomm0", "", "/dev/bluetooth0", "", ""}}
        << QStringList{"rfcomm0"};
    QTest::newRow("call-out, NERD and phone left out")
        << QList<SerialPortEntry>{{"cu.usb", "", "/dev/cu.usbserial", "", ""},
                                  {"n", "", "/dev/NERDport", "", ""},
                                  {"i", "", "/dev/tty.iPhone-Wireless", "", ""},
                                  acm}
        << QStringList{"ttyACM0"};
    QTest::newRow("marker in the name only")
        << QList<SerialPortEntry>{{"Bluetooth", "iPhone", "/dev/ttyS0", "NERD", ""}}
        << QStringList{"Bluetooth"};
}

void TestPQVKComms::deviceEntries()
{
    QFETCH(QList<SerialPortEntry>, ports);
    QFETCH(QStringList, listed);
    const QVariantList entries = PQVKComms::deviceEntries(ports);
    QStringList names;
    for (const QVariant& entry : entries) {
        const QVariantMap map = entry.toMap();
        QCOMPARE(map.keys(),
                 QStringList({"description", "location", "manufacturer", "name", "serial"}));
        for (const QVariant& value : map) {
            QCOMPARE(value.userType(), int(QMetaType::QString));
            QVERIFY(!value.toString().isNull());
        }
        names.append(map.value("name").toString());
    }
    QCOMPARE(names, listed);
    const QStringList log = takeLog();
    QCOMPARE(countStarting(log, "\"Found serial port: name="), ports.size());
    QCOMPARE(log.contains("No serial ports found"), ports.isEmpty());
    if (!ports.isEmpty()) {
        const SerialPortEntry& p = ports.first();
        QCOMPARE(log.first(),
                 QString("\"Found serial port: name=%1, description=%2, location=%3, "
                         "manufacturer=%4, serial=%5\"")
                     .arg(p.name, p.description, p.location, p.manufacturer, p.serial));
    }
}

QTEST_GUILESS_MAIN(TestPQVKComms)
#include "tst_pqvkcomms.moc"
