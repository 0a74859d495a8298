// Qt Quick tests of the view against a fake controller and an in-process
// calibration service stand-in. The test cases live in qml/tst_*.qml.
#include "calibrationservice.h"
#include "fakecontroller.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>

namespace {

QJsonObject calibration(bool radians, double base)
{
    QJsonObject data{{"RadiansAngles", radians}};
    const char* names[] = {"Yaw", "Pitch", "Roll", "OffsetX", "OffsetY"};
    double value = base;
    for (int camera = 1; camera <= 3; ++camera) {
        for (const char* name : names) {
            data.insert(QStringLiteral("Camera%1%2").arg(camera).arg(QLatin1String(name)), value);
            value += 1.25;
        }
    }
    return data;
}

} // namespace

static void initViewResources()
{
    Q_INIT_RESOURCE(views);
}

class Setup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        initViewResources();
        // The fallback file dialogs keep their state in QSettings, which wants these.
        QCoreApplication::setOrganizationName(QStringLiteral("PelorinTest"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_mainview"));
        QJsonObject known;
        known.insert(QStringLiteral("QVK100001"), calibration(true, 0.5));
        // Only two members: the others must keep what the fields held.
        known.insert(QStringLiteral("PARTIAL"),
                     QJsonObject{{"Camera1Yaw", 7.5}, {"Camera3OffsetY", -2}});
        calibrationService.setCalibrations(known);
        calibrationService.setVerbatimResponse(QStringLiteral("BROKEN"), 500,
                                               "<html><body>Internal Server Error</body></html>");
        calibrationService.setVerbatimResponse(QStringLiteral("NODATA"), 200,
                                               R"({"success": true, "message": "No data today."})");
        calibrationService.setVerbatimResponse(QStringLiteral("NULL"), 200, "null");
        // Flags sent as text: "0" and "false" are no.
        calibrationService.setVerbatimResponse(
            QStringLiteral("TEXTFLAG0"), 200,
            R"({"success": true, "data": {"RadiansAngles": "0"}, "message": "ok"})");
        calibrationService.setVerbatimResponse(
            QStringLiteral("TEXTFLAGFALSE"), 200,
            R"({"success": true, "data": {"RadiansAngles": "false"}, "message": "ok"})");
        calibrationService.setVerbatimResponse(
            QStringLiteral("TEXTFLAG1"), 200,
            R"({"success": true, "data": {"RadiansAngles": "1"}, "message": "ok"})");
        if (!calibrationService.listen())
            qFatal("calibration stand-in cannot listen: %s",
                   qPrintable(calibrationService.errorString()));
    }

    void qmlEngineAvailable(QQmlEngine* engine)
    {
        engine->rootContext()->setContextProperty(QStringLiteral("appController"), &controller);
        engine->rootContext()->setContextProperty(QStringLiteral("calibrationService"),
                                                  &calibrationService);
    }

private:
    FakeController controller;
    CalibrationService calibrationService;
};

QUICK_TEST_MAIN_WITH_SETUP(mainview, Setup)

#include "tst_mainview.moc"
