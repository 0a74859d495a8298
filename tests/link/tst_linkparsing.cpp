#include "link/datarecord.h"
#include "link/nmeasentence.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>
#include <limits>
#include <time.h>

namespace {

QString record(const QByteArray& body)
{
    NmeaSentence sentence("$" + body);
    sentence.appendChecksum();
    return QString::fromLatin1(sentence.text());
}

QString withFlags(int flags)
{
    return record("PQVKDATA,6," + QByteArray::number(flags) + ",4098,0.5,20,7,-1.5,2.25,0");
}

const char* const seeds[] = {"$PQVKDATA,12,10,4098,12.5,20.25,7,-1.5,2.25,0*0D\r\n",
                             "$PQVKSETTINGS,1,1000,5000,60,29*0D\r\n",
                             "$PQVKMSG,1600000000,PQVKVER,VERSION,2.4.1*72\r\n",
                             "$PQVKCLOCK,2023,11,14,22,13,20,0,A*23\r\n"};

// Bytes with a meaning to the parsers, so random input reaches every branch.
const char syntaxBytes[] = "$,*\r\n-+.eE 09Af\xff\x80"; // and the closing NUL

char randomByte(QRandomGenerator& rng)
{
    return rng.bounded(3) == 0 ? syntaxBytes[rng.bounded(int(sizeof syntaxBytes))]
                               : char(rng.bounded(256));
}

// Random bytes, or a known sentence with a few bytes replaced, then
// resealed or cut short.
QByteArray fuzzInput(QRandomGenerator& rng, bool fromSeeds)
{
    QByteArray bytes = fromSeeds ? QByteArray(seeds[rng.bounded(int(sizeof seeds / sizeof *seeds))])
                                 : QByteArray(int(rng.bounded(120)), '\0');
    for (int i = 0; i < bytes.size(); ++i) {
        if (!fromSeeds || rng.bounded(16) == 0)
            bytes[i] = randomByte(rng);
    }
    if (fromSeeds && rng.bounded(2) == 0) { // a fresh checksum, so the odd fields are decoded
        NmeaSentence resealed(bytes.left(bytes.indexOf('*')));
        resealed.appendChecksum();
        return resealed.text();
    }
    return bytes.left(int(rng.bounded(bytes.size() + 1)));
}

// Everything a caller may ask of a sentence and a record made of the bytes.
quint64 exercise(const QByteArray& bytes, quint32 start)
{
    const NmeaSentence sentence(bytes);
    quint64 sink = sentence.verifyChecksum();
    for (int i = -1; i <= sentence.fieldCount() + 2; ++i) {
        sink += quint64(sentence.getString(i).size()) + quint64(sentence.getInt(i)) +
                quint64(sentence.getChar(i)) + (sentence.getDouble(i) > 0);
    }
    DataRecord record(QString::fromUtf8(bytes));
    record.setStartTime(start);
    return sink + quint64(record.toCsvRow().size());
}

} // namespace

