#include "controller/appcontroller.h"
#include "support/testsupport.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

namespace {

// A stand-in for the view's window: the signals and functions the controller
// connects; each function records how it was called, and fire() emits a signal.
// clang-format off
const char* const TestWindow = R"QML(
import QtQuick 2.7
import QtQuick.Window 2.2
Window {
    id: root
    property string lastCall: ""
    property string lastOutcome: ""
    signal copyFiles(string dir1, string dir2, string dir3, string targetDir, string templatePath, string projectName, bool skipImported)
    signal copyData(string port, string targetDir, string projectName)
    signal eraseCards(string dir1, string dir2, string dir3, bool eraseCards, bool createSyncConfig)
    signal eraseCardsForced(string dir1, string dir2, string dir3, bool eraseCards, bool createSyncConfig)
    signal prepareCards(string dir1, string dir2, string dir3, bool eraseCards, bool createSyncConfig, bool force, bool reverify)
    signal readCameraSettings(string port)
    signal saveCameraSettings(string port, string date, int recLedOn, double loggingInterval, double timelapseInterval, double timelapseTimeout, int e1FirmwareVersion)
    signal resetCameraSettings(string port)
    signal eraseMemory(string port)
    signal eraseMemoryForced(string port)
    signal exitApp()
    function fire(name, args) { root[name].apply(root, args) }
    function record(name, args) { lastCall = name + "(" + Array.prototype.join.call(args, ", ") + ")" }
    function updateCardProgress(card, from, to, value, text) { record("updateCardProgress", arguments) }
    function updateCardBytes(card, copied, total) { record("updateCardBytes", arguments) }
    function updateDataProgress(from, to, value, text) { record("updateDataProgress", arguments) }
    function updateCameraSettingsProgress(from, to, value, text) { record("updateCameraSettingsProgress", arguments) }
    function updateCameraSettings(firmware, battery, date, recLedOn, loggingInterval, timelapseInterval, timelapseTimeout, e1) { record("updateCameraSettings", arguments) }
    function updateFirmwareProgress(from, to, value, text) { record("updateFirmwareProgress", arguments) }
    function ended(name, card, outcome) { lastOutcome = name + "(" + (card ? card + ", " : "") + outcome.status + ")" }
    function cardOutcome(card, outcome) { ended("cardOutcome", card, outcome) }
    function importOutcome(outcome) { ended("importOutcome", 0, outcome) }
    function prepareOutcome(card, outcome) { ended("prepareOutcome", card, outcome) }
    function dataOutcome(outcome) { ended("dataOutcome", 0, outcome) }
    function cameraSettingsOutcome(outcome) { ended("cameraSettingsOutcome", 0, outcome) }
    function firmwareOutcome(outcome) { ended("firmwareOutcome", 0, outcome) }
}
)QML";
// clang-format on

// A port that no system has, so tasks that reach it fail at once.
const QString NoPort = QStringLiteral("/nonexistent/qvk-test-port");

QStringList warnings;

} // namespace

class TestAppController : public QObject
{
    Q_OBJECT
    QScopedPointer<AppController> controller;
    QScopedPointer<QQmlEngine> engine;
    QScopedPointer<QQuickWindow> window;

