// The real controller behind the real view, on a virtual display: a simulated
// controller unit, the calibration stand-in and temporary cards. Everything is
// started through the view's own functions, as its buttons do. Screenshots of
// the three tabs and of the calibration dialog are saved on the way.
#include "appcontroller.h"
#include "apppaths.h"
#include "calibrationservice.h"
#include "controllersimulator.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QUrl>
#include <QtTest>

#include <memory>

static void initViewResources()
{
    Q_INIT_RESOURCE(views);
}

namespace {

// A template with the parts the stitching writers fill in.
const QByteArray demoTemplate = R"(<?xml version="1.0" encoding="UTF-8"?>
<kava>
  <videos><video file="a" dt="0"/><video file="b" dt="0"/><video file="c" dt="0"/></videos>
  <stabilization><video file="a"/><video file="b"/><video file="c"/></stabilization>
  <exposure><video file="a"/><video file="b"/><video file="c"/></exposure>
  <pano fov="360">
    <images>
      <image><def filename="a"/><camera yaw="0" pitch="0" roll="-90" offset_x="-20" offset_y="0"/></image>
      <image><def filename="b"/><camera yaw="120" pitch="0" roll="-90" offset_x="-20" offset_y="0"/></image>
      <image><def filename="c"/><camera yaw="-120" pitch="0" roll="-90" offset_x="-20" offset_y="0"/></image>
    </images>
  </pano>
  <output file="out.mp4" format="mp4"/>
</kava>
)";

const char* const cardFiles[] = {"DCIM/100QVK/V0001.MOV", "DCIM/100QVK/P0002.JPG",
                                 "DCIM/100QVK/P0003.DNG", "MISC/index.txt"};

QString fileUrl(const QString& path)
{
    return QUrl::fromLocalFile(path).toString();
}

} // namespace

class ViewEnd2End : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void importThroughTheView();
    void connectFillsSettingsTab();
    void copyDataWritesCsvFiles();
    void calibrationDownload();
    void cleanupTestCase();

private:
    QObject* child(const char* name) const;
    QVariant call(const char* function, const QVariant& a = QVariant(),
                  const QVariant& b = QVariant()) const;
    QVariant property(const char* control, const char* name) const;
    void showTab(int index) const;
    void saveScreenshot(const QString& name) const;
    int simulatorDeviceIndex() const;

    // Named for the pictures the test takes.
    QTemporaryDir root{QDir::tempPath() + QStringLiteral("/qvk-demo-XXXXXX")};
    QString screenshotDir;
    ControllerSimulator simulator;
    CalibrationService calibration;
    // The engine goes before the controller it calls.
    std::unique_ptr<AppController> controller;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow* window = nullptr;
};

QObject* ViewEnd2End::child(const char* name) const
{
    QObject* object = window->findChild<QObject*>(QLatin1String(name));
    if (!object)
        qWarning("no control named %s", name);
    return object;
}

QVariant ViewEnd2End::call(const char* function, const QVariant& a, const QVariant& b) const
{
    QVariant result;
    bool ok = false;
    if (!a.isValid())
        ok = QMetaObject::invokeMethod(window, function, Q_RETURN_ARG(QVariant, result));
    else if (!b.isValid())
        ok = QMetaObject::invokeMethod(window, function, Q_RETURN_ARG(QVariant, result),
                                       Q_ARG(QVariant, a));
    else
        ok = QMetaObject::invokeMethod(window, function, Q_RETURN_ARG(QVariant, result),
                                       Q_ARG(QVariant, a), Q_ARG(QVariant, b));
    if (!ok)
        qWarning("the view has no function %s", function);
    return result;
}

QVariant ViewEnd2End::property(const char* control, const char* name) const
{
    QObject* object = child(control);
    return object ? object->property(name) : QVariant();
}

void ViewEnd2End::showTab(int index) const
{
    child("tabBar")->setProperty("currentIndex", index);
}

void ViewEnd2End::saveScreenshot(const QString& name) const
{
    // Let the layout settle and the last change reach the screen.
    QTest::qWait(300);
    const QImage image = window->grabWindow();
    QVERIFY(!image.isNull());
    const QString path = QDir(screenshotDir).absoluteFilePath(name);
    QVERIFY2(image.save(path), qPrintable(path));
    qInfo() << "Screenshot:" << path;
}

int ViewEnd2End::simulatorDeviceIndex() const
{
    const QVariantList devices = window->property("devices").toList();
    for (int i = 0; i < devices.size(); ++i) {
        if (devices.at(i).toMap().value(QStringLiteral("name")).toString() == simulator.portPath())
            return i;
    }
    return -1;
}

