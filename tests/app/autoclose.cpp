// Preloaded into the app by the start-up test: once a window shows, it closes
// every window as a user would. Start-up makes a short-lived application of
// its own first; the timer dies with it and starts again with the real one.
//
// PQVK_SELECT_PORT names a port to pick first in the Settings tab's list; the
// view then hands it to the controller, as it does for the port it preselects,
// and the helper logs "Test port selected". PQVK_KEEP_OPEN=1 leaves the
// window open: the test ends the app itself. The application's class is
// logged ("Test application: QApplication").
#include <QDebug>
#include <QGuiApplication>
#include <QTimer>
#include <QVariant>
#include <QWindow>

static void selectPort(QWindow* window, const QString& port)
{
    QObject* list = window->findChild<QObject*>(QStringLiteral("settingsDeviceList"));
    const QVariantList devices = window->property("devices").toList();
    for (int i = 0; list && i < devices.size(); ++i) {
        if (devices.at(i).toMap().value(QStringLiteral("name")).toString() == port) {
            list->setProperty("currentIndex", i);
            QVariant name;
            QMetaObject::invokeMethod(window, "getSelectedSettingsDeviceName",
                                      Q_RETURN_ARG(QVariant, name));
            if (name.toString() == port)
                qInfo("Test port selected");
        }
    }
}

static void closeWindowsOnceShown()
{
    qInfo("Test application: %s", qApp->metaObject()->className());
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll] {
        const QWindowList windows = QGuiApplication::topLevelWindows();
        const auto shown =
            std::find_if(windows.begin(), windows.end(), [](QWindow* w) { return w->isVisible(); });
        if (shown == windows.end())
            return;
        poll->stop();
        const QString port = qEnvironmentVariable("PQVK_SELECT_PORT");
        if (!port.isEmpty())
            selectPort(*shown, port);
        if (qEnvironmentVariableIntValue("PQVK_KEEP_OPEN"))
            return;
        // Gives the view time for its own start-up calls.
        QTimer::singleShot(1500, [] {
            for (QWindow* window : QGuiApplication::topLevelWindows())
                window->close();
        });
    });
    poll->start(100);
}

Q_COREAPP_STARTUP_FUNCTION(closeWindowsOnceShown)