    QString lastCall() const { return window->property("lastCall").toString(); }
    QString lastOutcome() const { return window->property("lastOutcome").toString(); }
    void fire(const QString& signal, const QVariantList& args = {})
    {
        QVERIFY(QMetaObject::invokeMethod(window.data(), "fire", Q_ARG(QVariant, signal),
                                          Q_ARG(QVariant, args)));
    }

private slots:
    // Every test runs against a window wired by init(), which must not warn.
    void init()
    {
        controller.reset(new AppController);
        engine.reset(new QQmlEngine);
        QQmlComponent component(engine.data());
        component.setData(TestWindow, QUrl(QStringLiteral("qrc:/test/Window.qml")));
        window.reset(qobject_cast<QQuickWindow*>(component.create()));
        QVERIFY2(window, qPrintable(component.errorString()));

        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext&, const QString& text) {
                if (type == QtWarningMsg)
                    warnings << text;
            });
        controller->init(window.data());
        qInstallMessageHandler(previous);
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    }

    void cleanup()
    {
        QThreadPool::globalInstance()->waitForDone(); // tasks use the controller
        window.reset();
        engine.reset();
        controller.reset();
    }

    // call: a view signal or one of the controller's relays ("recv..."); port: what
    // the controller holds afterwards, 3 before; report: how it reaches the view;
    // outcome: the view's last outcome function called, and with what status.
    void callsReachTheOtherSide_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("outcome");

        const auto row = [](const char* name, const char* call, const QVariantList& args,
                            const QString& port, const QString& report, const QString& outcome) {
            QTest::newRow(name) << QString(call) << args << port << report << outcome;
        };
        for (const char* relay : {"Data", "Settings", "Firmware"})
            QTest::addRow("%s relay", relay)
                << "recv" + QString(relay) + "Message" << QVariantList{"text"} << "3"
                << "update" + QString(relay).replace("Settings", "CameraSettings") +
                       "Progress(0, 2, 1, text)"
                << "";
        const QString failed = "Progress(0, 1, 1, Error: Could not open port " + NoPort + ".)";
        const QString settingsOutcome = "cameraSettingsOutcome(failed)";
        row("read settings", "readCameraSettings", {NoPort}, NoPort,
            "updateCameraSettings" + failed, settingsOutcome);
        row("save settings keeps the port", "saveCameraSettings",
            {NoPort, "2024-05-01 10:00:00", 1, 2.35, 10, 90, 29}, "3",
            "updateCameraSettings" + failed, settingsOutcome);
        row("erase memory", "eraseMemory", {NoPort}, NoPort, "updateData" + failed,
            "dataOutcome(failed)");
        row("erase memory, forced", "eraseMemoryForced", {NoPort}, NoPort, "updateData" + failed,
            "dataOutcome(failed)");
        row("copy data", "copyData", {NoPort, "/nonexistent", "Reef"}, NoPort,
            "updateData" + failed, "dataOutcome(failed)");
        const QString invalid = "updateCardProgress(1, 0, 2, 2, Invalid directory for card 1 (";
        row("erase cards", "eraseCards", {"", "", "", true, false}, "3",
            invalid + "): no card chosen)", "prepareOutcome(3, refused)");
        row("erase cards, forced", "eraseCardsForced", {"/nonexistent/card", "", "", true, false},
            "3", invalid + "/nonexistent/card): no volume holds it)", "prepareOutcome(3, refused)");
        row("prepare cards, read again", "prepareCards", {"", "", "", true, false, false, true},
            "3", invalid + "): no card chosen)", "prepareOutcome(3, refused)");
    }

    void callsReachTheOtherSide()
    {
        QFETCH(QString, call);
        QFETCH(QVariantList, args);
        QFETCH(QString, port);
        QFETCH(QString, report);
        QFETCH(QString, outcome);

        controller->setPort(3);
        if (call.startsWith("recv"))
            QVERIFY(QMetaObject::invokeMethod(controller.data(), qPrintable(call),
                                              Q_ARG(QString, args.at(0).toString())));
        else
            fire(call, args);
        QCOMPARE(controller->port(), port);
        QTRY_COMPARE(lastCall(), report);
        QTRY_COMPARE(lastOutcome(), outcome);
    }

    // The import's three card workers run on pool threads; their reports reach
    // the view on the GUI thread.
    void tasksRunOnPoolThreads()
    {
        QAtomicInt cards, onGuiThread;
        auto record = [&](const QVariant& card) {
            cards.fetchAndOrOrdered(1 << card.toInt());
            if (QThread::currentThread() == thread())
                onGuiThread.storeRelease(1);
        };
        connect(controller.data(), &AppController::updateCardProgress, this, record,
                Qt::DirectConnection);
        QTemporaryDir destination;
        fire("copyFiles", {"", "", "", destination.path(), "", "", false});
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(cards.loadAcquire(), 0b1110); // cards 1, 2 and 3
        QCOMPARE(onGuiThread.loadAcquire(), 0);
        QTRY_VERIFY(lastCall().startsWith("updateCardProgress("));
        QTRY_COMPARE(lastOutcome(), QStringLiteral("importOutcome(refused)"));
    }

    // Runs started together count their own cards: each ends, and each
    // destination gets its hash list; the window's backup folder gets both.
    void overlappingImportsEachEnd()
    {
        QTemporaryDir dir;
        controller->setBackupDir(dir.filePath("backup"));
        QStringList cards;
        for (int n = 1; n <= 3; ++n) {
            cards << dir.filePath(QStringLiteral("card%1").arg(n));
            QVERIFY(TestSupport::writeFile(cards.last() + "/DCIM/V.MOV", "video"));
        }
        QStringList runs;
        connect(
            controller.data(), &AppController::importOutcome, this,
            [&](const QVariant& outcome) { runs << outcome.toMap().value("status").toString(); });
        for (const char* destination : {"a", "b"})
            controller->copyFiles(cards[0], cards[1], cards[2], dir.filePath(destination), "", "");
        QVERIFY(QThreadPool::globalInstance()->waitForDone(60000));
        QTRY_COMPARE(runs, QStringList({"succeeded", "succeeded"}));
        controller->setBackupDir("");
        for (const auto& [destination, generations] : {std::pair{"a", 1}, {"b", 1}, {"backup", 2}})
            QCOMPARE(QDir(dir.filePath(destination) + "/ascmhl").entryList({"*.mhl"}).size(),
                     generations);
    }
};

QTEST_MAIN(TestAppController)
#include "tst_appcontroller.moc"
