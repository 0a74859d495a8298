// The real controller behind the real view on a virtual display, with the
// simulated controller unit, the calibration stand-in and temporary cards.
// Everything starts through the view's own functions, as its buttons do.
// Screenshots of the three tabs, of an import under way and stopped, and of
// every box are saved on the way.
#include "app/chooserprocess.h"
#include "app/screenscaling.h"
#include "base/apppaths.h"
#include "base/transfermeter.h"
#include "calibration/calibrationservice.h"
#include "cards/verifiedcopy.h"
#include "controller/appcontroller.h"
#include "controller/throughputmeter.h"
#include "simulator/controllersimulator.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QUrl>
#include <QtTest>

#include <atomic>
#include <memory>

class ViewEnd2End : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(views);
        screenshotDir = qEnvironmentVariable(
            "PQVK_SCREENSHOT_DIR", qEnvironmentVariable("PQVK_BUILD_DIR") + "/screenshots");
        QVERIFY(QDir().mkpath(screenshotDir));

        // Two datasets and settings that differ from the view's defaults.
        simulator.setDatasets(2, 25);
        simulator.setSettings(0, 2500, 15000, 45, 30);
        QVERIFY(simulator.start());
        QVERIFY(calibration.loadFile(qEnvironmentVariable("PQVK_SOURCE_DIR") +
                                     "/tools/calibration/calibrations.json"));
        QVERIFY(calibration.listen());

        for (int card = 1; card <= 3; ++card) {
            for (const char* file :
                 {"DCIM/100QVK/V0001.MOV", "DCIM/100QVK/P0002.JPG", "DCIM/100QVK/P0003.DNG"}) {
                QVERIFY(TestSupport::writeFile(
                    root.filePath(QStringLiteral("QVK_0%1/%2").arg(card).arg(file)),
                    QByteArray(1000 * card, char('A' + card)) + file));
            }
        }
        // The parts of a template that the stitching writer fills in.
        QVERIFY(TestSupport::writeFile(root.filePath("Rig.kava"), R"(<kava>
<videos><video/><video/><video/></videos><pano><images><image><def/><camera/></image>
<image><def/><camera/></image><image><def/><camera/></image></images></pano><output/></kava>)"));

        controller = std::make_unique<AppController>();
        controller->setVersion(AppVersion);
        // Read by the view at start-up: the simulator's port is offered as a device.
        controller->updateSettings({{"ExtraSerialPorts", simulator.portPath()},
                                    {"CalibrationServiceUrl", calibration.address()}});
        ThroughputMeter::registerType();
        engine = std::make_unique<QQmlApplicationEngine>();
        engine->rootContext()->setContextProperty(QStringLiteral("appController"),
                                                  controller.get());
        engine->rootContext()->setContextProperty(QStringLiteral("chooserProcess"), &chooser);
        engine->load(QUrl(QStringLiteral("qrc:/views/Main.qml")));
        QCOMPARE(engine->rootObjects().size(), 1);
        window = qobject_cast<QQuickWindow*>(engine->rootObjects().first());
        QVERIFY(window);
        controller->init(window);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->requestActivate();                 // the pictures show where the keyboard focus is
        (void)QTest::qWaitForWindowActive(window); // no window manager: may stay inactive
    }

    void importThroughTheView()
    {
        for (int card = 1; card <= 3; ++card)
            call(
                "sourceFolderChosen", card,
                QUrl::fromLocalFile(root.filePath(QStringLiteral("QVK_0%1").arg(card))).toString());
        call("templateFileChosen", QUrl::fromLocalFile(root.filePath("Rig.kava")).toString());
        const QString destination = root.filePath("out");
        child("filesDestinationField")->setProperty("text", destination);
        child("projectNameField")->setProperty("text", "Reef");
        call("copyFilesClicked");
        QTRY_VERIFY_WITH_TIMEOUT(property("exitButton", "enabled").toBool(), 30000);
        // The report after a card's last file already reaches its bound, so the
        // summary may still be on its way when the buttons come back.
        QThreadPool::globalInstance()->waitForDone();
        for (const char* bar : {"card1Progress", "card2Progress", "card3Progress"}) {
            QTRY_COMPARE(property(bar, "text").toString(), "Copied 1/1 videos and 2/2 photos.");
            QCOMPARE(property(bar, "value").toDouble(), property(bar, "to").toDouble());
        }
        const QDir copies(destination + "/DCIM/100QVK");
        QCOMPARE(copies.entryList({"*_Reef_cam?.*"}, QDir::Files).size(), 9);
        QCOMPARE(copies.entryList({"*.kava"}, QDir::Files).size(), 1); // the stitching project
        saveScreenshot(0, "copy-files.png");

        // The erase box names a folder as such, with what it holds.
        const QVariantMap folder =
            controller->eraseCheck(root.filePath("QVK_01"), QString(), QString()).first().toMap();
        QCOMPARE(folder.value("folder").toBool(), true);
        QCOMPARE(folder.value("size").toLongLong(), 3 * (1000 + 21));
    }

    // A slow import: each card's bar shows its throughput and time left beside
    // its text. The byte reports reach the test on the cards' worker threads,
    // which it holds back there: every chunk is reported, the third report
    // comes after the bars' settling time, and the copies wait there until the
    // screenshot is taken. Then "Stop" gives them up: nothing half-written stays.
    void importShowsTimeLeft()
    {
        constexpr qint64 Chunk = VerifiedCopy::ChunkSize;
        constexpr qint64 FileSize = 8 * Chunk;
        for (int card = 1; card <= 3; ++card) {
            QFile video(root.filePath(QStringLiteral("QVK_1%1/DCIM/101QVK/V0101.MOV").arg(card)));
            QVERIFY(QDir().mkpath(QFileInfo(video).path()));
            QVERIFY(video.open(QIODevice::WriteOnly) &&
                    video.resize(FileSize)); // sparse: quick to make
        }
        const qint64 settleTime = TransferMeter::MinimumMs; // until then the bars tell no speed

        QElapsedTimer clock;
        clock.start();
        std::atomic<qint64> firstReport[4] = {{-1}, {-1}, {-1}, {-1}};
        std::atomic<bool> holding{true};
        const auto hold = connect(
            controller.get(), &AppController::updateCardBytes, this,
            [&](const QVariant& card, const QVariant& copied, const QVariant& total) {
                if (!holding)
                    return;
                QThread::msleep(120); // longer than the reports' interval: every chunk is reported
                const int n = card.toInt();
                qint64 expected = -1;
                firstReport[n].compare_exchange_strong(expected, clock.elapsed());
                const qint64 done = copied.toLongLong();
                if (done == 2 * Chunk) {
                    while (clock.elapsed() < firstReport[n] + settleTime + 500)
                        QThread::msleep(20);
                } else if (done > 2 * Chunk && done < total.toLongLong()) {
                    while (holding)
                        QThread::msleep(20);
                }
            },
            Qt::DirectConnection);

        for (int card = 1; card <= 3; ++card)
            call(
                "sourceFolderChosen", card,
                QUrl::fromLocalFile(root.filePath(QStringLiteral("QVK_1%1").arg(card))).toString());
        call("copyFilesClicked");
        for (const char* bar : {"card1Progress", "card2Progress", "card3Progress"})
            QTRY_VERIFY_WITH_TIMEOUT(property(bar, "detail").toString().endsWith(" left"), 20000);
        QVERIFY(property("card1Progress", "text").toString().startsWith("Copying "));
        saveScreenshot(0, "copy-files-import.png");
        QVERIFY(property("stopImportButton", "enabled").toBool());
        QVERIFY(QMetaObject::invokeMethod(child("stopImportButton"), "clicked"));
        holding = false;

        QTRY_VERIFY_WITH_TIMEOUT(property("exitButton", "enabled").toBool(), 30000);
        QThreadPool::globalInstance()->waitForDone();
        disconnect(hold);
        for (const char* bar : {"card1Progress", "card2Progress", "card3Progress"}) {
            QTRY_COMPARE(property(bar, "text").toString(),
                         "Copied 0/1 videos and 0/0 photos. Not copied: 1 video. Import stopped.");
            QCOMPARE(property(bar, "detail").toString(), QString());
            QVERIFY(property(bar, "failed").toBool());
        }
        const QString destination = property("filesDestinationField", "text").toString();
        QCOMPARE(QDir(destination + "/DCIM/101QVK").entryList(QDir::Files | QDir::Hidden),
                 QStringList());
        saveScreenshot(0, "copy-files-stopped.png");
    }

    // Values not read from the unit are saved only when the user says so; the
    // clock read runs on.
    void connectFillsSettingsTab()
    {
        selectSimulator("settingsDeviceList");
        call("saveRequested");
        QTRY_VERIFY(property("unreadSaveBox", "opened").toBool());
        saveScreenshot(2, "save-not-read.png");
        QVERIFY(QMetaObject::invokeMethod(child("unreadSaveBoxCancelButton"), "clicked"));
        QTRY_VERIFY(!property("unreadSaveBox", "visible").toBool());
        simulator.setAnswerDelay(1000); // long enough for a picture of the wait box
        call("connectButtonClicked");
        QTRY_VERIFY(property("waitBox", "opened").toBool());
        saveScreenshot(2, "wait.png");
        simulator.setAnswerDelay(0);
        QTRY_VERIFY_WITH_TIMEOUT(!window->property("dataCopying").toBool(), 20000);
        QVERIFY(!property("waitBox", "visible").toBool());
        const QString date =
            QDateTime::fromSecsSinceEpoch(1600000000).toString("yyyy-MM-dd hh:mm:ss");
        const QVariantList shown = {
            property("firmwareText", "text"),         property("batteryText", "text"),
            property("dateTimeField", "text"),        property("recordLedBox", "checked"),
            property("videoIntervalSlider", "value"), property("photoIntervalSlider", "value"),
            property("photoTimeoutSlider", "value"),  property("e1FirmwareList", "currentIndex")};
        QCOMPARE(shown, QVariantList({"2.4.1", "60 %", date, false, 2.5, 15.0, 45.0, 2}));
        saveScreenshot(2, "settings.png");
        QTRY_VERIFY(property("dateTimeField", "text").toString() > date);
    }

    void copyDataWritesCsvFiles()
    {
        selectSimulator("dataDeviceList");
        const QString folder = root.filePath("data/new"); // made by the export
        child("dataDestinationField")->setProperty("text", folder);
        child("dataProjectNameField")->setProperty("text", "Dive");
        call("copyDataClicked");
        QTRY_VERIFY_WITH_TIMEOUT(!window->property("dataCopying").toBool(), 30000);
        const QStringList files = QDir(folder).entryList({"vazizidadu_Dive_*.csv"}, QDir::Files);
        QCOMPARE(files.size(), 2);
        for (const QString& file : files) // a header and the 25 records
            QVERIFY2(TestSupport::readFile(QDir(folder).filePath(file)).count('\n') >= 26,
                     qPrintable(file));
        saveScreenshot(1, "copy-data.png");
    }

    // More records than the export saved: the erase asks, with the count and
    // why, and erases them once told to.
    void eraseMemoryAnyway()
    {
        simulator.setDatasets(3, 5);
        const int held = simulator.recordCount();
        selectSimulator("dataDeviceList");
        call("eraseMemoryClicked", true);
        QTRY_VERIFY_WITH_TIMEOUT(property("eraseMemoryAnywayBox", "visible").toBool(), 20000);
        saveScreenshot(-1, "erase-memory-anyway.png");
        const QString question = property("eraseMemoryAnywayBoxQuestion", "text").toString();
        QVERIFY2(question.startsWith(QStringLiteral("The unit holds %1 records that no complete "
                                                    "export recorded here has saved (")
                                         .arg(held)) &&
                     question.endsWith("). Erase anyway?"),
                 qPrintable(question));
        QCOMPARE(simulator.recordCount(), held);
        QVERIFY(QMetaObject::invokeMethod(child("eraseMemoryAnywayBoxConfirmButton"), "clicked"));
        QTRY_COMPARE_WITH_TIMEOUT(property("dataProgress", "text").toString(),
                                  "Success. Memory erased.", 20000);
        QCOMPARE(simulator.recordCount(), 0);
        QTRY_VERIFY(!window->property("dataCopying").toBool());
    }

    // Without a dialog of the platform's own, the chooser is Qt's widget
    // dialog: folders can be made in it, and nothing complains in the log.
    // At this scale Qt's widget dialog would be cut off: the chooser runs in
    // its own process at the desktop's scale while the window waits, and the
    // choice reaches the field.
    void choosersAtDesktopScale()
    {
        QVERIFY(window->devicePixelRatio() < 1);
        const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        QVERIFY(QDir().mkpath(movies));
        qputenv("PQVK_CHOOSER_TEST_PICTURE",
                QDir(screenshotDir).absoluteFilePath("folder-chooser.png").toLocal8Bit());
        TestSupport::capturedLog.clear();
        const QtMessageHandler previous = qInstallMessageHandler(TestSupport::captureLog);
        QVERIFY(QMetaObject::invokeMethod(child("fileChoosers"), "openDestinationFolderDialog",
                                          Q_ARG(QVariant, false)));
        QTRY_VERIFY(property("chooserWaitBox", "opened").toBool());
        QTRY_COMPARE_WITH_TIMEOUT(property("dataDestinationField", "text").toString(), movies,
                                  15000);
        QTRY_VERIFY(!property("chooserWaitBox", "visible").toBool());
        qInstallMessageHandler(previous);
        qunsetenv("PQVK_CHOOSER_TEST_PICTURE");
        QCOMPARE(TestSupport::capturedLog.filter("device pixel ratio"),
                 QStringList{"I File chooser: Shown at device pixel ratio 1"});
    }

    void calibrationDownload()
    {
        child("tabBar")->setProperty("currentIndex", 0);
        QVERIFY(QMetaObject::invokeMethod(child("changeAnglesButton"), "clicked"));
        QTRY_VERIFY(property("calibrationDialog", "visible").toBool());
        child("serialField")->setProperty("text", "QVK100001");
        call("downloadCalibration");
        QTRY_VERIFY_WITH_TIMEOUT(property("infoBox", "visible").toBool(), 10000);
        QCOMPARE(property("infoBox", "text").toString(),
                 "Calibration for serial number QVK100001 found.");
        saveScreenshot(-1, "info.png");
        const QVariantMap stored = controller->getSettings();
        QCOMPARE(stored.value("Serialnumber").toString(), "QVK100001");
        QCOMPARE(stored.value("Camera2Yaw").toString(), "120.3");
        QCOMPARE(stored.value("ExtraSerialPorts").toString(), simulator.portPath());

        QVERIFY(QMetaObject::invokeMethod(child("infoBox"), "close"));
        QTRY_VERIFY(!property("infoBox", "visible").toBool());
        saveScreenshot(-1, "calibration.png");
    }

    // The other boxes as the user meets them, for the pictures, each opened by
    // its button on its tab. (The cards here are folders: nothing to wipe, so
    // no box about files a wipe would lose.)
    void boxesAsOpened()
    {
        QVERIFY(QMetaObject::invokeMethod(child("calibrationDialog"), "close"));
        QVERIFY(TestSupport::writeFile(root.filePath("Broken.kava"), "<kava>"));
        call("templateFileChosen", QUrl::fromLocalFile(root.filePath("Broken.kava")).toString());
        const struct
        {
            int tab;
            const char *button, *box, *picture;
        } boxes[] = {{0, "eraseCardsButton", "eraseCardsBox", "erase-cards.png"},
                     {0, "copyFilesButton", "noTemplateBox", "copy-without-template.png"},
                     {1, "eraseMemoryButton", "eraseMemoryBox", "erase-memory.png"},
                     {2, "resetSettingsButton", "resetSettingsBox", "reset-settings.png"},
                     {2, "updateFirmwareButton", "updateFirmwareBox", "update-firmware.png"}};
        for (const auto& b : boxes) {
            child("tabBar")->setProperty("currentIndex", b.tab);
            QVERIFY2(property(b.button, "enabled").toBool(), b.button);
            QVERIFY(QMetaObject::invokeMethod(child(b.button), "clicked"));
            QTRY_VERIFY2(property(b.box, "opened").toBool(), b.box);
            saveScreenshot(-1, b.picture);
            QVERIFY(QMetaObject::invokeMethod(child(b.box), "close"));
            QTRY_VERIFY(!property(b.box, "visible").toBool());
        }
    }

