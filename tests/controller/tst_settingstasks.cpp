// Reading, saving and resetting the controller unit's settings against the
// simulator over a pseudo-terminal.
#include "appcontroller.h"
#include "controllersimulator.h"
#include "controllertasks.h"
#include "pqvkcomms.h"
#include "taskreports.h"

#include <QtTest>

using TaskReports::texts;

namespace {

const QString commError = QStringLiteral("Communication error. Please try again.");

QList<QByteArray> fourUnrelated(const QByteArray& body)
{
    const QByteArray line = ControllerSimulator::sentence(body);
    return {line, line, line, line};
}

// The fields of the last received command of that name, without name and checksum.
QString receivedFields(const ControllerSimulator& sim, const QString& name)
{
    const QStringList commands = sim.receivedCommands().filter("$" + name + ",");
    if (commands.isEmpty())
        return QString();
    const QString command = commands.last();
    const int comma = command.indexOf(',');
    return command.mid(comma + 1, command.indexOf('*') - comma - 1);
}

} // namespace

class TestSettingsTasks : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void read_data();
    void read();
    void readFails();
    void save_data();
    void save();
    void saveFails();
    void reset_data();
    void reset();
    void portUnavailable_data();
    void portUnavailable();

private:
    std::unique_ptr<ControllerSimulator> sim;
};

void TestSettingsTasks::init()
{
    sim = std::make_unique<ControllerSimulator>();
    QVERIFY(sim->start());
}

void TestSettingsTasks::cleanup()
{
    QThreadPool::globalInstance()->waitForDone();
    sim.reset();
}

void TestSettingsTasks::read_data()
{
    QTest::addColumn<double>("battery");
    QTest::addColumn<QList<uint>>("settings"); // LED, video ms, time-lapse ms, minutes, E1
    QTest::addColumn<bool>("reportE1");
    QTest::addColumn<QVariantList>("shown");

    const QString clock = ControllerTasks::clockText(1600000000);
    QTest::newRow("quarter second, E1 0")
        << 3.5 << QList<uint>{1, 250, 1999, 90, 0} << true
        << QVariantList{"2.4.1", "10 %", clock, 1, 0.25, 1, 90, 29};
    QTest::newRow("no E1 field") << 4.13 << QList<uint>{0, 1500, 5000, 60, 30} << false
                                 << QVariantList{"2.4.1", "100 %", clock, 0, 1.5, 5, 60, 29};
    QTest::newRow("no battery reading, E1 30")
        << 0.3 << QList<uint>{1, 1000, 2000, 0, 30} << true
        << QVariantList{"2.4.1", "-", clock, 1, 1.0, 2, 0, 30};
}

void TestSettingsTasks::read()
{
    QFETCH(double, battery);
    QFETCH(QList<uint>, settings);
    QFETCH(bool, reportE1);
    QFETCH(QVariantList, shown);
    sim->setBattery(battery);
    sim->setSettings(settings[0], settings[1], settings[2], settings[3], settings[4]);
    sim->setReportE1(reportE1);

    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateCameraSettingsProgress);
    QSignalSpy values(&controller, &AppController::updateCameraSettings);
    QVERIFY(QMetaObject::invokeMethod(&controller, "readSettingsWorker", Qt::DirectConnection,
                                      Q_ARG(QString, sim->portPath())));
    QCoreApplication::processEvents();

    QCOMPARE(texts(progress),
             QStringList({"0,2,1,Reading settings ...", "0,2,2,Success. Settings read."}));
    QCOMPARE(values.size(), 1);
    QCOMPARE(values.first(), shown);
    // The view's sliders take the video interval as a fraction, the time-lapse one whole.
    QCOMPARE(values.first().at(4).userType(), int(QMetaType::Double));
    QCOMPARE(values.first().at(5).userType(), int(QMetaType::Int));
}

void TestSettingsTasks::readFails()
{
    // Every answer garbled and buried under unrelated sentences.
    sim->setGarbleChecksums(true);
    sim->setUnrelatedBefore(4);
    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateCameraSettingsProgress);
    QSignalSpy values(&controller, &AppController::updateCameraSettings);
    QVERIFY(QMetaObject::invokeMethod(&controller, "readSettingsWorker", Qt::DirectConnection,
                                      Q_ARG(QString, sim->portPath())));
    QCoreApplication::processEvents();
    QCOMPARE(texts(progress), QStringList({"0,2,1,Reading settings ...",
                                           "0,2,2,Error getting settings: " + commError}));
    QCOMPARE(values.size(), 0);
}

void TestSettingsTasks::save_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<int>("recLedOn");
    QTest::addColumn<double>("videoSeconds");
    QTest::addColumn<double>("timelapseSeconds");
    QTest::addColumn<double>("timeoutMinutes");
    QTest::addColumn<int>("e1");
    QTest::addColumn<QString>("sent");    // fields of the settings command
    QTest::addColumn<bool>("clockTaken"); // false: the current time is sent

    QTest::newRow("quarter second, 90.9 minutes")
        << "2024-05-06 07:08:09" << 1 << 0.25 << 2.01 << 90.9 << 30 << "1,250,2010,90,30" << true;
    QTest::newRow("month 13") << "2024-13-06 07:08:09" << 0 << 1.9999 << 5.0 << 60.0 << 26
                              << "0,1999,5000,60,26" << false;
    QTest::newRow("before the unit's clock")
        << "1969-07-20 20:17:00" << 1 << 1.0 << 1.0 << 1.0 << 29 << "1,1000,1000,1,29" << false;
}