// Built with AddressSanitizer and UndefinedBehaviorSanitizer (see link.cmake).
class TestLinkParsing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC"); // rows carry local time
        tzset();
    }

    void verifying_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("verifies");
        QTest::newRow("below 16") << "$PQVKSETRTC,0*07" << true;
        QTest::newRow("lower-case digits") << "$PQVKSETRTC,1700000028*3b\r\n" << true;
        QTest::newRow("bytes after the line end") << "$PQVKOFF*53\r\n$GARBAGE" << true;
        QTest::newRow("wrong value") << "$PQVKOFF*54\r\n" << false;
        QTest::newRow("no star") << "$PQVKOFF\r\n" << false;
        QTest::newRow("blank after digits") << "$PQVKOFF*53 \r\n" << false;
        QTest::newRow("above a byte") << "$PQVKOFF*153\r\n" << false;
        QTest::newRow("many digits") << "$PQVKOFF*1000000000053\r\n" << false;
    }
    void verifying()
    {
        QFETCH(QString, line);
        QFETCH(bool, verifies);
        QCOMPARE(NmeaSentence(line.toLatin1()).verifyChecksum(), verifies);
    }

    void splitting_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("empty field kept in place")
            << QByteArray("$PQVKMSG,1,,X*00\r\n") << QStringList{"$PQVKMSG", "1", "", "X"};
        QTest::newRow("no star loses the last field")
            << QByteArray("$PQVKMSG,1,2\r\n") << QStringList{"$PQVKMSG", "1"};
        QTest::newRow("NUL ends the line") << QByteArray("$A,1\0,2*00", 10) << QStringList{"$A"};
    }
    void splitting()
    {
        QFETCH(QByteArray, line);
        QFETCH(QStringList, fields);
        const NmeaSentence sentence(line);
        QCOMPARE(sentence.fieldCount(), qMax(0, fields.size() - 1));
        // Beyond the fields reads as empty, never past the text.
        for (int i = -1; i <= fields.size(); ++i) {
            const QByteArray field = fields.value(i).toLatin1();
            QCOMPARE(sentence.getString(i), field);
            QCOMPARE(sentence.getChar(i), field.isEmpty() ? '\0' : field.at(0));
        }
    }

    void conversions_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("real");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("errorLine"); // on standard error
        const double intSub = std::numeric_limits<qint32>::max();
        const double realSub = std::numeric_limits<double>::max();
        QTest::newRow("int 12ab") << "12ab" << false << 12.0 << "";
        QTest::newRow("int empty") << "" << false << intSub << "Invalid argument:stoi";
        QTest::newRow("int above range") << "2147483648" << false << intSub << "Out of range:stoi";
        QTest::newRow("real with exponent") << "-2.5e3V" << true << -2500.0 << "";
        QTest::newRow("real infinity") << "inf" << true << realSub << "Invalid argument:stod";
        QTest::newRow("real too large") << "1e400" << true << realSub << "Out of range:stod";
    }
    void conversions()
    {
        QFETCH(QString, field);
        QFETCH(bool, real);
        QFETCH(double, value);
        QFETCH(QString, errorLine);
        const NmeaSentence sentence("$PQVKX," + field.toLatin1() + "*00");
        // A warning through the log handler, never a bare line on standard error.
        if (!errorLine.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable(errorLine));
        bool ok = false;
        const double got = real ? sentence.getDouble(1, &ok) : double(sentence.getInt(1, &ok));
        QCOMPARE(got, value);
        QCOMPARE(ok, errorLine.isEmpty()); // tells a number from the substitute
    }

    void decoding_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("type"); // "-": the line does not decode
        QTest::newRow("start") << withFlags(1) << "s";
        QTest::newRow("video") << withFlags(10) << "v";
        QTest::newRow("photo") << withFlags(18) << "p";
        QTest::newRow("video and photo bits") << withFlags(26) << "v";
        QTest::newRow("typed, no letter") << withFlags(2) << "";
        QTest::newRow("letter without typed bit") << withFlags(8) << "";
        QTest::newRow("no sixth reading") << record("PQVKDATA,6,10,4098,0.5,20,7,-1.5,2.25") << "v";
        QTest::newRow("wrong checksum") << "$PQVKDATA,6,10,4098,0.5,20,7,-1.5,2.25,0*00"
                                        << "-";
        QTest::newRow("a reading short") << record("PQVKDATA,6,10,4098,0.5,20,7,-1.5") << "-";
    }
    void decoding()
    {
        QFETCH(QString, line);
        QFETCH(QString, type);
        const DataRecord r(line);
        QCOMPARE(r.isValid(), type != "-");
        if (r.isValid())
            QCOMPARE(r.toCsvRow().section(',', 5, 5), type);
        else
            QCOMPARE(r.toCsvRow(), QString("0,0,1970-01-01 00:00:00,0,0,,0,0,0,0,0\r\n"));
    }

    // The export writes rows with its own number and time formatting; they must
    // read exactly as the framework's formatting of the same record, in a zone
    // with daylight saving and in UTC, for times around the year and readings
    // of every size.
    void rowsAsTheFrameworkWritesThem_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::newRow("Europe/Berlin") << QByteArray("Europe/Berlin");
        QTest::newRow("UTC") << QByteArray("UTC");
    }
    void rowsAsTheFrameworkWritesThem()
    {
        QFETCH(QByteArray, zone);
        qputenv("TZ", zone);
        tzset();
        QRandomGenerator rng(zone.size());
        auto reading = [&rng]() -> double {
            switch (rng.bounded(4)) {
            case 0:
                return (int(rng.bounded(200000)) - 100000) / std::pow(10.0, rng.bounded(-2, 7));
            case 1:
                return (rng.generateDouble() - 0.5) * std::pow(10.0, rng.bounded(-9, 12));
            case 2:
                return rng.bounded(2) ? 123456.5 : -0.0; // a tie, and a negative zero
            default:
                return std::numeric_limits<double>::max();
            }
        };
        for (int i = 0; i < 20000; ++i) {
            DataRecord r;
            r.Number = int(rng.bounded(100000)) - 10;
            r.Id = int(rng.generate());
            r.start = rng.generate();
            r.Timestamp = int(rng.generate()); // before 1970 too
            r.Type = QLatin1Char("svp"[rng.bounded(3)]);
            r.depth = reading();
            r.temperature = reading();
            r.heading = reading();
            r.roll = reading();
            r.pitch = reading();
            const QString expected =
                QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9,%10,%11\r\n")
                    .arg(r.Number)
                    .arg(r.Id)
                    .arg(QDateTime::fromSecsSinceEpoch(r.Timestamp)
                             .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")))
                    .arg(r.Timestamp)
                    .arg(qint64(r.Timestamp) - qint64(r.start))
                    .arg(r.Type)
                    .arg(QString::number(r.depth, 'g', 6), QString::number(r.temperature, 'g', 6),
                         QString::number(r.heading, 'g', 6), QString::number(r.roll, 'g', 6),
                         QString::number(r.pitch, 'g', 6));
            QCOMPARE(r.toCsvRow(), expected);
        }
        qputenv("TZ", "UTC");
        tzset();
    }

    void randomInput_data()
    {
        QTest::addColumn<bool>("fromSeeds");
        QTest::newRow("random bytes") << false;
        QTest::newRow("mutated sentences") << true;
    }
    void randomInput()
    {
        QFETCH(bool, fromSeeds);
        // Fields that do not convert log a warning each, thousands here.
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        QRandomGenerator rng(fromSeeds ? 7 : 20240611);
        quint64 sink = 0;
        for (int i = 0; i < 20000; ++i)
            sink += exercise(fuzzInput(rng, fromSeeds), rng.generate());
        qInstallMessageHandler(previous);
        QVERIFY(sink != 0);
    }
};

QTEST_APPLESS_MAIN(TestLinkParsing)
#include "tst_linkparsing.moc"
