#include "controllersimulator.h"
#include "datarecord.h"

#include <QtTest>

#include <limits>
#include <time.h>

namespace {

QString record(const QByteArray& body)
{
    return QString::fromLatin1(ControllerSimulator::sentence(body)).trimmed();
}

} // namespace

class TestDataRecord : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void decoding_data();
    void decoding();
    void undecodableLineGivesZeros();
    void startTime_data();
    void startTime();
    void readings_data();
    void readings();
    void wholeRow();
    void header();
};

void TestDataRecord::initTestCase()
{
    // Rows carry local time; make it the same everywhere.
    qputenv("TZ", "UTC");
    tzset();
}

void TestDataRecord::decoding_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("timestamp");
    QTest::addColumn<QString>("type");

    const QByteArray tail = ",0.5,20,7,-1.5,2.25,0";
    QTest::newRow("start") << record("PQVKDATA,5,1,1600000000" + tail) << true << 5 << 1600000000
                           << "s";
    QTest::newRow("start and typed")
        << record("PQVKDATA,5,11,1600000000" + tail) << true << 5 << 1600000000 << "s";
    QTest::newRow("video") << record("PQVKDATA,6,10,4098" + tail) << true << 6 << 4098 << "v";
    QTest::newRow("photo") << record("PQVKDATA,6,18,4098" + tail) << true << 6 << 4098 << "p";
    QTest::newRow("both letters: video")
        << record("PQVKDATA,6,26,4098" + tail) << true << 6 << 4098 << "v";
    QTest::newRow("typed, no letter")
        << record("PQVKDATA,6,2,4098" + tail) << true << 6 << 4098 << "";
    QTest::newRow("letter without typed bit")
        << record("PQVKDATA,6,8,4098" + tail) << true << 6 << 4098 << "";
    QTest::newRow("no flags") << record("PQVKDATA,6,0,4098" + tail) << true << 6 << 4098 << "";
    QTest::newRow("without sixth reading")
        << record("PQVKDATA,6,10,4098,0.5,20,7,-1.5,2.25") << true << 6 << 4098 << "v";
}

void TestDataRecord::decoding()
{
    QFETCH(QString, line);
    QFETCH(bool, valid);
    QFETCH(int, id);
    QFETCH(int, timestamp);
    QFETCH(QString, type);
    const DataRecord r(line);
    QCOMPARE(r.isValid(), valid);
    QCOMPARE(r.Id, id);
    QCOMPARE(r.Number, id);
    QCOMPARE(r.Timestamp, timestamp);
    QCOMPARE(r.Type.isNull() ? QString() : QString(r.Type), type);
    QCOMPARE(r.isStart(), type == "s");
    QCOMPARE(r.start, type == "s" ? quint32(timestamp) : 0u);
    QCOMPARE(r.dateTime.toSecsSinceEpoch(), qint64(timestamp));
}

void TestDataRecord::undecodableLineGivesZeros()
{
    const QStringList lines = {
        QString(),
        "garbage",
        "$PQVKDATA,6,10,4098,0.5,20,7,-1.5,2.25,0*00",      // wrong checksum
        "$PQVKDATA,6,10,4098,0.5,20,7,-1.5,2.25,0",         // no checksum
        record("PQVKDATAX,6,10,4098,0.5,20,7,-1.5,2.25,0"), // another sentence
        record("PQVKDATA,6,10,4098,0.5,20,7,-1.5"),         // a reading short
        record("PQVKMSG,1600000000,PQVKDUMP,DUMP,DATA END"),
    };
    for (const QString& line : lines) {
        const DataRecord r(line);
        QVERIFY2(!r.isValid(), qPrintable(line));
        QCOMPARE(r.toCsvRow(), QString("0,0,1970-01-01 00:00:00,0,0,,0,0,0,0,0\r\n"));
        QCOMPARE(r.flags, 0);
        QCOMPARE(r.sixth, 0.0);
    }
}

void TestDataRecord::startTime_data()
{
    QTest::addColumn<quint32>("start");
    QTest::addColumn<int>("stampField");
    QTest::addColumn<int>("timestamp");
    QTest::addColumn<QString>("runtime");

    QTest::newRow("start with low bits zero") << 1599995904u << 5 << 1599995909 << "5";
    QTest::newRow("same moment") << 1600000000u << 4096 << 1600000000 << "0";
    QTest::newRow("later, same upper part") << 1600000000u << 4112 << 1600000016 << "16";
    QTest::newRow("full timestamp sent") << 1600000000u << 1600000100 << 1600000100 << "100";
    // 0x5F5EFF00 then low bits 0x0010: the counter wrapped, the upper part steps on.
    QTest::newRow("counter wrapped") << 0x5F5EFF00u << 0x10 << 0x5F5F0010 << "272";
}

void TestDataRecord::startTime()
{
    QFETCH(quint32, start);
    QFETCH(int, stampField);
    QFETCH(int, timestamp);
    QFETCH(QString, runtime);
    DataRecord r(record("PQVKDATA,9,10," + QByteArray::number(stampField) + ",1,2,3,4,5,6"));
    r.setStartTime(start);
    QCOMPARE(r.Timestamp, timestamp);
    QCOMPARE(r.dateTime.toSecsSinceEpoch(), qint64(timestamp));
    QCOMPARE(r.toCsvRow().split(',').at(4), runtime);
}

void TestDataRecord::readings_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("text");

    QTest::newRow("twelve and a half") << QByteArray("12.5") << "12.5";
    QTest::newRow("whole number") << QByteArray("3.000") << "3";
    QTest::newRow("negative") << QByteArray("-1.5") << "-1.5";
    QTest::newRow("zero") << QByteArray("0") << "0";
    QTest::newRow("six digits") << QByteArray("999999") << "999999";
    QTest::newRow("a million") << QByteArray("1000000") << "1e+06";
    QTest::newRow("rounded to six digits") << QByteArray("1234567") << "1.23457e+06";
    QTest::newRow("smallest plain") << QByteArray("0.0001") << "0.0001";
    QTest::newRow("below 1e-4") << QByteArray("0.00001234") << "1.234e-05";
    QTest::newRow("unconvertible") << QByteArray("x") << "1.79769e+308";
}

void TestDataRecord::readings()
{
    QFETCH(QByteArray, field);
    QFETCH(QString, text);
    const DataRecord r(record("PQVKDATA,2,10,4098," + field + ",0,0,0,0,0"));
    QCOMPARE(r.toCsvRow().split(',').at(6), text);
}

void TestDataRecord::wholeRow()
{
    DataRecord r(record("PQVKDATA,7,10,4098,12.5,20.25,7,-1.5,2.25,99"));
    r.setStartTime(1600000000);
    r.Number -= 1;
    QCOMPARE(r.toCsvRow(),
             QString("6,7,2020-09-13 12:26:42,1600000002,2,v,12.5,20.25,7,-1.5,2.25\r\n"));
}

void TestDataRecord::header()
{
    QCOMPARE(DataRecord::csvHeader(),
             QString("Number,Id,Datetime,Timestamp,Runtime,Type,Depth,Temperature,Heading,Roll,"
                     "Pitch\r\n"));
}

QTEST_APPLESS_MAIN(TestDataRecord)
#include "tst_datarecord.moc"