private:
    QObject* child(const char* name) const
    {
        QObject* object = window->findChild<QObject*>(QLatin1String(name));
        if (!object)
            qFatal("no control named %s", name);
        return object;
    }
    QVariant property(const char* control, const char* name) const
    {
        return child(control)->property(name);
    }
    template <typename... Args> void call(const char* function, Args... args) const
    {
        QVariant result;
        if (!QMetaObject::invokeMethod(window, function, Q_RETURN_ARG(QVariant, result),
                                       Q_ARG(QVariant, QVariant(args))...))
            qFatal("the view has no function %s", function);
    }
    void selectSimulator(const char* list) const
    {
        const QVariantList devices = window->property("devices").toList();
        for (int i = 0; i < devices.size(); ++i) {
            if (devices.at(i).toMap().value("name").toString() == simulator.portPath())
                child(list)->setProperty("currentIndex", i);
        }
    }
    void saveScreenshot(int tab, const QString& name) const
    {
        if (tab >= 0)
            child("tabBar")->setProperty("currentIndex", tab);
        QTest::qWait(300); // lets the layout settle and reach the screen
        const QString path = QDir(screenshotDir).absoluteFilePath(name);
        QVERIFY2(window->grabWindow().save(path), qPrintable(path));
        qInfo() << "Screenshot:" << path;
    }

    // Its name shows in the pictures.
    QTemporaryDir root{QDir::tempPath() + "/qvk-demo-XXXXXX"};
    QString screenshotDir;
    ControllerSimulator simulator;
    CalibrationService calibration;
    // Declared after the controller it calls, so it goes first.
    std::unique_ptr<AppController> controller;
    ChooserProcess chooser{qEnvironmentVariable("PQVK_BUILD_DIR") + "/VazizidADU"};
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow* window = nullptr;
};

// The window at the scale the app computes for the screen it runs on.
int main(int argc, char** argv)
{
    ScreenScaling scaling;
    qputenv("QT_SCALE_FACTOR",
            QByteArray::number(scaling.calculateScaleFactor(argc, argv), 'g', 6));
    QApplication app(argc, argv); // as the app
    QTEST_SET_MAIN_SOURCE_PATH
    ViewEnd2End test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_viewend2end.moc"
