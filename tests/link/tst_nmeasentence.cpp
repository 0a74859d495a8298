#include "nmeasentence.h"

#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <functional>
#include <limits>
#include <unistd.h>

namespace {

// What a call writes to the process's standard error stream.
QByteArray stderrOf(const std::function<void()>& call)
{
    QTemporaryFile capture;
    if (!capture.open())
        return "<no capture>";
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(capture.handle(), 2);
    call();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    capture.seek(0);
    return capture.readAll();
}

} // namespace

class TestNmeaSentence : public QObject
{
    Q_OBJECT

private slots:
    void building_data();
    void building();
    void verifying_data();
    void verifying();
    void splitting_data();
    void splitting();
    void integers_data();
    void integers();
    void reals_data();
    void reals();
    void characters();
};

void TestNmeaSentence::building_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QList<quint32>>("fields");
    QTest::addColumn<QByteArray>("expected");

    // "$" is not part of the checksum: P^Q^V^K^O^F^F = 0x53.
    QTest::newRow("no fields") << QByteArray("$PQVKOFF") << QList<quint32>()
                               << QByteArray("$PQVKOFF*53");
    // A checksum below 16 keeps its leading zero.
    QTest::newRow("leading zero") << QByteArray("$PQVKSETRTC") << QList<quint32>{0}
                                  << QByteArray("$PQVKSETRTC,0*07");
    QTest::newRow("upper-case letters") << QByteArray("$PQVKSETRTC") << QList<quint32>{1700000028}
                                        << QByteArray("$PQVKSETRTC,1700000028*3B");
    QTest::newRow("five fields") << QByteArray("$PQVKSETSETTINGS")
                                 << QList<quint32>{1, 1000, 5000, 60, 29}
                                 << QByteArray("$PQVKSETSETTINGS,1,1000,5000,60,29*4F");
    // Values from 2^31 on are written as the signed number they share bits with.
    QTest::newRow("beyond signed range") << QByteArray("$PQVKSETRTC") << QList<quint32>{0x80000000u}
                                         << QByteArray("$PQVKSETRTC,-2147483648*1F");
}

void TestNmeaSentence::building()
{
    QFETCH(QByteArray, name);
    QFETCH(QList<quint32>, fields);
    QFETCH(QByteArray, expected);
    NmeaSentence sentence(name);
    for (quint32 field : fields)
        sentence.appendField(field);
    sentence.appendChecksum();
    QCOMPARE(sentence.text(), expected);
    QVERIFY(NmeaSentence(sentence.text() + "\r\n").verifyChecksum());
}

void TestNmeaSentence::verifying_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("verifies");

    QTest::newRow("correct") << QByteArray("$PQVKNUMDATA,12*75\r\n") << true;
    QTest::newRow("lower-case digits") << QByteArray("$PQVKSETRTC,1700000028*3b\r\n") << true;
    QTest::newRow("no line end") << QByteArray("$PQVKOFF*53") << true;
    QTest::newRow("bytes after the line end") << QByteArray("$PQVKOFF*53\r\n$GARBAGE") << true;
    QTest::newRow("wrong value") << QByteArray("$PQVKOFF*54\r\n") << false;
    QTest::newRow("no star") << QByteArray("$PQVKOFF\r\n") << false;
    QTest::newRow("nothing after star") << QByteArray("$PQVKOFF*\r\n") << false;
    QTest::newRow("not hex after star") << QByteArray("$PQVKOFF*1G\r\n") << false;
    QTest::newRow("blank after digits") << QByteArray("$PQVKOFF*53 \r\n") << false;
    QTest::newRow("value above a byte") << QByteArray("$PQVKOFF*153\r\n") << false;
    QTest::newRow("many digits") << QByteArray("$PQVKOFF*FFFFFFFFFFFFFFFFFF53\r\n") << false;
    QTest::newRow("leading zeros") << QByteArray("$PQVKOFF*0053\r\n") << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("star alone") << QByteArray("*00") << true; // checksum of nothing is 0
}

void TestNmeaSentence::verifying()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, verifies);
    QCOMPARE(NmeaSentence(line).verifyChecksum(), verifies);
}

void TestNmeaSentence::splitting_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QList<QByteArray>>("fields");
    QTest::addColumn<int>("fieldCount");

    QTest::newRow("count answer") << QByteArray("$PQVKNUMDATA,12*75\r\n")
                                  << QList<QByteArray>{"$PQVKNUMDATA", "12"} << 1;
    QTest::newRow("empty field kept in place")
        << QByteArray("$PQVKMSG,1,,X*00\r\n") << QList<QByteArray>{"$PQVKMSG", "1", "", "X"} << 3;
    QTest::newRow("no star loses the last field")
        << QByteArray("$PQVKMSG,1,2\r\n") << QList<QByteArray>{"$PQVKMSG", "1"} << 1;
    QTest::newRow("name only") << QByteArray("$PQVKOFF*53\r\n") << QList<QByteArray>{"$PQVKOFF"}
                               << 0;
    QTest::newRow("NUL ends the line")
        << QByteArray("$A,1,2*00", 9).replace(4, 1, "\0", 1) << QList<QByteArray>{"$A"} << 0;
    QTest::newRow("empty") << QByteArray() << QList<QByteArray>() << 0;
}

