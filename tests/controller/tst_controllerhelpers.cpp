// Unit conversions and the battery level text of the controller tasks.
#include "controllertasks.h"

#include <QtTest>

#include <cmath>
#include <limits>

using namespace ControllerTasks;

class TestControllerHelpers : public QObject
{
    Q_OBJECT

private slots:
    void batteryLevel_data();
    void batteryLevel();
    void saveConversion_data();
    void saveConversion();
    void clock_data();
    void clock();
};

void TestControllerHelpers::batteryLevel_data()
{
    QTest::addColumn<double>("volts");
    QTest::addColumn<QString>("text");
    QTest::newRow("no reading") << 0.0 << "-";
    QTest::newRow("0.3") << 0.3 << "-";
    QTest::newRow("just below 0.5") << 0.499 << "-";
    QTest::newRow("0.5") << 0.5 << "Empty";
    QTest::newRow("3.49") << 3.49 << "Empty";
    QTest::newRow("3.5") << 3.5 << "10 %";
    QTest::newRow("3.569") << 3.569 << "10 %";
    QTest::newRow("3.57") << 3.57 << "20 %";
    QTest::newRow("3.78") << 3.78 << "50 %";
    QTest::newRow("4.129") << 4.129 << "90 %";
    QTest::newRow("4.13") << 4.13 << "100 %";
    QTest::newRow("5.2") << 5.2 << "100 %";
    QTest::newRow("not a number") << std::nan("") << "-";
}

void TestControllerHelpers::batteryLevel()
{
    QFETCH(double, volts);
    QFETCH(QString, text);
    QCOMPARE(batteryLevelText(volts), text);
}

void TestControllerHelpers::saveConversion_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("minutes");
    QTest::addColumn<uint>("milliseconds");
    QTest::addColumn<uint>("wholeMinutes");
    const uint max = std::numeric_limits<quint32>::max();
    QTest::newRow("quarter second") << 0.25 << 5.0 << 250u << 5u;
    QTest::newRow("truncated, not rounded") << 1.9999 << 90.9 << 1999u << 90u;
    QTest::newRow("below a millisecond") << 0.0004 << 0.5 << 0u << 0u;
    // Binary arithmetic puts these a hair below the whole number.
    QTest::newRow("2.01 s") << 2.01 << 2.9999999999999996 << 2010u << 3u;
    QTest::newRow("4.35 s") << 4.35 << 1.0 << 4350u << 1u;
    QTest::newRow("1.001 s") << 1.001 << 0.0 << 1001u << 0u;
    QTest::newRow("negative") << -1.5 << -3.0 << 0u << 0u;
    QTest::newRow("beyond the field") << 1e12 << 1e12 << max << max;
    QTest::newRow("not a number") << std::nan("") << std::nan("") << 0u << 0u;
}

void TestControllerHelpers::saveConversion()
{
    QFETCH(double, seconds);
    QFETCH(double, minutes);
    QFETCH(uint, milliseconds);
    QFETCH(uint, wholeMinutes);
    const PQVKConfig cfg = settingsToConfig(1, seconds, seconds, minutes, 26);
    QCOMPARE(cfg.recLedOn, 1u);
    QCOMPARE(cfg.videoLoggingInterval, milliseconds);
    QCOMPARE(cfg.timeLapseInterval, milliseconds);
    QCOMPARE(cfg.timeLapseTimeout, wholeMinutes);
    QCOMPARE(cfg.e1FirmwareVersion, 26u);
    QVERIFY(cfg.firmware.isEmpty());
}

void TestControllerHelpers::clock_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("taken"); // false: the current time stands in
    QTest::newRow("valid") << "2024-05-06 07:08:09" << true;
    QTest::newRow("leap day") << "2024-02-29 23:59:59" << true;
    QTest::newRow("month 13") << "2024-13-01 10:00:00" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("other format") << "06.05.2024 07:08" << false;
    QTest::newRow("before 1970") << "1960-01-01 00:00:00" << false;
    QTest::newRow("beyond the unit's clock") << "2100-01-01 00:00:00" << false;
}

void TestControllerHelpers::clock()
{
    QFETCH(QString, text);
    QFETCH(bool, taken);
    const QDateTime now(QDate(2023, 8, 1), QTime(12, 0, 0), Qt::LocalTime);
    const quint32 seconds = clockSeconds(text, now);
    if (taken) {
        const QDateTime local = QDateTime::fromString(text, ClockFormat);
        QCOMPARE(qint64(seconds), local.toSecsSinceEpoch());
        QCOMPARE(clockText(static_cast<qint32>(seconds)), text);
    } else {
        QCOMPARE(qint64(seconds), now.toSecsSinceEpoch());
    }
}

QTEST_GUILESS_MAIN(TestControllerHelpers)
#include "tst_controllerhelpers.moc"
