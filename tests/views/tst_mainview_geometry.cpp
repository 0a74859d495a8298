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

public:
    explicit Setup(double scale) : scale(scale) {}

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
        engine->rootContext()->setContextProperty(QStringLiteral("expectedScale"), scale);
        engine->rootContext()->setContextProperty(QStringLiteral("readablePixels"),
                                                  ScreenScaling::ReadableTextPixels);
    }

private:
    double scale;
};

int main(int argc, char** argv)
{
    // As the app starts: the scale from the screen, before the application.
    ScreenScaling scaling;
    const double scale = scaling.calculateScaleFactor(argc, argv);
    qputenv("QT_SCALE_FACTOR", QByteArray::number(scale, 'g', 6));
    QTEST_SET_MAIN_SOURCE_PATH
    Setup setup(scale);
    return quick_test_main_with_setup(argc, argv, "mainview_geometry", QUICK_TEST_SOURCE_DIR,
                                      &setup);
}

#include "tst_mainview_geometry.moc"