void ViewEnd2End::initTestCase()
{
    initViewResources();
    QVERIFY(root.isValid());
    screenshotDir = qEnvironmentVariable("PQVK_SCREENSHOT_DIR");
    if (screenshotDir.isEmpty())
        screenshotDir = qEnvironmentVariable("PQVK_BUILD_DIR", QDir::currentPath()) +
                        QStringLiteral("/screenshots");
    QVERIFY(QDir().mkpath(screenshotDir));

    // The unit holds two datasets and settings that differ from the view's defaults.
    simulator.setDatasets(2, 25);
    simulator.setSettings(0, 2500, 15000, 45, 30);
    QVERIFY(simulator.start());

    const QString calibrations = qEnvironmentVariable("PQVK_SOURCE_DIR") +
                                 QStringLiteral("/tools/calibration/calibrations.json");
    QString error;
    QVERIFY2(calibration.loadFile(calibrations, &error), qPrintable(error));
    QVERIFY(calibration.listen());

    for (int card = 1; card <= 3; ++card) {
        for (const char* file : cardFiles) {
            const QByteArray content = QByteArray(1000 * card, char('A' + card)) + file;
            QVERIFY(TestSupport::writeFile(
                root.filePath(QStringLiteral("QVK_0%1/").arg(card) + QLatin1String(file)),
                content));
        }
    }
    QVERIFY(TestSupport::writeFile(root.filePath(QStringLiteral("Rig.kava")), demoTemplate));

    controller = std::make_unique<AppController>();
    controller->setVersion(AppVersion);
    // The view reads these at start-up: the simulator's port is offered as a device.
    controller->updateSettings({{"ExtraSerialPorts", simulator.portPath()},
                                {"CalibrationServiceUrl", calibration.address()}});

    engine = std::make_unique<QQmlApplicationEngine>();
    engine->rootContext()->setContextProperty(QStringLiteral("appController"), controller.get());
    engine->load(QUrl(QStringLiteral("qrc:/views/Main.qml")));
    QCOMPARE(engine->rootObjects().size(), 1);
    window = qobject_cast<QQuickWindow*>(engine->rootObjects().first());
    QVERIFY(window);
    controller->init(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(simulatorDeviceIndex() >= 0);
}

void ViewEnd2End::importThroughTheView()
{
    QSignalSpy started(window,
                       SIGNAL(copyFiles(QString, QString, QString, QString, QString, QString)));
    // The source chooser puts each card first; the other lists keep their cards.
    for (int card = 1; card <= 3; ++card)
        call("sourceFolderChosen", card,
             fileUrl(root.filePath(QStringLiteral("QVK_0%1").arg(card))));
    call("templateFileChosen", fileUrl(root.filePath(QStringLiteral("Rig.kava"))));
    const QString destination = root.filePath(QStringLiteral("out"));
    child("filesDestinationField")->setProperty("text", destination);
    child("projectNameField")->setProperty("text", QStringLiteral("Reef"));
    QVERIFY(property("copyFilesButton", "enabled").toBool());

    call("copyFilesClicked");
    QCOMPARE(started.count(), 1);
    QCOMPARE(
        started.first().mid(0, 3),
        (QVariantList{root.filePath("QVK_01"), root.filePath("QVK_02"), root.filePath("QVK_03")}));
    QVERIFY(!property("exitButton", "enabled").toBool());

    QTRY_VERIFY_WITH_TIMEOUT(!window->property("cardOneCopying").toBool() &&
                                 !window->property("cardTwoCopying").toBool() &&
                                 !window->property("cardThreeCopying").toBool(),
                             30000);
    for (const char* bar : {"card1Progress", "card2Progress", "card3Progress"}) {
        QCOMPARE(property(bar, "value").toDouble(), property(bar, "to").toDouble());
        QCOMPARE(property(bar, "text").toString(),
                 QStringLiteral("Copied 1/1 videos and 2/2 photos."));
    }
    QVERIFY(property("exitButton", "enabled").toBool());
    QThreadPool::globalInstance()->waitForDone();

    for (int card = 1; card <= 3; ++card) {
        for (const QString& name :
             {QStringLiteral("V0001_Reef_cam%1.MOV"), QStringLiteral("P0002_Reef_cam%1.JPG"),
              QStringLiteral("P0003_Reef_cam%1.DNG")}) {
            const QString copy = destination + "/DCIM/100QVK/" + name.arg(card);
            QVERIFY2(QFileInfo::exists(copy), qPrintable(copy));
        }
    }
    QVERIFY(!QFileInfo::exists(destination + "/MISC/index.txt"));
    QDirIterator projects(destination, {QStringLiteral("*.kava")}, QDir::Files,
                          QDirIterator::Subdirectories);
    QVERIFY2(projects.hasNext(), "no stitching project was written");
    showTab(0);
    saveScreenshot(QStringLiteral("copy-files.png"));
}

void ViewEnd2End::connectFillsSettingsTab()
{
    child("settingsDeviceList")->setProperty("currentIndex", simulatorDeviceIndex());
    QVERIFY(property("connectButton", "enabled").toBool());
    call("connectButtonClicked");
    QVERIFY(window->property("dataCopying").toBool());
    QTRY_VERIFY_WITH_TIMEOUT(!window->property("dataCopying").toBool(), 20000);
    QVERIFY(!property("waitBox", "visible").toBool());

    QCOMPARE(property("firmwareText", "text").toString(), QStringLiteral("2.4.1"));
    QCOMPARE(property("batteryText", "text").toString(), QStringLiteral("60 %"));
    QCOMPARE(property("dateTimeField", "text").toString(),
             QDateTime::fromSecsSinceEpoch(1600000000).toString("yyyy-MM-dd hh:mm:ss"));
    QCOMPARE(property("recordLedBox", "checked").toBool(), false);
    QCOMPARE(property("videoIntervalSlider", "value").toDouble(), 2.5);
    QCOMPARE(property("photoIntervalSlider", "value").toDouble(), 15.0);
    QCOMPARE(property("photoTimeoutSlider", "value").toDouble(), 45.0);
    QCOMPARE(property("e1FirmwareList", "currentIndex").toInt(), 2);
    QCOMPARE(controller->port(), simulator.portPath());
    showTab(2);
    saveScreenshot(QStringLiteral("settings.png"));
}

void ViewEnd2End::copyDataWritesCsvFiles()
{
    child("dataDeviceList")->setProperty("currentIndex", simulatorDeviceIndex());
    const QString folder = root.filePath(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(folder));
    child("dataDestinationField")->setProperty("text", folder);
    child("dataProjectNameField")->setProperty("text", QStringLiteral("Dive"));
    QVERIFY(property("copyDataButton", "enabled").toBool());
    call("copyDataClicked");
    QTRY_VERIFY_WITH_TIMEOUT(!window->property("dataCopying").toBool(), 30000);
    QVERIFY(!property("waitBox", "visible").toBool());

    const QStringList files =
        QDir(folder).entryList({QStringLiteral("vazizidadu_Dive_*.csv")}, QDir::Files);
    QCOMPARE(files.size(), 2);
    for (const QString& file : files) {
        const QList<QByteArray> lines =
            TestSupport::readFile(QDir(folder).filePath(file)).split('\n');
        QVERIFY2(lines.size() > 25, qPrintable(file)); // header and the records
    }
    showTab(1);
    saveScreenshot(QStringLiteral("copy-data.png"));
}

void ViewEnd2End::calibrationDownload()
{
    showTab(0);
    QVERIFY(QMetaObject::invokeMethod(child("changeAnglesButton"), "clicked"));
    QTRY_VERIFY(property("calibrationDialog", "visible").toBool());
    child("serialField")->setProperty("text", QStringLiteral("QVK100001"));
    call("downloadCalibration");
    QTRY_VERIFY_WITH_TIMEOUT(property("infoBox", "visible").toBool(), 10000);
    QCOMPARE(property("infoBox", "text").toString(),
             QStringLiteral("Calibration for serial number QVK100001 found."));

    const QVariantMap stored = controller->getSettings();
    QCOMPARE(stored.value("Serialnumber").toString(), QStringLiteral("QVK100001"));
    QCOMPARE(stored.value("Camera2Yaw").toString(), QStringLiteral("120.3"));
    QCOMPARE(stored.value("Camera3OffsetX").toString(), QStringLiteral("-20.1"));
    QCOMPARE(stored.value("RadiansAngles").toString(), QStringLiteral("0"));
    QCOMPARE(stored.value("ExtraSerialPorts").toString(), simulator.portPath());

    QVERIFY(QMetaObject::invokeMethod(child("infoBox"), "close"));
    QTRY_VERIFY(!property("infoBox", "visible").toBool());
    saveScreenshot(QStringLiteral("calibration.png"));
    QVERIFY(QMetaObject::invokeMethod(child("calibrationDialog"), "close"));
}

void ViewEnd2End::cleanupTestCase()
{
    QThreadPool::globalInstance()->waitForDone();
    engine.reset();
    controller.reset();
}

QTEST_MAIN(ViewEnd2End)

#include "tst_viewend2end.moc"
