// The window's geometry (tests/views/geometry) on the screen the test runs
// on, at the scale the start-up computes for that screen.
#include "app/screenscaling.h"
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

int main(int argc, char** argv)
{
    ScreenScaling scaling; // as the app starts: before the application
    qputenv("QT_SCALE_FACTOR",
            QByteArray::number(scaling.calculateScaleFactor(argc, argv), 'g', 6));
    QTEST_SET_MAIN_SOURCE_PATH
    Setup setup;
    return quick_test_main_with_setup(argc, argv, "mainview_geometry", QUICK_TEST_SOURCE_DIR,
                                      &setup);
}

#include "tst_mainview_geometry.moc"
