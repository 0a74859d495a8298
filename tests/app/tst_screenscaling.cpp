#include "apppaths.h"
#include "screenscaling.h"
#include "startup.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>

// Runs without an application object: the scale computation makes its own.
class TestScreenScaling : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void scaleFactor_data();
    void scaleFactor();
    void noScreen_data();
    void noScreen();
    void probeKeepsFrameworkArguments();
    void switches_data();
    void switches();

private:
    QTemporaryDir dir;
};

void TestScreenScaling::initTestCase()
{
    QVERIFY(dir.isValid());
    updateAppDirPath(dir.filePath(QStringLiteral("VazizidADU")));
}

void TestScreenScaling::cleanup()
{
    qunsetenv("QT_AUTO_SCREEN_SCALE_FACTOR");
    qunsetenv("QT_SCALE_FACTOR");
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, false);
}

// stored: the "ScaleFactor" text in the settings file, null when absent.
void TestScreenScaling::scaleFactor_data()
{
    QTest::addColumn<int>("availableHeight");
    QTest::addColumn<double>("dpi");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<double>("expected");

    // Between 1300 and 1800 pixels (both excluded) a screen counts as 1000 high.
    const struct
    {
        int height;
        double at96, at120;
    } screens[] = {{1000, 0.666667, 0.533333}, {1040, 0.693333, 0.554667},
                   {1300, 0.866667, 0.693333}, {1400, 0.666667, 0.533333},
                   {1800, 1.2, 0.96},          {2100, 1.4, 1.12}};
    for (const auto& screen : screens) {
        QTest::addRow("%d px at 96 dpi", screen.height)
            << screen.height << 96.0 << QString() << screen.at96;
        QTest::addRow("%d px at 120 dpi", screen.height)
            << screen.height << 120.0 << QString() << screen.at120;
    }
    const auto text = [](const char* value) { return QString::fromLatin1(value); };
    QTest::newRow("settings 0.1 does not count") << 1040 << 96.0 << text("0.1") << 0.693333;
    QTest::newRow("settings 1.25") << 1040 << 96.0 << text("1.25") << 1.25;
    QTest::newRow("settings 1.5") << 2100 << 120.0 << text("1.5") << 1.5;
    QTest::newRow("settings not a number") << 1040 << 96.0 << text("big") << 0.693333;
    QTest::newRow("settings nan") << 1040 << 96.0 << text("nan") << 0.693333;
}

void TestScreenScaling::scaleFactor()
{
    QFETCH(int, availableHeight);
    QFETCH(double, dpi);
    QFETCH(QString, stored);
    QFETCH(double, expected);

    QSettings settings(dir.filePath(QStringLiteral("scale.ini")), QSettings::IniFormat);
    settings.clear();
    if (!stored.isNull())
        settings.setValue(QStringLiteral("ScaleFactor"), stored);

    ScreenScaling scaling(readScaleFactorSetting(settings));
    scaling.availableSizeHeight = availableHeight;
    scaling.logicalDpi = dpi;
    const double factor = scaling.computeScaleFactor(true);
    QVERIFY2(qAbs(factor - expected) < 1e-6, qPrintable(QString::number(factor)));
    QCOMPARE(scaling.scaleFactor, factor);
}

void TestScreenScaling::noScreen_data()
{
    QTest::addColumn<double>("settingsFactor");
    QTest::addColumn<double>("expected");
    QTest::newRow("no setting") << 0.0 << 0.0;
    QTest::newRow("setting 0.1") << 0.1 << 0.0;
    QTest::newRow("setting 1.25") << 1.25 << 1.25;
}

void TestScreenScaling::noScreen()
{
    QFETCH(double, settingsFactor);
    QFETCH(double, expected);
    ScreenScaling scaling(settingsFactor);
    QCOMPARE(scaling.computeScaleFactor(false), expected);
    QCOMPARE(scaling.calculatedScaleFactor, 0.0);
    QCOMPARE(scaling.availableSizeHeight, 0);
}

// The temporary application reads the real (offscreen) screen and must leave
// the framework's options for the application created after it.
void TestScreenScaling::probeKeepsFrameworkArguments()
{
    QByteArray program = "VazizidADU", platform = "-platform", name = "offscreen";
    char* argv[] = {program.data(), platform.data(), name.data(), nullptr};
    int argc = 3;

    ScreenScaling scaling;
    const double factor = scaling.calculateScaleFactor(argc, argv);

    QCOMPARE(argc, 3);
    QCOMPARE(QByteArray(argv[1]), QByteArray("-platform"));
    QCOMPARE(QByteArray(argv[2]), QByteArray("offscreen"));
    QVERIFY(!QCoreApplication::instance());
    QCOMPARE(scaling.appExecutable, QStringLiteral("VazizidADU"));
    QCOMPARE(scaling.appDirectory, appDirPath());
    QVERIFY(scaling.availableSizeHeight > 0);
    QVERIFY(scaling.logicalDpi > 0);
    QVERIFY(factor > 0);
    QCOMPARE(factor, 64.0 / scaling.logicalDpi * scaling.availableSizeHeight / 1000.0);
}