void TestSettingsTasks::save()
{
    QFETCH(QString, date);
    QFETCH(int, recLedOn);
    QFETCH(double, videoSeconds);
    QFETCH(double, timelapseSeconds);
    QFETCH(double, timeoutMinutes);
    QFETCH(int, e1);
    QFETCH(QString, sent);
    QFETCH(bool, clockTaken);

    AppController controller;
    controller.setPort("COM7");
    QSignalSpy progress(&controller, &AppController::updateCameraSettingsProgress);
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    // Through the view's slot: the conversion, then the task on the pool.
    controller.saveCameraSettings(sim->portPath(), date, recLedOn, videoSeconds, timelapseSeconds,
                                  timeoutMinutes, e1);
    QTRY_COMPARE_WITH_TIMEOUT(progress.size(), 1, 20000);
    QThreadPool::globalInstance()->waitForDone();
    const qint64 after = QDateTime::currentSecsSinceEpoch();

    QCOMPARE(texts(progress), QStringList{"0,2,2,Success. Settings saved."});
    QCOMPARE(receivedFields(*sim, "PQVKSETSETTINGS"), sent);
    const qint64 clock = receivedFields(*sim, "PQVKSETRTC").toLongLong();
    if (clockTaken) {
        QCOMPARE(clock,
                 QDateTime::fromString(date, ControllerTasks::ClockFormat).toSecsSinceEpoch());
    } else {
        QVERIFY2(clock >= before && clock <= after, qPrintable(QString::number(clock)));
    }
    QCOMPARE(controller.port(), QStringLiteral("COM7")); // a save leaves the port alone
}

void TestSettingsTasks::saveFails()
{
    // The settings go through, the clock answer never comes.
    sim->setReply("PQVKSETRTC", fourUnrelated("PQVKSTATUS,1600000000,BUSY"));
    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateCameraSettingsProgress);
    PQVKConfig cfg = ControllerTasks::settingsToConfig(1, 0.5, 2, 30, 30);
    QVERIFY(QMetaObject::invokeMethod(&controller, "saveCameraSettingsWorker", Qt::DirectConnection,
                                      Q_ARG(QString, sim->portPath()),
                                      Q_ARG(QString, "2024-05-06 07:08:09"),
                                      Q_ARG(PQVKConfig, cfg)));
    QCoreApplication::processEvents();
    QCOMPARE(texts(progress), QStringList{"0,2,2,Error saving settings: " + commError});
    QCOMPARE(receivedFields(*sim, "PQVKSETSETTINGS"), QStringLiteral("1,500,2000,30,30"));
}

void TestSettingsTasks::reset_data()
{
    QTest::addColumn<QList<QByteArray>>("reply");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("reset") << QList<QByteArray>() << "Success. Controller reset.";
    QTest::newRow("no answer") << fourUnrelated("PQVKSTATUS,1600000000,BUSY")
                               << "Error resetting controller: " + commError;
}

void TestSettingsTasks::reset()
{
    QFETCH(QList<QByteArray>, reply);
    QFETCH(QString, outcome);
    if (!reply.isEmpty())
        sim->setReply("PQVKFACTORYSETTINGS", reply);
    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateCameraSettingsProgress);
    QVERIFY(QMetaObject::invokeMethod(&controller, "resetCameraSettingsWorker",
                                      Qt::DirectConnection, Q_ARG(QString, sim->portPath())));
    QCoreApplication::processEvents();
    QCOMPARE(texts(progress), QStringList({"0,2,1,Resetting controller ...", "0,2,2," + outcome}));
    QCOMPARE(sim->receivedCount("PQVKFACTORYSETTINGS"), 1);
    QCOMPARE(sim->receivedCount("PQVKGETSETTINGS"), 0); // no read-back
}

void TestSettingsTasks::portUnavailable_data()
{
    QTest::addColumn<QString>("worker");
    QTest::addColumn<bool>("held");
    const char* workers[] = {"readSettingsWorker", "saveCameraSettingsWorker",
                             "resetCameraSettingsWorker"};
    for (const char* worker : workers) {
        QTest::addRow("%s, no such port", worker) << worker << false;
        QTest::addRow("%s, port held", worker) << worker << true;
    }
}

void TestSettingsTasks::portUnavailable()
{
    QFETCH(QString, worker);
    QFETCH(bool, held);
    QTemporaryDir tmp;
    const QString port = held ? sim->portPath() : tmp.path() + "/no-such-port";
    PQVKComms holder;
    if (held)
        QVERIFY(holder.open(port));

    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateCameraSettingsProgress);
    QSignalSpy values(&controller, &AppController::updateCameraSettings);
    if (worker == "saveCameraSettingsWorker")
        QVERIFY(QMetaObject::invokeMethod(
            &controller, "saveCameraSettingsWorker", Qt::DirectConnection, Q_ARG(QString, port),
            Q_ARG(QString, "2024-05-06 07:08:09"), Q_ARG(PQVKConfig, PQVKConfig())));
    else
        QVERIFY(QMetaObject::invokeMethod(&controller, qPrintable(worker), Qt::DirectConnection,
                                          Q_ARG(QString, port)));
    QCoreApplication::processEvents();
    QCOMPARE(texts(progress),
             QStringList{QStringLiteral("0,1,1,Error: Could not open port %1.").arg(port)});
    QCOMPARE(values.size(), 0);
    QTest::qWait(100);
    QVERIFY(sim->receivedCommands().isEmpty());
}

QTEST_MAIN(TestSettingsTasks)
#include "tst_settingstasks.moc"
