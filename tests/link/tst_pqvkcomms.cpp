#include "link/pqvkcomms.h"
#include "simulator/controllersimulator.h"

#include <QMutex>
#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <thread>
#include <utility>

namespace {

const QString CommError = QStringLiteral("Communication error. Please try again.");

// Every logged message; the client logs each port read, so this counts reads.
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
    return std::exchange(logged, {});
}

int reads(const QStringList& log)
{
    return log.filter(QRegularExpression("^readLine:")).size();
}

using Call = std::function<bool(PQVKComms&)>;
// Each command with the request it sends.
const QMap<QString, QPair<QString, Call>> commands = {
    {"getSettings", {"$PQVKGETSETTINGS*4F", &PQVKComms::getSettings}},
    {"getVersion", {"$PQVKVER*5D", &PQVKComms::getVersion}},
    {"countData", {"$PQVKNUMDUMP*46", &PQVKComms::countData}},
    {"eraseData", {"$PQVKFORMAT*1F", &PQVKComms::eraseData}},
    {"off", {"$PQVKOFF*53", &PQVKComms::off}},
    {"reset", {"$PQVKFACTORYSETTINGS*4D", &PQVKComms::reset}},
    {"beep", {"$PQVKBEEP*0E", &PQVKComms::beep}},
    {"setConfig", {"$PQVKSETSETTINGS,0,2000,6000,30,31*42", [](PQVKComms& c) {
                       return c.setConfig(1700000000, 0, 2000, 6000, 30, 31);
                   }}}};

} // namespace

class TestPQVKComms : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerSimulator> sim;
    std::unique_ptr<PQVKComms> comms;

