// Qt Quick tests of the view (qml/tst_*.qml) against a fake controller and
// an in-process calibration service stand-in.
#include "calibration/calibrationservice.h"
#include "controller/throughputmeter.h"
#include "settings/unitsettings.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTcpServer>
#include <QtQuickTest>

class Setup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        Q_INIT_RESOURCE(views);
        ThroughputMeter::registerType();
        // The fallback file dialogs keep their state in QSettings, which wants these.
        QCoreApplication::setOrganizationName(QStringLiteral("PelorinTest"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_mainview"));
        QString error;
        if (!service.loadFile(qEnvironmentVariable("PQVK_SOURCE_DIR") +
                                  QStringLiteral("/tools/calibration/calibrations.json"),
                              &error))
            qFatal("%s", qPrintable(error));
        // Answers a real service might give besides the stand-in's own.
        service.setVerbatimResponse("BROKEN", 500, "<html><body>Server Error</body></html>");
        service.setVerbatimResponse("NULL", 200, "null");
        service.setVerbatimResponse("NODATA", 200, R"({"success": true, "message": "No data."})");
        service.setVerbatimResponse("PARTIAL", 200, R"({"success": true, "data":
            {"Camera1Yaw": 7.5, "Camera3OffsetY": -2}})");
        service.setVerbatimResponse("NESTED", 200, R"({"success": true, "message": "", "data":
            {"Camera1Yaw": {"deg": 5}, "Camera2Yaw": [1, 2], "Camera3Yaw": true,
             "Camera1Pitch": 0.25}})");
        service.setVerbatimResponse("TEXTFLAG0", 200,
                                    R"({"success": true, "data": {"RadiansAngles": "0"}})");
        if (!service.listen())
            qFatal("calibration stand-in cannot listen: %s", qPrintable(service.errorString()));
        // A service that takes connections and never answers, and the address of
        // one that is gone (a port just given back).
        QTcpServer gone;
        if (!silent.listen(QHostAddress::LocalHost) || !gone.listen(QHostAddress::LocalHost))
            qFatal("cannot listen on the loopback interface");
        closedPort = gone.serverPort();
    }

    void qmlEngineAvailable(QQmlEngine* engine)
    {
        // What the fake controller's getUnitSettingsSchema answers: the real one.
        engine->rootContext()->setContextProperty(QStringLiteral("unitSettingsSchema"),
                                                  UnitSettings::schema());
        engine->rootContext()->setContextProperty(QStringLiteral("calibrationService"), &service);
        engine->rootContext()->setContextProperty(
            QStringLiteral("silentServiceAddress"),
            QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort()));
        engine->rootContext()->setContextProperty(
            QStringLiteral("closedServiceAddress"),
            QStringLiteral("http://127.0.0.1:%1").arg(closedPort));
    }

private:
    CalibrationService service;
    QTcpServer silent;
    quint16 closedPort = 0;
};

QUICK_TEST_MAIN_WITH_SETUP(mainview, Setup)

#include "tst_mainview.moc"
