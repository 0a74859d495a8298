// The window's geometry (tests/views/geometry) at the scale the test runs
// with: ctest runs it at the design scale and at the smallest scale the
// start-up chooses (QT_SCALE_FACTOR 0.655, a 1024-pixel screen at 96 DPI).
#include "controller/throughputmeter.h"
#include "settings/unitsettings.h"

#include <QCoreApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>

class Setup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        Q_INIT_RESOURCE(views);
        ThroughputMeter::registerType();
        QCoreApplication::setOrganizationName(QStringLiteral("PelorinTest"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_mainview_geometry"));
    }

    void qmlEngineAvailable(QQmlEngine* engine)
    {
        // What the fake controller's getUnitSettingsSchema answers: the real one.
        engine->rootContext()->setContextProperty(QStringLiteral("unitSettingsSchema"),
                                                  UnitSettings::schema());
        // The test checks that the window really runs at this scale.
        const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
        engine->rootContext()->setContextProperty(QStringLiteral("expectedScale"),
                                                  scale.isEmpty() ? 1.0 : scale.toDouble());
    }
};

QUICK_TEST_MAIN_WITH_SETUP(mainview_geometry, Setup)

#include "tst_mainview_geometry.moc"
