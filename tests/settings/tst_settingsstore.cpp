#include "apppaths.h"
#include "settingsstore.h"
#include "testsupport.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

class TestSettingsStore : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    QString ini;

    void store(const QByteArray& iniText) { QVERIFY(TestSupport::writeFile(ini, iniText)); }

private slots:
    void initTestCase()
    {
        // Whatever runs this, the settings file lies in a folder of our own.
        QVERIFY(home.isValid());
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", (home.path() + "/share").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
        resetPathCaches();
        ini = iniFilePath();
        QVERIFY2(ini.startsWith(home.path()), qPrintable(ini));
    }

    void init() { QFile::remove(ini); }

    void firstReadWritesDefaults()
    {
        const QStringList keys = {"Serialnumber",    "OverwriteAngles",      "RadiansAngles",
                                  "EnableAutoScale", "EnableHighDpiScaling", "EnableScaleFactor",
                                  "Camera1Pitch",    "Camera1Roll",          "Camera1Yaw",
                                  "Camera1OffsetX",  "Camera1OffsetY",       "Camera2Pitch",
                                  "Camera2Roll",     "Camera2Yaw",           "Camera2OffsetX",
                                  "Camera2OffsetY",  "Camera3Pitch",         "Camera3Roll",
                                  "Camera3Yaw",      "Camera3OffsetX",       "Camera3OffsetY"};
        const QStringList values = {"000000", "1",  "0",   "0",   "1",  "1",   "0",
                                    "-90",    "-0", "-20", "0",   "0",  "-90", "-0",
                                    "-20",    "0",  "0",   "-90", "-0", "-20", "0"};
        const QVariantMap map = getSettings();
        QCOMPARE(map.size(), 21);
        QSettings file(ini, QSettings::IniFormat);
        QCOMPARE(file.allKeys().size(), 21);
        for (int i = 0; i < keys.size(); ++i) {
            QCOMPARE(map.value(keys[i]).userType(), int(QMetaType::QString));
            QCOMPARE(map.value(keys[i]).toString(), values[i]);
            QCOMPARE(file.value(keys[i]).toString(), values[i]);
        }
    }

    void storedValuesKept_data()
    {
        QTest::addColumn<QByteArray>("iniText");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty value stays empty")
            << QByteArray("[General]\nSerialnumber=\n") << "Serialnumber"
            << "";
        QTest::newRow("stored angle") << QByteArray("Camera2Yaw=12.5\n") << "Camera2Yaw"
                                      << "12.5";
        QTest::newRow("switch stays text") << QByteArray("RadiansAngles=1\n") << "RadiansAngles"
                                           << "1";
        QTest::newRow("key added by hand") << QByteArray("ScaleFactor=1.25\n") << "ScaleFactor"
                                           << "1.25";
        QTest::newRow("other case is another key")
            << QByteArray("serialnumber=123\n") << "Serialnumber"
            << "000000";
        QTest::newRow("other case kept") << QByteArray("serialnumber=123\n") << "serialnumber"
                                         << "123";
        QTest::newRow("comma kept as text")
            << QByteArray("ExtraSerialPorts=/dev/ttyA,/dev/ttyB\n") << "ExtraSerialPorts"
            << "/dev/ttyA,/dev/ttyB";
    }

    void storedValuesKept()
    {
        QFETCH(QByteArray, iniText);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        store(iniText);
        const QVariant value = getSettings().value(key);
        QCOMPARE(value.userType(), int(QMetaType::QString));
        QCOMPARE(value.toString(), expected);
        QCOMPARE(QSettings(ini, QSettings::IniFormat).allKeys().contains(key), true);
    }

    void updateChangesOneKeyOnly_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("empty") << "";
        QTest::newRow("comma") << "a, b";
        QTest::newRow("ini syntax") << "x=y;z #w";
        QTest::newRow("blanks around") << "  padded  ";
        QTest::newRow("non-ASCII") << QString::fromUtf8("R\xC3\xBC"
                                                        "ck");
    }

    void updateChangesOneKeyOnly()
    {
        QFETCH(QString, value);
        store("ScaleFactor=1.5\nCamera1Roll=-45\n");
        QVariantMap expected = getSettings();
        updateSettings({{"Serialnumber", value}});
        expected.insert("Serialnumber", value);
        QCOMPARE(getSettings(), expected);
    }

    void anglesForTemplate_data()
    {
        // An invalid variant stands for a key that is absent.
        QTest::addColumn<QVariant>("radians");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("input");
        QTest::addColumn<QVariant>("expected");
        const QVariant absent;
        QTest::newRow("roll") << QVariant("1") << "Camera1Roll" << QVariant("-90")
                              << QVariant(-1.5707963f);
        QTest::newRow("negative zero")
            << QVariant("1") << "Camera2Yaw" << QVariant("-0") << QVariant(-0.0f);
        QTest::newRow("no number")
            << QVariant("1") << "Camera2Pitch" << QVariant("abc") << QVariant(0.0f);
        QTest::newRow("absent angle") << QVariant("1") << "Camera3Yaw" << absent << QVariant(0.0f);
        QTest::newRow("switch as word")
            << QVariant("true") << "Camera3Pitch" << QVariant("45") << QVariant(0.78539819f);
        QTest::newRow("offset stays text")
            << QVariant("1") << "Camera1OffsetX" << QVariant("-20") << QVariant("-20");
        QTest::newRow("switch 0") << QVariant("0") << "Camera1Roll" << QVariant("-90")
                                  << QVariant("-90");
        QTest::newRow("switch false")
            << QVariant("false") << "Camera1Roll" << QVariant("-90") << QVariant("-90");
        QTest::newRow("switch empty")
            << QVariant("") << "Camera1Roll" << QVariant("-90") << QVariant("-90");
        QTest::newRow("switch absent")
            << absent << "Camera1Roll" << QVariant("-90") << QVariant("-90");
        QTest::newRow("absent angle, switch 0")
            << QVariant("0") << "Camera3Yaw" << absent << absent;
    }

    void anglesForTemplate()
    {
        QFETCH(QVariant, radians);
        QFETCH(QString, key);
        QFETCH(QVariant, input);
        QFETCH(QVariant, expected);
        QVariantMap settings{{"Camera1OffsetY", "0"}, {"Serialnumber", "000042"}};
        if (radians.isValid())
            settings.insert("RadiansAngles", radians);
        if (input.isValid())
            settings.insert(key, input);

        const QVariantMap result = ::anglesForTemplate(settings);
        const QVariant actual = result.value(key);
        QCOMPARE(actual.isValid(), expected.isValid());
        QCOMPARE(actual.userType(), expected.userType());
        if (expected.userType() == QMetaType::Float) {
            QCOMPARE(actual.toFloat(), expected.toFloat());
            QCOMPARE(std::signbit(actual.toFloat()), std::signbit(expected.toFloat()));
        } else {
            QCOMPARE(actual, expected);
        }
        QCOMPARE(result.value("Serialnumber"), QVariant("000042"));
        if (!radians.toBool())
            QCOMPARE(result, settings);
    }

    void calibrationServiceUrl_data()
    {
        QTest::addColumn<QByteArray>("iniText");
        QTest::addColumn<QString>("expected");
        QTest::newRow("absent") << QByteArray() << defaultCalibrationServiceUrl();
        QTest::newRow("empty") << QByteArray("CalibrationServiceUrl=\n")
                               << defaultCalibrationServiceUrl();
        QTest::newRow("set") << QByteArray("CalibrationServiceUrl=http://10.0.0.5:9000\n")
                             << "http://10.0.0.5:9000";
        QTest::newRow("trailing slashes")
            << QByteArray("CalibrationServiceUrl=https://h/x//\n") << "https://h/x";
    }

    void calibrationServiceUrl()
    {
        QFETCH(QByteArray, iniText);
        QFETCH(QString, expected);
        store(iniText);
        QCOMPARE(::calibrationServiceUrl(), expected);
        QVERIFY(!defaultCalibrationServiceUrl().isEmpty());
    }

    void configuredSerialPorts_data()
    {
        QTest::addColumn<QString>("stored"); // {a} and {b} exist, {x} does not
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("absent") << QString() << QStringList();
        QTest::newRow("one") << "{a}" << QStringList{"a"};
        QTest::newRow("missing left out") << "{a},{x},{b}" << QStringList{"a", "b"};
        QTest::newRow("blanks, order, repeats") << " {b} , {a},,{b}" << QStringList{"b", "a"};
        QTest::newRow("quoted") << "\"{a},{b}\"" << QStringList{"a", "b"};
    }

    void configuredSerialPorts()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, expected);
        QTemporaryDir ports;
        QVERIFY(TestSupport::writeFile(ports.filePath("a"), {}));
        QVERIFY(TestSupport::writeFile(ports.filePath("b"), {}));
        stored.replace("{", ports.path() + "/").replace("}", "");
        store(stored.isNull() ? QByteArray() : ("ExtraSerialPorts=" + stored + "\n").toUtf8());

        const QVariantList entries = configuredSerialPortEntries();
        QCOMPARE(entries.size(), expected.size());
        for (int i = 0; i < entries.size(); ++i) {
            const QString path = ports.filePath(expected[i]);
            const QVariantMap wanted{{"name", path},
                                     {"location", path},
                                     {"description", "Configured port"},
                                     {"manufacturer", ""},
                                     {"serial", ""}};
            QCOMPARE(entries[i].toMap(), wanted);
        }
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