private slots:
    void initTestCase() { qInstallMessageHandler(collect); }
    // Each case has a simulated unit and a client on its port.
    void init()
    {
        sim = std::make_unique<ControllerSimulator>();
        QVERIFY(sim->start());
        comms = std::make_unique<PQVKComms>();
        QVERIFY(comms->open(sim->portPath()));
        takeLog();
    }

    void opening()
    {
        comms->close();
        QVERIFY(!comms->open("/dev/no-such-port"));
        QVERIFY(!comms->open(""));
        QVERIFY(takeLog().contains("ERROR: Could not open com port"));
        // Commands on a closed port fail without waiting for an answer.
        QVERIFY(!comms->getSettings());
        QCOMPARE(comms->lastError, QString("Please open serial port first."));
        QCOMPARE(reads(takeLog()), 0);
        QVERIFY(comms->open(sim->portPath()));
        // A held port is refused, also when reached under another name.
        QTemporaryDir dir;
        const QString link = dir.filePath("controller");
        QVERIFY(QFile::link(sim->portPath(), link));
        for (const QString& name : {sim->portPath(), link})
            QVERIFY2(!PQVKComms().open(name), qPrintable(name));
        // The refused clients left the holder's port alone; once closed it opens again.
        QVERIFY(comms->getSettings());
        comms->close();
        QVERIFY(PQVKComms().open(sim->portPath()));
    }

    void exchanges_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("unrelated");     // unrelated sentences before each answer
        QTest::addColumn<QString>("quirk");     // "garble" or "late"
        QTest::addColumn<QByteArray>("answer"); // replaces the unit's own answer
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<int>("requests");

        const auto row = [](const char* name, const char* command, int unrelated, const char* quirk,
                            const QByteArray& answer, bool succeeds, int requests = 1) {
            QTest::newRow(name) << QString(command) << unrelated << QString(quirk) << answer
                                << succeeds << requests;
        };
        for (const QString& c : commands.keys()) {
            // The version exchange has two answers: the battery must be the fourth read.
            const int n = c == "getVersion" ? 2 : 3;
            QTest::addRow("%s after %d others", qPrintable(c), n)
                << c << n << QString() << QByteArray() << true << 1;
        }
        row("after four others", "getSettings", 4, "", {}, false);
        // The late answer is the first line of the second attempt.
        row("countData after four", "countData", 4, "", {}, true, 2);
        row("getSettings garbled", "getSettings", 0, "garble", {}, false);
        row("setConfig garbled", "setConfig", 0, "garble", {}, false);
        // One deadline of 400 ms for the whole exchange: an answer after 150 ms counts.
        row("eraseData late", "eraseData", 0, "late", {}, true);
        row("getSettings late", "getSettings", 2, "late", {}, true);
        auto s = ControllerSimulator::sentence;
        row("countData never answered", "countData", 0, "",
            s("PQVKNUMDATE,1") + s("PQVKMSG,1,PQVKNUMDUMP,BUSY") + "$PQVKNUMDATA,5*00\r\n" +
                s("PQVKNUMDATA"),
            false, 4);
        row("COMPLETE with more", "eraseData", 0, "", s("PQVKMSG,1,PQVKFORMAT,X,COMPLETED"), false);
        row("settings of three fields", "getSettings", 0, "", s("PQVKSETTINGS,1,2,3"), false);
        row("battery without value", "getVersion", 0, "",
            s("PQVKMSG,1,PQVKVER,V,1") + s("PQVKBATTERY"), false);
        row("clock not valid", "setConfig", 0, "", s("PQVKCLOCK,2023,1,2,3,4,5,0,V"), false);
    }
    void exchanges()
    {
        QFETCH(QString, command);
        QFETCH(int, unrelated);
        QFETCH(QString, quirk);
        QFETCH(QByteArray, answer);
        QFETCH(bool, succeeds);
        QFETCH(int, requests);
        const QString request = commands.value(command).first;
        const QByteArray name = request.section(QRegularExpression("[,*]"), 0, 0).mid(1).toLatin1();
        sim->setUnrelatedBefore(unrelated);
        sim->setGarbleChecksums(quirk == "garble");
        sim->setAnswerDelay(quirk == "late" ? 150 : 0);
        if (!answer.isEmpty()) // a clock answers the clock's step
            sim->setReply(answer.startsWith("$PQVKCLOCK") ? "PQVKSETRTC" : name, {answer});
        comms->waits.answerMs = comms->waits.slowAnswerMs = quirk == "late" ? 400
                                                            : succeeds      ? 2000
                                                                            : 50;
        takeLog();
        QCOMPARE(commands.value(command).second(*comms), succeeds);
        if (!succeeds) { // four reads at most per request, and per step of setConfig
            const int steps = requests * (command == "setConfig" ? 2 : 1);
            const int count = reads(takeLog());
            QVERIFY2(count >= steps && count <= 4 * steps, qPrintable(QString::number(count)));
            if (unrelated >= 4)
                QCOMPARE(count, 4 * steps);
        }
        // A success after a failed attempt keeps that attempt's text.
        QCOMPARE(comms->lastError, succeeds && requests == 1 ? QString() : CommError);
        QTRY_COMPARE_WITH_TIMEOUT(sim->receivedCount(name), requests, 2000);
        QCOMPARE(sim->receivedCommands().first(), request);
        // The clock is set even when the settings step failed.
        if (command == "setConfig")
            QTRY_COMPARE_WITH_TIMEOUT(sim->receivedCount("PQVKSETRTC"), 1, 2000);
    }

    void reported_data()
    {
        QTest::addColumn<double>("battery");
        QTest::addColumn<bool>("reportE1");
        QTest::addColumn<double>("storedBattery");
        QTest::addColumn<uint>("e1");
        QTest::newRow("battery 0.5, no E1 field") << 0.5 << false << 0.0 << 29u;
        QTest::newRow("battery 0.51, E1 field") << 0.51 << true << 0.51 << 33u;
    }
    void reported()
    {
        QFETCH(double, battery);
        QFETCH(bool, reportE1);
        QFETCH(double, storedBattery);
        QFETCH(uint, e1);
        sim->setFirmware("3.1.7");
        sim->setClock(1650000000);
        sim->setSettings(1, 1500, 7000, 45, 33);
        sim->setBattery(battery);
        sim->setReportE1(reportE1);
        sim->setDatasets(2, 3);
        comms->config.battery = 99;
        comms->config.e1FirmwareVersion = 7;
        QVERIFY(comms->readConfig() && comms->countData());
        const PQVKConfig& c = comms->config;
        QCOMPARE(QVariantList({c.firmware, c.date, c.recLedOn, c.videoLoggingInterval,
                               c.timeLapseInterval, c.timeLapseTimeout, c.battery,
                               c.e1FirmwareVersion, c.dataCount}),
                 QVariantList({"3.1.7", 1650000000, 1u, 1500u, 7000u, 45u, storedBattery, e1, 8}));
        QVERIFY(comms->reset());
        QCOMPARE(c.videoLoggingInterval, 1000u);
        QCOMPARE(c.e1FirmwareVersion, e1); // a reset leaves it as it was
    }

    // Values the unit cannot mean fail the read, naming the value; nothing of
    // the answer is taken. A number the parser replaced is logged as such.
    void valuesOutOfRange_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("logged"); // a warning of the conversion, or empty
        auto s = ControllerSimulator::sentence;
        const auto row = [](const char* name, const char* command, const QByteArray& answer,
                            const QString& value, const char* logged = "") {
            QTest::newRow(name) << QByteArray(command) << answer
                                << "The unit reported a value out of range for the " + value
                                << QString(logged);
        };
        const char* settings = "PQVKGETSETTINGS";
        // Any LED flag that is a number is shown as reported.
        QTest::newRow("LED flag 2") << QByteArray(settings) << s("PQVKSETTINGS,2,1000,5000,60,29")
                                    << QString() << QString();
        row("LED flag not a number", settings, s("PQVKSETTINGS,on,1000,5000,60,29"),
            "record LED: \"on\".", "Invalid argument:stoi");
        row("interval the parser clamped", settings, s("PQVKSETTINGS,1,99999999999,5000,60,29"),
            "video logging interval: \"99999999999\".", "Out of range:stoi");
        row("negative time-lapse interval", settings, s("PQVKSETTINGS,1,1000,-5000,60,29"),
            "time-lapse interval: \"-5000\".");
        row("time-out not a number", settings, s("PQVKSETTINGS,1,1000,5000,soon,29"),
            "time-lapse time-out: \"soon\".", "Invalid argument:stoi");
        row("negative E1 version", settings, s("PQVKSETTINGS,1,1000,5000,60,-29"),
            "E1 firmware version: \"-29\".");
        row("clock not a number", "PQVKVER",
            s("PQVKMSG,later,PQVKVER,VERSION,2.4.1") + s("PQVKBATTERY,3.9"), "clock: \"later\".",
            "Invalid argument:stoi");
        row("battery beyond a double", "PQVKVER",
            s("PQVKMSG,1650000000,PQVKVER,VERSION,2.4.1") + s("PQVKBATTERY,1e999"),
            "battery voltage: \"1e999\".", "Out of range:stod");
        // A count that is no count never reads as an empty unit or a huge one.
        const QString count =
            "Counting records: the unit's record count could not be read; it answered \"%1\".";
        for (const char* answer : {"-79", "many", "+8", "99999999999", ""})
            QTest::addRow("record count \"%s\"", answer)
                << QByteArray("PQVKNUMDUMP") << s(QByteArray("PQVKNUMDATA,") + answer)
                << count.arg(answer) << "";
    }
    void valuesOutOfRange()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, answer);
        QFETCH(QString, error);
        QFETCH(QString, logged);
        sim->setReply(command, {answer});
        takeLog();
        QCOMPARE(command == "PQVKNUMDUMP" ? comms->countData() : comms->readConfig(),
                 error.isEmpty());
        QCOMPARE(comms->lastError, error);
        if (error.isEmpty()) {
            QCOMPARE(comms->config.recLedOn, 2u);
            return;
        }
        const QStringList log = takeLog();
        QVERIFY2(!log.filter(error.section(':', 0, 0)).isEmpty(), qPrintable(log.join('\n')));
        if (!logged.isEmpty())
            QVERIFY2(log.contains(logged), qPrintable(log.join('\n')));
        if (command == "PQVKGETSETTINGS") // nothing of a rejected answer is taken
            QCOMPARE(comms->config.recLedOn, PQVKConfig().recLedOn);
    }

    void readConfigRetries()
    {
        // The first version exchange lacks its battery answer; the second try is answered.
        sim->setReply("PQVKVER", {ControllerSimulator::sentence("PQVKMSG,1,PQVKVER,V,1.0")});
        comms->waits.answerMs = 200;
        std::thread mend([&] {
            sim->waitForCommands(1, 5000);
            sim->setReply("PQVKVER", {});
        });
        const bool ok = comms->readConfig();
        mend.join();
        QVERIFY(ok);
        QCOMPARE(sim->receivedCount("PQVKVER"), 2);
        QCOMPARE(sim->receivedCount("PQVKGETSETTINGS"), 1);
    }

    void download_data()
    {
        QTest::addColumn<int>("datasets");
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("unrelated");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("vanishAfter");
        QTest::newRow("end message only") << 0 << 0 << 0 << 0 << -1;
        QTest::newRow("three others first") << 2 << 5 << 3 << 0 << -1;
        QTest::newRow("many records") << 3 << 1500 << 0 << 0 << -1;
        // One record per read, far more than four reads.
        QTest::newRow("records trickling in") << 1 << 9 << 0 << 40 << -1;
        QTest::newRow("unit vanishing mid-stream") << 1 << 50 << 0 << 200 << 20;
    }
    void download()
    {
        QFETCH(int, datasets);
        QFETCH(int, records);
        QFETCH(int, unrelated);
        QFETCH(int, rate);
        QFETCH(int, vanishAfter);
        sim->setDatasets(datasets, records);
        sim->setUnrelatedBefore(unrelated);
        sim->setStreamRate(rate);
        sim->setVanishAfter(vanishAfter);
        QVERIFY(comms->countData());
        QSignalSpy progress(comms.get(), &PQVKComms::recordsReceived);
        QStringList lines = {"kept"};
        const bool complete = vanishAfter < 0;
        QCOMPARE(comms->readData(lines), complete);
        if (!complete)
            QVERIFY2(comms->lastError.contains(
                         QRegularExpression("^Port " + QRegularExpression::escape(sim->portPath()) +
                                            " failed or the unit was disconnected; \\d+ of 51 "
                                            "records arrived")),
                     qPrintable(comms->lastError));
        // An unfinished download appends nothing.
        QStringList expected = {"kept"};
        for (const QByteArray& line : ControllerSimulator::datasetRecords(datasets, records))
            expected.append(QString::fromLatin1(line).trimmed());
        QCOMPARE(lines, complete ? expected : expected.mid(0, 1));
        // Progress: a few reports, the last with every record received.
        const int received = complete ? lines.size() - 1 : vanishAfter;
        if (received > 0) {
            QVERIFY(!progress.isEmpty());
            QCOMPARE(progress.last(), QVariantList({received, qint64(sim->recordCount())}));
            if (received >= 1000) // a fast download: a handful of reports, not one per record
                QVERIFY2(progress.size() <= received / 100,
                         qPrintable(QString::number(progress.size())));
        }
    }

    void readLines()
    {
        // Bytes after a line feed wait for the next read; an unfinished line
        // comes back when the wait is over.
        sim->sendRaw("first\r\nsecond\nthi");
        QCOMPARE(comms->readLine(2000, 3), QString("first\r\n"));
        QCOMPARE(comms->readLine(2000, 3), QString("second\n"));
        QCOMPARE(comms->readLine(100, 1), QString("thi"));

        // A line whose second piece comes after a whole wait is joined.
        sim->sendRaw("$PQVKNUMDA");
        std::thread later([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            sim->sendRaw("TA,12*75\r\n");
        });
        const QString joined = comms->readLine(300, 3);
        later.join();
        QCOMPARE(joined, QString("$PQVKNUMDATA,12*75\r\n"));
    }

    // Every sentence goes out with CR LF, and with nothing else of a line end.
    void sentencesEndInCrLf()
    {
        comms->waits.answerMs = 300;
        for (const auto& command : commands)
            command.second(*comms);
        QStringList data;
        comms->readData(data);
        QVERIFY(comms->writeLine(" $PQVKBEEP*0E \t"));
        QTRY_COMPARE_WITH_TIMEOUT(sim->receivedLines().size(), commands.size() + 3, 2000);
        for (const QByteArray& line : sim->receivedLines()) {
            QVERIFY2(line.endsWith("\r\n") && line.count('\r') == 1 && line.count('\n') == 1,
                     line.toHex().constData());
            QVERIFY2(line.startsWith('$'), line.constData());
        }
    }

    void deviceEntries()
    {
        // Call-out, modem, phone and Bluetooth locations are left out; the
        // markers elsewhere, or in lower case, are not.
        const QList<SerialPortEntry> ports = {
            {"cu.usb", "", "/dev/cu.usbserial", "", ""},
            {"ttyUSB0", "FT231X USB UART", "/dev/ttyUSB0", "FTDI", "D30AB"},
            {"n", "", "/dev/NERDport", "", ""},
            {"i", "", "/dev/tty.iPhone-Wireless", "", ""},
            {"rfcomm0", "", "/dev/Bluetooth-Incoming", "", ""},
            {"ttyACM0", QString(), "/dev/ttyACM0", "PELORIN", QString()},
            {"Bluetooth", "iPhone", "/dev/ttyS0", "NERD", ""},
            {"rfcomm1", "", "/dev/bluetooth1", "", ""}};
        QStringList names;
        for (const QVariant& entry : PQVKComms::deviceEntries(ports)) {
            const QVariantMap map = entry.toMap();
            QCOMPARE(map.keys(),
                     QStringList({"description", "location", "manufacturer", "name", "serial"}));
            // The view compares these texts: never a null string.
            for (const QVariant& value : map)
                QVERIFY(value.userType() == QMetaType::QString && !value.toString().isNull());
            names.append(map.value("name").toString());
        }
        QCOMPARE(names, QStringList({"ttyUSB0", "ttyACM0", "Bluetooth", "rfcomm1"}));
    }
};

QTEST_GUILESS_MAIN(TestPQVKComms)
#include "tst_pqvkcomms.moc"
