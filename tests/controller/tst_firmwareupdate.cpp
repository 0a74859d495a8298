// The firmware update task with the boot-loader stand-in in a temporary
// application folder: the command line it builds, how the outcome is judged,
// and the wait on a pool thread that runs no event loop.
#include "appcontroller.h"
#include "apppaths.h"
#include "controllertasks.h"
#include "shellcommand.h"
#include "taskreports.h"
#include "testsupport.h"

#include <QtTest>

using TaskReports::LogCapture;
using TaskReports::texts;

namespace {

// A well-formed Intel HEX file: two data records and the end record.
const QByteArray validHex = ":10010000214601360121470136007EFE09D2190140\r\n"
                            ":100110002146017E17C20001FF5F16002148011928\r\n"
                            ":00000001FF\r\n";

} // namespace

class TestFirmwareUpdate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
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
    std::unique_ptr<LogCapture> log;
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
    log = std::make_unique<LogCapture>();
}

void TestFirmwareUpdate::cleanup()
{
    log.reset();
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

void TestFirmwareUpdate::update_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("file");     // as the view passes it
    QTest::addColumn<QString>("placedAt"); // where the task must find it
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("exitLog");

    const QString done = "Done";
    const QString error = "Error updating firmware.";
    QTest::newRow("bare name from the firmware folder")
        << "COM3"
        << "fw.hex"
        << "firmware/fw.hex" << validHex << done << "code 0 and status 0";
    QTest::newRow("relative path under the firmware folder")
        << "COM10"
        << "v2/fw.hex"
        << "firmware/v2/fw.hex" << validHex << done << "code 0 and status 0";
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
                                  << "firmware/gone.hex" << QByteArray() << error
                                  << "code 1 and status 0";
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
    if (!placedAt.startsWith('/'))
        placedAt = appDir + '/' + placedAt;
    if (!content.isEmpty())
        QVERIFY(TestSupport::writeFile(placedAt, content));

    AppController controller;
    QSignalSpy progress(&controller, &AppController::updateFirmwareProgress);
    runWorker(controller, port, file);

    QCOMPARE(texts(progress), QStringList({"0,2,1,Firmware update started", "0,2,2," + outcome}));
    QVERIFY2(log->contains("Firmware update completed with " + exitLog), qPrintable(exitLog));
    if (outcome == "Done") {
        QVERIFY(log->contains("Port: " + port)); // "-p <port>" arrived as one argument
        QVERIFY(log->contains("File: " + placedAt));
    }
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
    QVERIFY(log->contains("FailedToStart"));
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
    const QStringList output = log->all().filter("Verify OK");
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
