// The window's geometry (tests/views/geometry) at the design scale and at the
// smallest scale the start-up chooses, 0.655 on a 1024-pixel screen at 96 DPI.
// The scale is fixed when the application starts, so each scale gets a run of
// its own.
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
        QCoreApplication::setOrganizationName(QStringLiteral("PelorinTest"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_mainview_geometry"));
    }

    void qmlEngineAvailable(QQmlEngine* engine)
    {
        engine->rootContext()->setContextProperty(QStringLiteral("expectedScale"), scale);
    }

private:
    double scale;
};

int main(int argc, char** argv)
{
    int failures = 0;
    for (const char* scale : {"1", "0.655"}) {
        qputenv("QT_SCALE_FACTOR", scale);
        Setup setup(QByteArray(scale).toDouble());
        const QByteArray name = QByteArray("geometry at scale ") + scale;
        failures +=
            quick_test_main_with_setup(argc, argv, name.constData(), QUICK_TEST_SOURCE_DIR, &setup);
    }
    return failures;
}

#include "tst_mainview_geometry.moc"