void TestNmeaSentence::splitting()
{
    QFETCH(QByteArray, line);
    QFETCH(QList<QByteArray>, fields);
    QFETCH(int, fieldCount);
    const NmeaSentence sentence(line);
    QCOMPARE(sentence.fieldCount(), fieldCount);
    for (int i = 0; i < fields.size(); ++i)
        QCOMPARE(sentence.getString(i), fields.at(i));
    QVERIFY(!sentence.text().contains('\r') && !sentence.text().contains('\n'));
    // Beyond the fields reads as empty, never past the text.
    QCOMPARE(sentence.getString(fields.size()), QByteArray());
    QCOMPARE(sentence.getString(-1), QByteArray());
}

void TestNmeaSentence::integers_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QByteArray>("errorLine");

    const int sub = std::numeric_limits<qint32>::max();
    QTest::newRow("digits then letters") << QByteArray("12ab") << 12 << QByteArray();
    QTest::newRow("leading blanks and sign") << QByteArray("  -7") << -7 << QByteArray();
    QTest::newRow("plus sign") << QByteArray("+5") << 5 << QByteArray();
    QTest::newRow("smallest") << QByteArray("-2147483648") << std::numeric_limits<qint32>::min()
                              << QByteArray();
    QTest::newRow("empty") << QByteArray() << sub << QByteArray("Invalid argument:stoi\n");
    QTest::newRow("letters") << QByteArray("ab12") << sub << QByteArray("Invalid argument:stoi\n");
    QTest::newRow("sign alone") << QByteArray("-") << sub << QByteArray("Invalid argument:stoi\n");
    QTest::newRow("just above") << QByteArray("2147483648") << sub
                                << QByteArray("Out of range:stoi\n");
    QTest::newRow("just below") << QByteArray("-2147483649") << sub
                                << QByteArray("Out of range:stoi\n");
    QTest::newRow("far above") << QByteArray("99999999999999999999999") << sub
                               << QByteArray("Out of range:stoi\n");
}

void TestNmeaSentence::integers()
{
    QFETCH(QByteArray, field);
    QFETCH(int, expected);
    QFETCH(QByteArray, errorLine);
    const NmeaSentence sentence("$PQVKX," + field + "*00");
    qint32 value = 0;
    const QByteArray written = stderrOf([&] { value = sentence.getInt(1); });
    QCOMPARE(value, expected);
    QCOMPARE(written, errorLine);
}

void TestNmeaSentence::reals_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<double>("expected");
    QTest::addColumn<QByteArray>("errorLine");

    const double sub = std::numeric_limits<double>::max();
    QTest::newRow("decimal") << QByteArray("12.5") << 12.5 << QByteArray();
    QTest::newRow("exponent") << QByteArray("-2.5e3V") << -2500.0 << QByteArray();
    QTest::newRow("point first") << QByteArray(" .25") << 0.25 << QByteArray();
    QTest::newRow("empty") << QByteArray() << sub << QByteArray("Invalid argument:stod\n");
    QTest::newRow("not a number") << QByteArray("nan") << sub
                                  << QByteArray("Invalid argument:stod\n");
    QTest::newRow("infinity") << QByteArray("inf") << sub << QByteArray("Invalid argument:stod\n");
    QTest::newRow("too large") << QByteArray("1e400") << sub << QByteArray("Out of range:stod\n");
}

void TestNmeaSentence::reals()
{
    QFETCH(QByteArray, field);
    QFETCH(double, expected);
    QFETCH(QByteArray, errorLine);
    const NmeaSentence sentence("$PQVKX," + field + "*00");
    double value = 0;
    const QByteArray written = stderrOf([&] { value = sentence.getDouble(1); });
    QCOMPARE(value, expected);
    QCOMPARE(written, errorLine);
}

void TestNmeaSentence::characters()
{
    const NmeaSentence sentence("$PQVKCLOCK,,A1*00");
    QCOMPARE(sentence.getChar(1), '\0');
    QCOMPARE(sentence.getChar(2), 'A');
    QCOMPARE(sentence.getChar(3), '\0');
}

QTEST_APPLESS_MAIN(TestNmeaSentence)
#include "tst_nmeasentence.moc"
