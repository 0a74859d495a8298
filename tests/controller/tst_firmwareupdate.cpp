// The firmware update task with the boot-loader stand-in in a temporary
// application folder: the command line it builds, how the outcome is judged,
// and the wait on a pool thread that runs no event loop.
#include "appcontroller.h"
#include "apppaths.h"
#include "controllertasks.h"
#include "shellcommand.h"
#include "testsupport.h"

#include <QtTest>

namespace {

// A well-formed Intel HEX file: two data records and the end record.
const QByteArray validHex = ":10010000214601360121470136007EFE09D2190140\r\n"
                            ":100110002146017E17C20001FF5F16002148011928\r\n"
                            ":00000001FF\r\n";

QStringList capturedLog;
QMutex logMutex;

void captureMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&logMutex);
    capturedLog << message;
}

QStringList texts(const QSignalSpy& spy)
{
    QStringList result;
    for (const QList<QVariant>& report : spy)
        result << QStringLiteral("%1,%2,%3,%4")
                      .arg(report.at(0).toInt())
                      .arg(report.at(1).toInt())
                      .arg(report.at(2).toInt())
                      .arg(report.at(3).toString());
    return result;
}

bool logHas(const QString& part)
{
    QMutexLocker lock(&logMutex);
    for (const QString& line : qAsConst(capturedLog)) {
        if (line.contains(part))
            return true;
    }
    return false;
}

} // namespace

class TestFirmwareUpdate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void commandLine_data();
    void commandLine();
    void update_data();
    void update();
    void missingProgram();
    void outputLoggedAsLines();
    void waitsOnPoolThread();

private:
    void installStandIn();
    void runWorker(AppController& controller, const QString& port, const QString& file);

    std::unique_ptr<QTemporaryDir> tmp;
    QString appDir;
    QString savedCurrentDir;
    QtMessageHandler previousHandler = nullptr;
};

void TestFirmwareUpdate::init()
{
    savedCurrentDir = QDir::currentPath();
    tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp->isValid());
    appDir = tmp->path() + "/app";
    QVERIFY(QDir().mkpath(appDir + "/firmware"));
    resetPathCaches();
    updateAppDirPath(appDir + "/VazizidADU");
    QCOMPARE(appDirPath(), appDir);
    {
        QMutexLocker lock(&logMutex);
        capturedLog.clear();
    }
    previousHandler = qInstallMessageHandler(captureMessage);
}

void TestFirmwareUpdate::cleanup()
{
    qInstallMessageHandler(previousHandler);
    qunsetenv("BOOTLOADER_STANDIN_DELAY_MS");
    QDir::setCurrent(savedCurrentDir);
    resetPathCaches();
    tmp.reset();
}

void TestFirmwareUpdate::installStandIn()
{
    QVERIFY(QDir().mkpath(appDir + "/utilities"));
    const QString target = ControllerTasks::bootloaderProgram();
    QCOMPARE(target, appDir + "/utilities/bootloader");
    QVERIFY(QFile::copy(QStringLiteral(PQVK_BOOTLOADER_STANDIN), target));
    QVERIFY(QFile::setPermissions(target, QFile::permissions(target) | QFile::ExeOwner));
}

void TestFirmwareUpdate::runWorker(AppController& controller, const QString& port,
                                   const QString& file)
{
    QVERIFY(QMetaObject::invokeMethod(&controller, "updateFirmwareWorker", Qt::DirectConnection,
                                      Q_ARG(QString, port), Q_ARG(QString, file)));
}

void TestFirmwareUpdate::commandLine_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("resolved"); // relative to the application folder, or absolute
    QTest::newRow("bare name") << "COM3"
                               << "fw.hex"
                               << "firmware/fw.hex";
    QTest::newRow("relative path") << "COM10"
                                   << "v2/fw.hex"
                                   << "firmware/v2/fw.hex";
    QTest::newRow("absolute path") << "/dev/ttyUSB0"
                                   << "/media/stick/fw.hex"
                                   << "/media/stick/fw.hex";
}

void TestFirmwareUpdate::commandLine()
{
    QFETCH(QString, port);
    QFETCH(QString, file);
    QFETCH(QString, resolved);
    if (!resolved.startsWith('/'))
        resolved = appDir + '/' + resolved;
    QCOMPARE(ControllerTasks::bootloaderArguments(port, file),
             QStringList({"-p " + port, resolved}));
}

