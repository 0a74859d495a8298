#include "base/apppaths.h"
#include "settings/settingsstore.h"
#include "support/testsupport.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestSettingsStore : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    QString ini;

    void store(const QByteArray& iniText) { QVERIFY(TestSupport::writeFile(ini, iniText)); }

private slots:
    void initTestCase()
    {
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
        resetPathCaches();
        ini = iniFilePath();
        QVERIFY2(home.isValid() && ini.startsWith(home.path()), qPrintable(ini));
    }

    void init() { QFile::remove(ini); }

    // The first read stores the defaults but no calibration, so the projects
    // keep the template's angles; a stored calibration keeps its meaning.
    void firstReadWritesDefaults()
    {
        const QVariantMap defaults = getSettings();
        const QSettings stored(ini, QSettings::IniFormat);
        QCOMPARE(stored.allKeys().size(), defaults.size());
        QCOMPARE(stored.value("RadiansAngles"), QVariant("0"));
        for (const char* key : {"OverwriteAngles", "Camera2Yaw", "Camera1OffsetX"})
            QVERIFY2(!defaults.contains(key), key);
    }

    void storedTextKeptAndUpdateChangesOneKey()
    {
        store("Serialnumber=\nExtraSerialPorts=/dev/a,/dev/b\nOverwriteAngles=1\nCamera2Yaw=-0\n");
        QVariantMap expected = getSettings();
        QCOMPARE(expected.size(), 8);
        QCOMPARE(expected.value("Serialnumber"), QVariant(""));
        QCOMPARE(expected.value("ExtraSerialPorts"), QVariant("/dev/a,/dev/b"));
        QCOMPARE(expected.value("OverwriteAngles"), QVariant("1"));
        QCOMPARE(expected.value("Camera2Yaw"), QVariant("-0"));

        const QString value = QString::fromUtf8(" x=y, z;#R\xC3\xBC ");
        updateSettings({{"Camera1Roll", value}});
        expected.insert("Camera1Roll", value);
        QCOMPARE(getSettings(), expected);
    }

    // Never written as a default, so that it follows a backup folder chosen later.
    void copiesBeforeWipe_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QList<int>>("copies"); // before and after a backup folder is chosen
        QTest::newRow("nothing stored") << QByteArray() << QList<int>{1, 2};
        QTest::newRow("one asked") << QByteArray("CopiesBeforeWipe=1\n") << QList<int>{1, 1};
        QTest::newRow("above the range") << QByteArray("CopiesBeforeWipe=9\n") << QList<int>{3, 3};
        QTest::newRow("no number") << QByteArray("CopiesBeforeWipe=two\n") << QList<int>{1, 2};
    }

    void copiesBeforeWipe()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QList<int>, copies);
        store(stored);
        getSettings();
        const int before = ::copiesBeforeWipe();
        setBackupDir(" /media/b ");
        QCOMPARE(backupDir(), QString("/media/b"));
        QCOMPARE(QList<int>({before, ::copiesBeforeWipe()}), copies);
    }

    void ownKeys()
    {
        QVERIFY(configuredSerialPortEntries().isEmpty());

        QTemporaryDir dir;
        const QString a = dir.filePath("a"), b = dir.filePath("b");
        QVERIFY(TestSupport::writeFile(a, {}) && TestSupport::writeFile(b, {}));
        updateSettings(
            {{"ExtraSerialPorts", QString("%1,%2, %3,,%1").arg(b, dir.filePath("x"), a)}});
        QVariantList expected;
        for (const QString& path : {b, a})
            expected << QVariantMap{{"name", path},
                                    {"location", path},
                                    {"manufacturer", ""},
                                    {"serial", ""},
                                    {"description", "Configured port"}};
        QCOMPARE(configuredSerialPortEntries(), expected);
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
