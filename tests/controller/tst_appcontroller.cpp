#include "appcontroller.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

namespace {

// A stand-in for the view's window: the signals and functions the controller
// connects, each function recording how it was called.
// clang-format off
const char* const TestWindow = R"QML(
import QtQuick 2.7
import QtQuick.Window 2.2
Window {
    visible: false
    property string lastCall: ""
    signal copyFiles(string dir1, string dir2, string dir3, string targetDir, string templatePath, string projectName)
    signal copyData(string port, string targetDir, string projectName)
    signal eraseCards(string dir1, string dir2, string dir3, bool eraseCards, bool createSyncConfig)
    signal readCameraSettings(string port)
    signal saveCameraSettings(string port, string date, int recLedOn, double loggingInterval, double timelapseInterval, double timelapseTimeout, int e1FirmwareVersion)
    signal resetCameraSettings(string port)
    signal eraseMemory(string port)
    signal exitApp()
    function record(name, args) {
        var texts = []
        for (var i = 0; i < args.length; ++i)
            texts.push(String(args[i]))
        lastCall = name + "(" + texts.join(", ") + ")"
    }
    function updateCardProgress(card, from, to, value, text) { record("updateCardProgress", arguments) }
    function updateDataProgress(from, to, value, text) { record("updateDataProgress", arguments) }
    function updateCameraSettingsProgress(from, to, value, text) { record("updateCameraSettingsProgress", arguments) }
    function updateCameraSettings(firmware, battery, date, recLedOn, loggingInterval, timelapseInterval, timelapseTimeout, e1) { record("updateCameraSettings", arguments) }
    function updateFirmwareProgress(from, to, value, text) { record("updateFirmwareProgress", arguments) }
}
)QML";
// clang-format on

// Calls a method (signal, slot or view function) by name with arguments
// converted to its parameter types.
bool invoke(QObject* object, const QByteArray& name, QVariantList args)
{
    const QMetaObject* meta = object->metaObject();
    for (int i = 0; i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.name() != name || method.parameterCount() != args.size())
            continue;
        QGenericArgument a[10];
        for (int p = 0; p < args.size(); ++p) {
            const int type = method.parameterType(p);
            if (type != QMetaType::QVariant && !args[p].convert(type))
                return false;
            a[p] = type == QMetaType::QVariant
                       ? QGenericArgument("QVariant", &args[p])
                       : QGenericArgument(QMetaType::typeName(type), args[p].constData());
        }
        return method.invoke(object, Qt::DirectConnection, a[0], a[1], a[2], a[3], a[4], a[5], a[6],
                             a[7], a[8], a[9]);
    }
    return false;
}

// A port name that no system has, so tasks that reach the port fail at once.
const QString NoPort = QStringLiteral("/nonexistent/qvk-test-port");

} // namespace

class TestAppController : public QObject
{
    Q_OBJECT

public:
    static void initMain() { qputenv("QT_QUICK_BACKEND", "software"); }

private slots:
    void init();
    void cleanup();
    void setPort_data();
    void setPort();
    void relays_data();
    void relays();
    void controllerToView_data();
    void controllerToView();
    void viewToController_data();
    void viewToController();
    void tasksRunOnPoolThreads();
    // Last: leaving the event loop marks the application as quitting.
    void viewEndsEventLoop();

private:
    void makeWindow();

    QScopedPointer<AppController> controller;
    QScopedPointer<QQmlEngine> engine;
    QScopedPointer<QQuickWindow> window;
};

void TestAppController::init()
{
    controller.reset(new AppController);
}

void TestAppController::cleanup()
{
    // Tasks use the controller: let them end before it goes.
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    window.reset();
    engine.reset();
    controller.reset();
}

void TestAppController::makeWindow()
{
    engine.reset(new QQmlEngine);
    QQmlComponent component(engine.data());
    component.setData(TestWindow, QUrl(QStringLiteral("qrc:/test/Window.qml")));
    window.reset(qobject_cast<QQuickWindow*>(component.create()));
    QVERIFY2(window, qPrintable(component.errorString()));
}

void TestAppController::setPort_data()
{
    QTest::addColumn<QVariant>("port");
    QTest::addColumn<QString>("stored");
    QTest::newRow("number") << QVariant(3) << QStringLiteral("3");
    QTest::newRow("device path") << QVariant(QStringLiteral("/dev/ttyUSB0"))
                                 << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("nothing") << QVariant() << QString();
}

void TestAppController::setPort()
{
    QFETCH(QVariant, port);
    QFETCH(QString, stored);
    controller->setPort(QStringLiteral("earlier"));
    controller->setPort(port);
    QCOMPARE(controller->port(), stored);
}

void TestAppController::relays_data()
{
    QTest::addColumn<QByteArray>("relay");
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<QString>("message");
    QTest::newRow("data") << QByteArray("recvDataMessage")
                          << QByteArray(
                                 SIGNAL(updateDataProgress(QVariant, QVariant, QVariant, QVariant)))
                          << QStringLiteral("Reading data ...");
    QTest::newRow("settings") << QByteArray("recvSettingsMessage")
                              << QByteArray(SIGNAL(updateCameraSettingsProgress(
                                     QVariant, QVariant, QVariant, QVariant)))
                              << QStringLiteral("Battery low");
    QTest::newRow("firmware") << QByteArray("recvFirmwareMessage")
                              << QByteArray(SIGNAL(updateFirmwareProgress(QVariant, QVariant,
                                                                          QVariant, QVariant)))
                              << QStringLiteral("Writing flash 40%");
}

