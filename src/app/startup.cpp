#include "app/startup.h"

#include "base/apppaths.h"
#include "base/stopsignals.h"
#include "controller/appcontroller.h"
#include "controller/unittasks.h"

#include <QCoreApplication>
#include <QDebug>
#include <QQuickWindow>
#include <QSettings>
#include <QThreadPool>

#include <cmath>

namespace {

bool readSwitch(QSettings& settings, const QString& key, bool defaultValue)
{
    const bool on = settings.value(key, defaultValue).toBool();
    settings.setValue(key, on ? QStringLiteral("1") : QStringLiteral("0"));
    return on;
}

} // namespace

double readScaleFactorSetting(const QSettings& settings)
{
    return settings.value(QStringLiteral("ScaleFactor"), 0.0).toDouble();
}

void applyStartupSettings(QSettings& settings, double scaleFactor)
{
    if (readSwitch(settings, QStringLiteral("EnableAutoScale"), false))
        qputenv("QT_AUTO_SCREEN_SCALE_FACTOR", "1");

    // A factor of 0 (no screen found) or an absurd one would make the window
    // unusable; the framework then keeps its own scaling.
    if (readSwitch(settings, QStringLiteral("EnableScaleFactor"), true)) {
        if (std::isfinite(scaleFactor) && scaleFactor > 0.0)
            qputenv("QT_SCALE_FACTOR", QString::number(scaleFactor, 'g', 6).toLocal8Bit());
        else
            qWarning() << "Scale factor not applied:" << scaleFactor;
    }

    if (readSwitch(settings, QStringLiteral("EnableHighDpiScaling"), true))
        QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);

    settings.setValue(QStringLiteral("AppVersion"), AppVersion);
    settings.setValue(QStringLiteral("AppName"), AppName);
    settings.sync();
}

void shutDownController(AppController& controller)
{
    QThreadPool::globalInstance()->waitForDone();

    qInfo("Shutting down camera ...");
    const QString port = controller.port();
    if (port.isEmpty()) {
        qInfo("No camera connected");
        return;
    }
    // A unit that just left a Connect unanswered would keep the ending app
    // waiting for its answer once more, out of sight.
    if (UnitTasks::foundSilent(port)) {
        qInfo().noquote()
            << QStringLiteral("The unit on %1 did not answer; not turned off").arg(port);
        return;
    }
    controller.turnOffWorker(port);
    qInfo("Camera shut down");
}

void closeOnStopSignals(StopSignals& stopSignals, QQuickWindow& window)
{
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &window,
                     [&window](const QString& signalName) {
                         qInfo() << "Closing on" << signalName;
                         // The view closes itself once nothing runs any more.
                         window.setProperty("closeWhenIdle", true);
                         window.close();
                     });
}
