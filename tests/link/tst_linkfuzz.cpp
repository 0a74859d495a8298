#include "datarecord.h"
#include "nmeasentence.h"

#include <QRandomGenerator>
#include <QtTest>

#include <QTemporaryFile>

#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char* const seeds[] = {
    "$PQVKDATA,12,10,4098,12.5,20.25,7,-1.5,2.25,0*0D\r\n",
    "$PQVKDATA,1,1,1600000000,0,0,0,0,0,0*27\r\n",
    "$PQVKSETTINGS,1,1000,5000,60,29*0D\r\n",
    "$PQVKMSG,1600000000,PQVKVER,VERSION,2.4.1*72\r\n",
    "$PQVKCLOCK,2023,11,14,22,13,20,0,A*23\r\n",
    "$PQVKNUMDATA,4*42\r\n",
};

// Bytes the parsers treat specially, so mutations reach every branch.
const char specials[] = {'$', ',', '*', '\r', '\n', '\0', '-', '+',        '.',       'e',
                         'E', ' ', '0', '9',  'A',  'f',  'x', char(0xFF), char(0x80)};

QByteArray randomBytes(QRandomGenerator& rng)
{
    QByteArray bytes(int(rng.bounded(120)), Qt::Uninitialized);
    for (char& c : bytes) {
        c = rng.bounded(3) == 0 ? specials[rng.bounded(int(sizeof specials))]
                                : char(rng.bounded(256));
    }
    return bytes;
}

QByteArray mutated(QRandomGenerator& rng)
{
    QByteArray bytes = seeds[rng.bounded(int(sizeof seeds / sizeof *seeds))];
    const int edits = 1 + int(rng.bounded(4));
    for (int i = 0; i < edits && !bytes.isEmpty(); ++i) {
        const int at = int(rng.bounded(bytes.size()));
        switch (rng.bounded(4)) {
        case 0:
            bytes[at] = specials[rng.bounded(int(sizeof specials))];
            break;
        case 1:
            bytes.remove(at, 1 + int(rng.bounded(5)));
            break;
        case 2:
            bytes.insert(at, QByteArray(1 + int(rng.bounded(30)), char(rng.bounded(256))));
            break;
        default:
            bytes[at] = char(rng.bounded(256));
        }
    }
    return bytes;
}

// Everything a caller may ask of a sentence and of a record built from the bytes.
quint64 exercise(const QByteArray& bytes, quint32 start)
{
    quint64 sink = 0;
    const NmeaSentence sentence(bytes);
    sink += sentence.verifyChecksum();
    const int count = sentence.fieldCount();
    for (int i = -1; i <= count + 2; ++i) {
        sink += quint64(sentence.getString(i).size());
        sink += quint64(sentence.getInt(i));
        sink += quint64(sentence.getChar(i));
        sink += sentence.getDouble(i) > 0;
    }
    DataRecord record(QString::fromUtf8(bytes));
    sink += quint64(record.toCsvRow().size());
    record.setStartTime(start);
    sink += quint64(record.toCsvRow().size());
    return sink;
}

// A sentence we build always verifies once received, whatever its name bytes.
bool builtVerifies(QByteArray name, quint32 value)
{
    for (char c : {'*', '\r', '\n', '\0'})
        name.replace(c, QByteArray());
    NmeaSentence built(name);
    built.appendField(value);
    built.appendChecksum();
    return NmeaSentence(built.text() + "\r\n").verifyChecksum();
}

} // namespace

class TestLinkFuzz : public QObject
{
    Q_OBJECT

private slots:
    void randomInput_data();
    void randomInput();
};

void TestLinkFuzz::randomInput_data()
{
    QTest::addColumn<bool>("fromSeeds");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("random bytes") << false << 20240611u;
    QTest::newRow("mutated sentences") << true << 7u;
}

void TestLinkFuzz::randomInput()
{
    QFETCH(bool, fromSeeds);
    QFETCH(quint32, seed);
    // The conversions write a line to standard error for every field that does
    // not convert, thousands for random input. The run goes to a child process
    // whose standard error is kept aside and shown only when a sanitizer (or a
    // failed check) ended it.
    QTemporaryFile errors;
    QVERIFY(errors.open());
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::dup2(errors.handle(), 2);
        QRandomGenerator rng(seed);
        quint64 sink = 0;
        int unverified = 0;
        for (int i = 0; i < 20000; ++i) {
            const QByteArray bytes = fromSeeds ? mutated(rng) : randomBytes(rng);
            sink += exercise(bytes, rng.generate());
            unverified += builtVerifies(bytes.left(40), rng.generate()) ? 0 : 1;
        }
        if (unverified)
            std::fprintf(stderr, "FUZZ: %d built sentences did not verify\n", unverified);
        std::fflush(stderr);
        // No exit handlers here: the test framework belongs to the parent.
        ::_exit(unverified == 0 && sink != 0 ? 0 : 3);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    const bool passed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!passed) {
        errors.seek(0);
        for (const QByteArray& line : errors.readAll().split('\n')) {
            if (!line.startsWith("Invalid argument:") && !line.startsWith("Out of range:"))
                std::fprintf(stderr, "%s\n", line.constData());
        }
    }
    QVERIFY2(passed, "the parsers failed under random input (report above)");
}

QTEST_APPLESS_MAIN(TestLinkFuzz)
#include "tst_linkfuzz.moc"