// A relayed message shows as a half-full bar that keeps the view busy.
void TestAppController::relays()
{
    QFETCH(QByteArray, relay);
    QFETCH(QByteArray, signal);
    QFETCH(QString, message);

    QSignalSpy spy(controller.data(), signal.constData());
    QVERIFY(invoke(controller.data(), relay, {message}));
    QCOMPARE(spy.count(), 1);
    const QVariantList args = spy.takeFirst();
    QCOMPARE(args.size(), 4);
    QCOMPARE(args.at(0), QVariant(0));
    QCOMPARE(args.at(1), QVariant(2));
    QCOMPARE(args.at(2), QVariant(1));
    QCOMPARE(args.at(3), QVariant(message));
}

void TestAppController::controllerToView_data()
{
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<QString>("call");

    QTest::newRow("card progress")
        << QByteArray("updateCardProgress") << QVariantList{2, 0, 5, 3, "Copying ..."}
        << QStringLiteral("updateCardProgress(2, 0, 5, 3, Copying ...)");
    QTest::newRow("data progress")
        << QByteArray("updateDataProgress") << QVariantList{0, 4, 4, "Done."}
        << QStringLiteral("updateDataProgress(0, 4, 4, Done.)");
    QTest::newRow("settings progress")
        << QByteArray("updateCameraSettingsProgress") << QVariantList{0, 2, 1, "Reading ..."}
        << QStringLiteral("updateCameraSettingsProgress(0, 2, 1, Reading ...)");
    QTest::newRow("settings")
        << QByteArray("updateCameraSettings")
        << QVariantList{"V2.1", "80 %", "2024-05-01 10:00:00", 1, 0.25, 10, 90, 29}
        << QStringLiteral("updateCameraSettings(V2.1, 80 %, 2024-05-01 10:00:00, 1, 0.25, 10, "
                          "90, 29)");
    QTest::newRow("firmware progress")
        << QByteArray("updateFirmwareProgress") << QVariantList{0, 1, 1, "Error"}
        << QStringLiteral("updateFirmwareProgress(0, 1, 1, Error)");
}

void TestAppController::controllerToView()
{
    QFETCH(QByteArray, signal);
    QFETCH(QVariantList, args);
    QFETCH(QString, call);

    makeWindow();
    controller->init(window.data());
    QVERIFY(invoke(controller.data(), signal, args));
    QCOMPARE(window->property("lastCall").toString(), call);
}

// port: what the controller holds afterwards ("before" when the signal leaves it).
void TestAppController::viewToController_data()
{
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<QString>("port");

    const QString temp = QDir::tempPath() + QStringLiteral("/qvk-no-such-destination");
    QTest::newRow("read settings")
        << QByteArray("readCameraSettings") << QVariantList{NoPort} << NoPort;
    QTest::newRow("reset settings")
        << QByteArray("resetCameraSettings") << QVariantList{NoPort} << NoPort;
    QTest::newRow("erase memory") << QByteArray("eraseMemory") << QVariantList{NoPort} << NoPort;
    QTest::newRow("copy data") << QByteArray("copyData") << QVariantList{NoPort, temp, "Reef"}
                               << NoPort;
    QTest::newRow("save settings keeps the port")
        << QByteArray("saveCameraSettings")
        << QVariantList{NoPort, "2024-05-01 10:00:00", 1, 2.35, 10.0, 90.0, 29}
        << QStringLiteral("before");
}

void TestAppController::viewToController()
{
    QFETCH(QByteArray, signal);
    QFETCH(QVariantList, args);
    QFETCH(QString, port);

    makeWindow();
    controller->init(window.data());
    controller->setPort(QStringLiteral("before"));
    QVERIFY(invoke(window.data(), signal, args));
    QCOMPARE(controller->port(), port);
    // The task's own report (it cannot reach the port) comes back to the view.
    QTRY_VERIFY(!window->property("lastCall").toString().isEmpty());
}

void TestAppController::viewEndsEventLoop()
{
    makeWindow();
    controller->init(window.data());
    QEventLoop loop;
    QTimer::singleShot(0, window.data(), [this] { invoke(window.data(), "exitApp", {}); });
    QTimer::singleShot(10000, &loop, [&loop] { loop.exit(1); });
    QCOMPARE(loop.exec(), 0);
}

// The import's three card workers run on pool threads; their reports reach
// the view on the GUI thread.
void TestAppController::tasksRunOnPoolThreads()
{
    makeWindow();
    controller->init(window.data());
    QList<QThread*> threads;
    QList<int> cards;
    QMutex mutex;
    connect(
        controller.data(), &AppController::updateCardProgress, this,
        [&](const QVariant& card) {
            QMutexLocker lock(&mutex);
            threads << QThread::currentThread();
            cards << card.toInt();
        },
        Qt::DirectConnection);

    QTemporaryDir destination;
    QTest::ignoreMessage(QtInfoMsg, "\"Start.\"");
    invoke(window.data(), "copyFiles", {"", "", "", destination.path(), "", ""});
    QThreadPool::globalInstance()->waitForDone();
    {
        QMutexLocker lock(&mutex);
        std::sort(cards.begin(), cards.end());
        QCOMPARE(cards, QList<int>({1, 2, 3}));
        for (QThread* thread : qAsConst(threads))
            QVERIFY(thread != QThread::currentThread());
    }
    QTRY_VERIFY(window->property("lastCall").toString().startsWith("updateCardProgress("));
}

QTEST_MAIN(TestAppController)
#include "tst_appcontroller.moc"