// Stored switches are texts, null when absent. Expected variables: null when unset.
void TestScreenScaling::switches_data()
{
    QTest::addColumn<QString>("autoScale");
    QTest::addColumn<QString>("scaleSwitch");
    QTest::addColumn<QString>("highDpi");
    QTest::addColumn<double>("factor");
    QTest::addColumn<QString>("written"); // the three switches as written back
    QTest::addColumn<QString>("autoVariable");
    QTest::addColumn<QString>("scaleVariable");
    QTest::addColumn<bool>("highDpiAttribute");

    const QString absent;
    QTest::newRow("absent gives the defaults")
        << absent << absent << absent << 2.0 / 3.0 << QStringLiteral("0 1 1") << absent
        << QStringLiteral("0.666667") << true;
    QTest::newRow("yes becomes 1")
        << QStringLiteral("yes") << QStringLiteral("1") << QStringLiteral("1") << 1.0
        << QStringLiteral("1 1 1") << QStringLiteral("1") << QStringLiteral("1") << true;
    QTest::newRow("0 leaves the factor unset")
        << QStringLiteral("0") << QStringLiteral("0") << QStringLiteral("1") << 1.5
        << QStringLiteral("0 0 1") << absent << absent << true;
    QTest::newRow("false and empty are off")
        << QStringLiteral("false") << QStringLiteral("") << QStringLiteral("FALSE") << 1.5
        << QStringLiteral("0 0 0") << absent << absent << false;
    QTest::newRow("any other text is on")
        << QStringLiteral("no") << QStringLiteral("true") << QStringLiteral("off") << 4.0 / 3.0
        << QStringLiteral("1 1 1") << QStringLiteral("1") << QStringLiteral("1.33333") << true;
    QTest::newRow("settings factor 1.5")
        << QStringLiteral("0") << QStringLiteral("1") << QStringLiteral("1") << 1.5
        << QStringLiteral("0 1 1") << absent << QStringLiteral("1.5") << true;
    // A factor of 0 or worse would shrink the window to nothing: left unset.
    QTest::newRow("no screen gives 0")
        << absent << absent << absent << 0.0 << QStringLiteral("0 1 1") << absent << absent << true;
    QTest::newRow("negative factor")
        << QStringLiteral("0") << QStringLiteral("1") << QStringLiteral("1") << -0.5
        << QStringLiteral("0 1 1") << absent << absent << true;
    QTest::newRow("infinite factor")
        << QStringLiteral("0") << QStringLiteral("1") << QStringLiteral("1")
        << std::numeric_limits<double>::infinity() << QStringLiteral("0 1 1") << absent << absent
        << true;
    QTest::newRow("nan factor") << QStringLiteral("0") << QStringLiteral("1") << QStringLiteral("1")
                                << std::nan("") << QStringLiteral("0 1 1") << absent << absent
                                << true;
}

void TestScreenScaling::switches()
{
    QFETCH(QString, autoScale);
    QFETCH(QString, scaleSwitch);
    QFETCH(QString, highDpi);
    QFETCH(double, factor);
    QFETCH(QString, written);
    QFETCH(QString, autoVariable);
    QFETCH(QString, scaleVariable);
    QFETCH(bool, highDpiAttribute);

    const QString path = dir.filePath(QStringLiteral("switches.ini"));
    QFile::remove(path);
    {
        QSettings settings(path, QSettings::IniFormat);
        const QString keys[] = {QStringLiteral("EnableAutoScale"),
                                QStringLiteral("EnableScaleFactor"),
                                QStringLiteral("EnableHighDpiScaling")};
        const QString values[] = {autoScale, scaleSwitch, highDpi};
        for (int i = 0; i < 3; ++i) {
            if (!values[i].isNull())
                settings.setValue(keys[i], values[i]);
        }
        settings.setValue(QStringLiteral("Camera1Yaw"), QStringLiteral("-0"));
    }

    {
        QSettings settings(path, QSettings::IniFormat);
        applyStartupSettings(settings, factor);
    }

    // What a later start reads, without this process's settings cache.
    QSettings stored(path, QSettings::IniFormat);
    const QString switches = stored.value(QStringLiteral("EnableAutoScale")).toString() + ' ' +
                             stored.value(QStringLiteral("EnableScaleFactor")).toString() + ' ' +
                             stored.value(QStringLiteral("EnableHighDpiScaling")).toString();
    QCOMPARE(switches, written);
    QCOMPARE(stored.value(QStringLiteral("AppVersion")).toString(), QStringLiteral("1.8.3"));
    QCOMPARE(stored.value(QStringLiteral("AppName")).toString(), QStringLiteral("Pelorin QVK"));
    QCOMPARE(stored.value(QStringLiteral("Camera1Yaw")).toString(), QStringLiteral("-0"));

    auto variable = [](const char* name) {
        return qEnvironmentVariableIsSet(name) ? qEnvironmentVariable(name) : QString();
    };
    QCOMPARE(variable("QT_AUTO_SCREEN_SCALE_FACTOR"), autoVariable);
    QCOMPARE(variable("QT_SCALE_FACTOR"), scaleVariable);
    QCOMPARE(QCoreApplication::testAttribute(Qt::AA_EnableHighDpiScaling), highDpiAttribute);
}

QTEST_APPLESS_MAIN(TestScreenScaling)
#include "tst_screenscaling.moc"
