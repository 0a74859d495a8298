#include "app/chooserprocess.h"
#include "app/screenscaling.h"
#include "app/startup.h"
#include "base/apppaths.h"
#include "base/messagehandler.h"
#include "base/stopsignals.h"
#include "controller/appcontroller.h"
#include "controller/throughputmeter.h"

#include <QApplication>
#include <QDebug>
#include <QException>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlError>
#include <QQuickWindow>
#include <QSettings>

int main(int argc, char** argv)
{
    // The file chooser helper is a program of its own: it leaves the app's
    // settings, log and scaling alone.
    if (ChooserProcess::isChooserCall(argc, argv))
        return ChooserProcess::runChooser(argc, argv);

    Q_INIT_RESOURCE(views); // the view lives in a static library

    // Until the handler is installed, messages go to the framework's default
    // output only, so the log holds this run from "Application start" on.
    updateAppDirPath(argc > 0 && argv[0] ? QString::fromLocal8Bit(argv[0]) : QString());
    QSettings settings(iniFilePath(), QSettings::IniFormat);

    // Scaling must be worked out before any GUI object exists.
    ScreenScaling scaling(readScaleFactorSetting(settings));
    scaling.calculateScaleFactor(argc, argv);

    try {
        applyStartupSettings(settings, scaling.scaleFactor);
    } catch (const QException& e) {
        qWarning() << exceptionDescription(e);
    }

    removeLogFile();
    qInstallMessageHandler(messageHandler);
    qInfo("Application start");
    logSystemInfo(AppName, AppVersion, scaling);

    QCoreApplication::setApplicationName(AppName);
    QCoreApplication::setApplicationVersion(AppVersion);
    // A widgets application: where the platform has no file dialog of its
    // own, the choosers fall back to Qt's widget dialog, which users know.
    QApplication app(argc, argv);
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/logo.png")));
    // Wayland desktops match the window to its launcher by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.pelorin.qvk"));
    updateAppDirPath(QCoreApplication::applicationFilePath());
    // From here on a logout or kill closes the window as the user would; a
    // signal that comes while the view loads waits in the event loop.
    StopSignals stopSignals;

    // The controller's init() may be invoked through the meta-object system
    // with the view's window; the controller itself links no Qt Quick.
    qRegisterMetaType<QQuickWindow*>("QQuickWindow *");
    AppController controller;
    controller.setVersion(AppVersion);

    ThroughputMeter::registerType();
    // Declared before the engine, so it outlives the view that uses it.
    ChooserProcess chooserProcess(QCoreApplication::applicationFilePath());
    QQmlApplicationEngine engine;
    QStringList viewErrors;
    const QMetaObject::Connection collectErrors = QObject::connect(
        &engine, &QQmlEngine::warnings, [&viewErrors](const QList<QQmlError>& errors) {
            for (const QQmlError& error : errors)
                viewErrors << error.toString();
        });
    engine.rootContext()->setContextProperty(QStringLiteral("appController"), &controller);
    engine.rootContext()->setContextProperty(QStringLiteral("chooserProcess"), &chooserProcess);
    engine.load(QUrl(QStringLiteral("qrc:/views/Main.qml")));
    QObject::disconnect(collectErrors);
    const QList<QObject*> roots = engine.rootObjects();
    QQuickWindow* window = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.first());
    if (!window) {
        // Without its window the app could only linger unseen: every start
        // from the launcher would leave one more process behind.
        if (viewErrors.isEmpty())
            viewErrors << QStringLiteral("the view made no window");
        qCritical().noquote() << "The window could not be created, so the app ends:"
                              << viewErrors.join(QStringLiteral("; "));
        return 1;
    }
    controller.init(window);
    closeOnStopSignals(stopSignals, *window);

    int exitCode = -1;
    try {
        exitCode = app.exec();
    } catch (const QException& e) {
        qWarning() << exceptionDescription(e);
    }

    try {
        shutDownController(controller);
    } catch (const QException& e) {
        qWarning() << exceptionDescription(e);
    }
    qInfo("Application end");
    return exitCode;
}