void TestFirmwareUpdate::update_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("file");     // as the view passes it
    QTest::addColumn<QString>("placedAt"); // where the test puts it, "" for nowhere
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("exitLog");

    const QString done = "Done";
    const QString error = "Error updating firmware.";
    QTest::newRow("bare name from the firmware folder")
        << "COM3"
        << "fw.hex"
        << "firmware/fw.hex" << validHex << done << "code 0 and status 0";
    QTest::newRow("absolute path elsewhere")
        << "ttyUSB0"
        << "@/stick/new.hex"
        << "@/stick/new.hex" << validHex << done << "code 0 and status 0";
    QByteArray badChecksum = validHex;
    badChecksum.replace("0140\r\n", "0141\r\n");
    QTest::newRow("bad checksum") << "COM3"
                                  << "fw.hex"
                                  << "firmware/fw.hex" << badChecksum << error
                                  << "code 1 and status 0";
    QByteArray noEnd = validHex;
    noEnd.replace(":00000001FF\r\n", "");
    QTest::newRow("no end record") << "COM3"
                                   << "fw.hex"
                                   << "firmware/fw.hex" << noEnd << error << "code 1 and status 0";
    QTest::newRow("not a hex file")
        << "COM3"
        << "fw.hex"
        << "firmware/fw.hex" << QByteArray("hello\n") << error << "code 1 and status 0";
    QTest::newRow("missing file") << "COM3"
                                  << "gone.hex"
                                  << "" << QByteArray() << error << "code 1 and status 0";
    QTest::newRow("empty port") << ""
                                << "fw.hex"
                                << "firmware/fw.hex" << validHex << error << "code 2 and status 0";
}

void TestFirmwareUpdate::update()
{
    QFETCH(QString, port);
    QFETCH(QString, file);
    QFETCH(QString, placedAt);
    QFETCH(QByteArray, content);
    QFETCH(QString, outcome);
    QFETCH(QString, exitLog);
    installStandIn();
    file.replace('@', tmp->path());
    placedAt.replace('@', tmp->path());
    if (!placedAt.isEmpty()) {
        const QString path = placedAt.startsWith('/') ? placedAt : appDir + '/' + placedAt;
        QVERIFY(TestSupport::writeFile(path, content));
    }

    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateFirmwareProgress);
    runWorker(controller, port, file);

    QCOMPARE(texts(progress), QStringList({"0,2,1,Firmware update started", "0,2,2," + outcome}));
    QVERIFY2(logHas("Firmware update completed with " + exitLog), qPrintable(exitLog));
    if (outcome == "Done")
        QVERIFY(logHas("Port: " + port)); // "-p <port>" arrived as one argument
}

void TestFirmwareUpdate::missingProgram()
{
    // No utilities folder: the application folder itself is searched, and holds no boot-loader.
    QVERIFY(TestSupport::writeFile(appDir + "/firmware/fw.hex", validHex));
    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateFirmwareProgress);
    runWorker(controller, "COM3", "fw.hex");
    QCOMPARE(texts(progress), QStringList({"0,2,1,Firmware update failed to start",
                                           "0,2,2,Error updating firmware."}));
    QVERIFY(logHas("FailedToStart"));
}

void TestFirmwareUpdate::outputLoggedAsLines()
{
    // The stand-in ends its lines with CR LF, as the real program does on Windows.
    installStandIn();
    QVERIFY(TestSupport::writeFile(appDir + "/firmware/fw.hex", validHex));
    ShellCommand runner;
    QVERIFY(runner.start(ControllerTasks::bootloaderProgram(),
                         ControllerTasks::bootloaderArguments("COM3", "fw.hex")));
    while (runner.isRunning())
        runner.wait(200);
    QVERIFY(runner.hasSucceeded());
    QMutexLocker lock(&logMutex);
    const QStringList output = capturedLog.filter("Verify OK");
    QCOMPARE(output.size(), 1);
    QVERIFY2(!output.first().contains("\\r") && !output.first().contains('\r'),
             qPrintable(output.first()));
}

void TestFirmwareUpdate::waitsOnPoolThread()
{
    // The task's own thread runs no event loop: the runner must still see the
    // end of a boot-loader that takes a few wait slices.
    installStandIn();
    QVERIFY(TestSupport::writeFile(appDir + "/firmware/fw.hex", validHex));
    qputenv("BOOTLOADER_STANDIN_DELAY_MS", "250");
    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateFirmwareProgress);
    controller.updateFirmware("COM3", "fw.hex");
    QTRY_COMPARE_WITH_TIMEOUT(progress.size(), 2, 20000);
    QCOMPARE(texts(progress), QStringList({"0,2,1,Firmware update started", "0,2,2,Done"}));
    QCOMPARE(controller.port(), QStringLiteral("COM3"));
    QThreadPool::globalInstance()->waitForDone();
}

QTEST_MAIN(TestFirmwareUpdate)
#include "tst_firmwareupdate.moc"
