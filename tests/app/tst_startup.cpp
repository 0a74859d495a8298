#include "appcontroller.h"
#include "startup.h"
#include "testsupport.h"

#include <QAtomicInt>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void shutDownWaitsForTasks_data();
    void shutDownWaitsForTasks();
    void startAndNormalClose_data();
    void startAndNormalClose();
};

void TestStartup::shutDownWaitsForTasks_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("lastMessage");
    QTest::newRow("no device selected") << QString() << QStringLiteral("No camera connected");
    QTest::newRow("device selected")
        << QStringLiteral("/nonexistent/qvk-port") << QStringLiteral("Camera shut down");
}

// A task still reporting through the controller when the event loop ends must
// be finished before shut-down goes on (the controller is destroyed next).
void TestStartup::shutDownWaitsForTasks()
{
    QFETCH(QString, port);
    QFETCH(QString, lastMessage);

    auto* controller = new AppController;
    controller->setPort(port);
    QAtomicInt finished;
    QtConcurrent::run(QThreadPool::globalInstance(), [controller, &finished] {
        QThread::msleep(300);
        emit controller->updateDataProgress(0, 2, 1, QStringLiteral("still working ..."));
        finished.storeRelease(1);
    });

    QTest::ignoreMessage(QtInfoMsg, "Shutting down camera ...");
    QTest::ignoreMessage(QtInfoMsg, qPrintable(lastMessage));
    shutDownController(*controller);
    QCOMPARE(finished.loadAcquire(), 1);
    delete controller;
}

void TestStartup::startAndNormalClose_data()
{
    QTest::addColumn<QByteArray>("storedSettings"); // empty: no settings file yet
    QTest::addColumn<QString>("switches");          // as written back
    QTest::addColumn<QString>("settingsFactor");    // as the report shows it

    QTest::newRow("first start") << QByteArray() << QStringLiteral("0 1 1") << QStringLiteral("0");
    QTest::newRow("hand-edited switches")
        << QByteArray("[General]\nEnableAutoScale=yes\nEnableScaleFactor=false\n"
                      "EnableHighDpiScaling=\nScaleFactor=1.5\n")
        << QStringLiteral("1 0 0") << QStringLiteral("1.5");
}

// The real app in a home of its own, closed through its window.
void TestStartup::startAndNormalClose()
{
    QFETCH(QByteArray, storedSettings);
    QFETCH(QString, switches);
    QFETCH(QString, settingsFactor);

    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString dataDir = home.filePath(QStringLiteral(".local/share/Pelorin QVK"));
    const QString iniPath = dataDir + QStringLiteral("/VazizidADU.ini");
    const QString logPath = dataDir + QStringLiteral("/VazizidADU.log");
    if (!storedSettings.isEmpty())
        QVERIFY(TestSupport::writeFile(iniPath, storedSettings));
    QVERIFY(TestSupport::writeFile(logPath, "line of an earlier run\n"));
    QVERIFY(QDir().mkpath(home.filePath(QStringLiteral("runtime"))));
    QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral(".local/share")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral(".cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(PQVK_AUTOCLOSE));
    env.remove(QStringLiteral("QT_SCALE_FACTOR"));

    QProcess app;
    app.setProcessEnvironment(env);
    app.start(QStringLiteral(PQVK_APP), QStringList());
    QVERIFY(app.waitForStarted());
    QVERIFY2(app.waitForFinished(120000), "the app did not end");
    const QString errors = QString::fromLocal8Bit(app.readAllStandardError());
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QVERIFY2(app.exitCode() == 0, qPrintable(errors.right(3000)));

    // The lines without their time stamps.
    QStringList lines;
    const QStringList raw = QString::fromLocal8Bit(TestSupport::readFile(logPath)).split('\n');
    for (const QString& line : raw) {
        if (!line.isEmpty())
            lines << line.mid(24);
    }
    QVERIFY2(lines.size() > 27, qPrintable(lines.join('\n')));

    QCOMPARE(lines.first(), QStringLiteral("Info: Application start"));
    const QStringList report = {"AppName: \"Pelorin QVK\"",
                                "AppVersion: \"1.8.3\"",
                                "AppExecutable: \"" PQVK_APP "\"",
                                "AppDirectory: ",
                                "WorkingDirectory: ",
                                "CpuArchitecture: \"",
                                "KernelType: \"",
                                "KernelVersion: \"",
                                "OperatingSystem: \"",
                                "PhysicalSizeHeight: ",
                                "PhysicalDpi: ",
                                "LogicalDpi: ",
                                "SizeHeight: ",
                                "GeometryHeight: ",
                                "AvailableSizeHeight: ",
                                "AvailableGeometryHeight: ",
                                "AvailableVirtualGeometryHeight: ",
                                "AvailableVirtualSizeHeight: ",
                                "VirtualGeometryHeight: ",
                                "VirtualSizeHeight: ",
                                "CalculatedScaleFactor: ",
                                "SettingsScaleFactor: " + settingsFactor,
                                "ScaleFactor: "};
    for (int i = 0; i < report.size(); ++i)
        QVERIFY2(lines.at(1 + i).startsWith("Info: " + report.at(i)), qPrintable(lines.at(1 + i)));
    const QString appDir = QFileInfo(QStringLiteral(PQVK_APP)).absolutePath();
    QCOMPARE(lines.at(4), "Info: AppDirectory: \"" + appDir + '"');
    QCOMPARE(lines.at(5), "Info: WorkingDirectory: \"" + appDir + '"');
    if (settingsFactor != QLatin1String("0"))
        QCOMPARE(lines.at(23), "Info: ScaleFactor: " + settingsFactor);

    // Only this run, and nothing from before the handler was installed.
    QCOMPARE(lines.filter(QStringLiteral("earlier run")).size(), 0);
    QCOMPARE(lines.filter(QStringLiteral("Application start")).size(), 1);
    QCOMPARE(lines.filter(QStringLiteral("Updating App path")).size(), 1);
    QCOMPARE(lines.filter(QStringLiteral("VazizidADU.ini path:")).size(), 0);
    QVERIFY(errors.contains(QStringLiteral("VazizidADU.ini path: \"") + iniPath + '"'));

    QCOMPARE(lines.mid(lines.size() - 3),
             QStringList({"Info: Shutting down camera ...", "Info: No camera connected",
                          "Info: Application end"}));

    QSettings stored(iniPath, QSettings::IniFormat);
    QCOMPARE(stored.value(QStringLiteral("EnableAutoScale")).toString() + ' ' +
                 stored.value(QStringLiteral("EnableScaleFactor")).toString() + ' ' +
                 stored.value(QStringLiteral("EnableHighDpiScaling")).toString(),
             switches);
    QCOMPARE(stored.value(QStringLiteral("AppVersion")).toString(), QStringLiteral("1.8.3"));
    QCOMPARE(stored.value(QStringLiteral("AppName")).toString(), QStringLiteral("Pelorin QVK"));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
