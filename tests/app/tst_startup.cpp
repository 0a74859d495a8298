#include "app/screenscaling.h"
#include "app/startup.h"
#include "base/apppaths.h"
#include "controller/appcontroller.h"
#include "link/unitwaits.h"
#include "simulator/controllersimulator.h"
#include "support/testsupport.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtTest>

#include <csignal>

// Runs without an application object: the scale computation makes its own.
class TestStartup : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void cleanup()
    {
        qunsetenv("QT_AUTO_SCREEN_SCALE_FACTOR");
        qunsetenv("QT_SCALE_FACTOR");
        QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, false);
        UnitWaits::setDefaults(UnitWaits());
    }
    // First: once the probe's application has ended, the global pool is gone.
    // The controller is destroyed right after shut-down: a task still reporting
    // through it must have ended first. A unit that left the last Connect
    // unanswered is not asked once more.
    void shutDownWaitsForTasks()
    {
        ControllerSimulator sim;
        QVERIFY(sim.start());
        sim.setSilent(true);
        TestSupport::setWaits({{&UnitWaits::answerMs, 200}});
        QScopedPointer<AppController> controller(new AppController);
        controller->setPort(sim.portPath());
        QVERIFY(QMetaObject::invokeMethod(controller.get(), "readSettingsWorker",
                                          Qt::DirectConnection, Q_ARG(QString, sim.portPath())));
        const QStringList asked = sim.receivedCommands();
        QAtomicInt finished;
        QtConcurrent::run([&controller, &finished] {
            QThread::msleep(300);
            emit controller->updateDataProgress(0, 2, 1, QStringLiteral("still working ..."));
            finished.storeRelease(1);
        });
        QTest::ignoreMessage(QtInfoMsg, "Shutting down camera ...");
        QTest::ignoreMessage(QtInfoMsg, qPrintable("The unit on " + sim.portPath() +
                                                   " did not answer; not turned off"));
        shutDownController(*controller);
        QCOMPARE(finished.loadAcquire(), 1);
        QCOMPARE(sim.receivedCommands(), asked);
    }

    // The real app in a home of its own, with hand-edited settings, closed through
    // its window.
    void startAndNormalClose()
    {
        QTemporaryDir home;
        const QString dataDir = home.filePath(".local/share/Pelorin QVK");
        const QString iniPath = dataDir + "/VazizidADU.ini", logPath = dataDir + "/VazizidADU.log";
        QVERIFY(TestSupport::writeFile(iniPath, "[General]\nEnableAutoScale=yes\nEnableScaleFactor="
                                                "false\nEnableHighDpiScaling=\nScaleFactor=1.5\n"));
        QVERIFY(TestSupport::writeFile(logPath, "line of an earlier run\n"));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", home.filePath(".local/share"));
        env.insert("QT_QUICK_BACKEND", "software");
        env.insert("LD_PRELOAD", PQVK_AUTOCLOSE);
        const TestSupport::ProgramRun app = TestSupport::runProgram(PQVK_APP, {}, {}, env);
        QVERIFY2(app.status == 0, qPrintable(app.err.right(3000)));

        QStringList lines; // without their time stamps
        for (const QString& line :
             QString::fromLocal8Bit(TestSupport::readFile(logPath)).split('\n'))
            if (!line.isEmpty())
                lines << line.mid(24);
        QVERIFY2(lines.size() > 27, qPrintable(lines.join('\n')));
        QCOMPARE(lines.first(), QStringLiteral("Info: Application start"));
        // The system report names the scale the settings chose.
        QCOMPARE(lines.at(23), QStringLiteral("Info: ScaleFactor: 1.5"));
        // A widgets application: the file choosers fall back to Qt's widget dialog.
        QVERIFY(lines.contains("Info: Test application: QApplication"));
        QCOMPARE(lines.mid(lines.size() - 3),
                 QStringList({"Info: Shutting down camera ...", "Info: No camera connected",
                              "Info: Application end"}));

        // Only this run, nothing from before the handler, and a view that fits the controller.
        QCOMPARE(lines.filter("earlier run").size(), 0);
        QCOMPARE(lines.filter("Updating App path").size(), 1);
        QVERIFY(app.err.contains("VazizidADU.ini path: \"" + iniPath + '"'));
        QCOMPARE(lines.filter("VazizidADU.ini path:").size(), 0);
        QCOMPARE(lines.filter("QObject::connect").size(), 0);

        QSettings stored(iniPath, QSettings::IniFormat);
        QStringList values;
        for (const char* key : {"EnableAutoScale", "EnableScaleFactor", "EnableHighDpiScaling",
                                "AppVersion", "AppName"})
            values << stored.value(key).toString();
        QCOMPARE(values.join(','), QStringLiteral("1,0,0,1.8.3,Pelorin QVK"));
    }

    void endByStopSignalOrMissingWindow_data()
    {
        QTest::addColumn<int>("signal"); // 0: none is sent
        QTest::addColumn<bool>("window");
        // Logout, kill, Ctrl-C and a closed terminal end the app as closing does.
        QTest::newRow("SIGTERM") << int(SIGTERM) << true;
        QTest::newRow("SIGINT") << int(SIGINT) << true;
        QTest::newRow("SIGHUP") << int(SIGHUP) << true;
        // A QML module that cannot load (as one missing on a clean system): no
        // window, so no process left behind.
        QTest::newRow("no window") << 0 << false;
    }

    void endByStopSignalOrMissingWindow()
    {
        QFETCH(int, signal);
        QFETCH(bool, window);
        ControllerSimulator sim;
        QVERIFY(sim.start());
        QTemporaryDir home;
        const QString logPath = home.filePath(".local/share/Pelorin QVK/VazizidADU.log");
        QVERIFY(TestSupport::writeFile(home.filePath(".local/share/Pelorin QVK/VazizidADU.ini"),
                                       "[General]\nExtraSerialPorts=" + sim.portPath().toUtf8() +
                                           '\n'));
        QVERIFY(TestSupport::writeFile(home.filePath("qml/QtQuick/Controls.2/qmldir"),
                                       "module QtQuick.Controls\nplugin qvkmissingcontrols\n"));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", home.filePath(".local/share"));
        env.insert("QT_QUICK_BACKEND", "software");
        // The helper picks the simulator's port as the user would, and leaves the window open.
        env.insert("LD_PRELOAD", PQVK_AUTOCLOSE);
        env.insert("PQVK_SELECT_PORT", sim.portPath());
        env.insert("PQVK_KEEP_OPEN", "1");
        if (!window)
            env.insert("QML2_IMPORT_PATH", home.filePath("qml"));
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(PQVK_APP, QStringList());
        QVERIFY(process.waitForStarted());
        if (signal) {
            QTRY_VERIFY_WITH_TIMEOUT(TestSupport::readFile(logPath).contains("Test port selected"),
                                     120000);
            QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
        }
        QVERIFY2(process.waitForFinished(120000), "the app did not end");
        const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
        const QString log = QString::fromLocal8Bit(TestSupport::readFile(logPath));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        if (!window) {
            QCOMPARE(process.exitCode(), 1);
            // Both say why: the module that could not load.
            QVERIFY2(errors.contains("qvkmissingcontrols"), qPrintable(errors.right(3000)));
            QVERIFY2(log.contains("Critical: The window could not be created"), qPrintable(log));
            QCOMPARE(sim.receivedCount("PQVKOFF"), 0);
            return;
        }
        QVERIFY2(process.exitCode() == 0, qPrintable(errors.right(3000)));
        QCOMPARE(sim.receivedCount("PQVKOFF"), 1);
        QStringList lines; // without their time stamps
        for (const QString& line : log.split('\n', Qt::SkipEmptyParts))
            lines << line.mid(24);
        QVERIFY2(lines.contains(QString("Info: Closing on \"%1\"").arg(QTest::currentDataTag())),
                 qPrintable(log.right(2000)));
        QCOMPARE(lines.mid(lines.size() - 2),
                 QStringList({"Info: Camera shut down", "Info: Application end"}));
    }

    void scaleFactor_data()
    {
        QTest::addColumn<int>("availableHeight"); // 0: no primary screen
        QTest::addColumn<double>("dpi");
        QTest::addColumn<QString>("stored"); // "ScaleFactor" in the settings file, null when absent
        QTest::addColumn<double>("expected");

        // Between 1300 and 1800 pixels (both excluded) a screen counts as 1000
        // high; no computed factor takes 14 px body text below 11 px (11/14).
        const double readable = 11.0 / 14.0;
        const struct
        {
            int height;
            double dpi, factor;
        } screens[] = {{768, 96, readable},  {1040, 96, readable}, {1300, 96, 0.866667},
                       {1400, 96, readable}, {1800, 96, 1.2},      {2100, 120, 1.12}};
        for (const auto& s : screens)
            QTest::addRow("%d px at %g dpi", s.height, s.dpi)
                << s.height << s.dpi << QString() << s.factor;
        QTest::newRow("settings 0.1 does not count") << 1040 << 96.0 << "0.1" << readable;
        QTest::newRow("settings 1.25") << 1040 << 96.0 << "1.25" << 1.25;
        QTest::newRow("settings 0.5 is kept") << 1040 << 96.0 << "0.5" << 0.5;
        QTest::newRow("settings not a number") << 1040 << 96.0 << "big" << readable;
        QTest::newRow("no screen") << 0 << 0.0 << QString() << 0.0;
        QTest::newRow("no screen, settings 1.25") << 0 << 0.0 << "1.25" << 1.25;
    }

    void scaleFactor()
    {
        QFETCH(int, availableHeight);
        QFETCH(double, dpi);
        QFETCH(QString, stored);
        QFETCH(double, expected);

        QSettings settings(dir.filePath("scale.ini"), QSettings::IniFormat);
        settings.clear();
        if (!stored.isNull())
            settings.setValue("ScaleFactor", stored);
        ScreenScaling scaling(readScaleFactorSetting(settings));
        scaling.availableSizeHeight = availableHeight;
        scaling.logicalDpi = dpi;
        const double factor = scaling.computeScaleFactor(availableHeight > 0);
        QVERIFY2(qAbs(factor - expected) < 1e-6, qPrintable(QString::number(factor)));
    }

    // The temporary application reads the real (offscreen) screen and must leave
    // the framework's options for the application created after it.
    void probeKeepsFrameworkArguments()
    {
        QByteArray program = "VazizidADU", platform = "-platform", name = "offscreen";
        char* argv[] = {program.data(), platform.data(), name.data(), nullptr};
        updateAppDirPath(dir.filePath("VazizidADU"));
        ScreenScaling scaling;
        const double factor = scaling.calculateScaleFactor(3, argv);

        QCOMPARE(QByteArrayList({argv[1], argv[2]}).join(" "), QByteArray("-platform offscreen"));
        QVERIFY(!QCoreApplication::instance());
        QVERIFY(scaling.availableSizeHeight > 0 && scaling.logicalDpi > 0);
        QCOMPARE(scaling.screenScaleFactor,
                 64.0 / scaling.logicalDpi * scaling.availableSizeHeight / 1000.0);
        QCOMPARE(factor, qMax(scaling.screenScaleFactor, 11.0 / 14.0));
    }

    // stored: EnableAutoScale EnableScaleFactor EnableHighDpiScaling, "-" when absent.
    // expected: the switches as written back, then QT_AUTO_SCREEN_SCALE_FACTOR and
    // QT_SCALE_FACTOR ("-" when unset) and whether high-DPI scaling is on.
    void switches_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<double>("factor");
        QTest::addColumn<QString>("expected");
        QTest::newRow("absent gives the defaults") << "- - -" << 2.0 / 3.0 << "0 1 1 - 0.666667 1";
        QTest::newRow("yes becomes 1") << "yes 1 1" << 1.25 << "1 1 1 1 1.25 1";
        QTest::newRow("0 leaves the variable unset") << "0 0 0" << 1.5 << "0 0 0 - - 0";
        // A factor not above 0 would shrink the window to nothing: left unset.
        QTest::newRow("no screen gives 0") << "- - -" << 0.0 << "0 1 1 - - 1";
        QTest::newRow("negative factor") << "0 1 1" << -0.5 << "0 1 1 - - 1";
    }

    void switches()
    {
        QFETCH(QString, stored);
        QFETCH(double, factor);
        QFETCH(QString, expected);

        const QStringList keys{"EnableAutoScale", "EnableScaleFactor", "EnableHighDpiScaling"};
        QFile::remove(dir.filePath("switches.ini"));
        QSettings settings(dir.filePath("switches.ini"), QSettings::IniFormat);
        for (int i = 0; i < keys.size(); ++i) {
            if (stored.split(' ')[i] != "-")
                settings.setValue(keys[i], stored.split(' ')[i]);
        }
        applyStartupSettings(settings, factor);

        QStringList result; // what the next start reads, then what this one set
        for (const QString& key : keys)
            result << settings.value(key).toString();
        for (const char* name : {"QT_AUTO_SCREEN_SCALE_FACTOR", "QT_SCALE_FACTOR"})
            result << (qEnvironmentVariableIsSet(name) ? qEnvironmentVariable(name) : "-");
        result << QString::number(QCoreApplication::testAttribute(Qt::AA_EnableHighDpiScaling));
        QCOMPARE(result.join(' '), expected);
    }
};

QTEST_APPLESS_MAIN(TestStartup)
#include "tst_startup.moc"
