#include "apppaths.h"
#include "messagehandler.h"
#include "testsupport.h"

#include <QDateTime>
#include <QException>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Sends standard error into a file while it lives.
class StandardErrorCapture
{
public:
    explicit StandardErrorCapture(const QString& path)
    {
        fflush(stderr);
        saved = dup(STDERR_FILENO);
        const int fd =
            open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StandardErrorCapture()
    {
        fflush(stderr);
        dup2(saved, STDERR_FILENO);
        ::close(saved);
    }

private:
    int saved = -1;
};

const QString Stamp = QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}");

} // namespace

class TestMessageHandler : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void lineFormat_data();
    void lineFormat();
    void unwritableLogLosesOnlyTheFileLine();
    void manyThreadsAtOnce();
    void exceptionDescriptions();

private:
    QScopedPointer<QTemporaryDir> dir;
    QString logPath;
};

void TestMessageHandler::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    logPath = dir->filePath(QStringLiteral("VazizidADU.log"));
    setLogFilePath(logPath);
}

void TestMessageHandler::cleanup()
{
    resetPathCaches();
}

void TestMessageHandler::lineFormat_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("withSource");
    QTest::addColumn<QString>("label");

    QTest::newRow("info") << int(QtInfoMsg) << QStringLiteral("Application start") << false
                          << QStringLiteral("Info");
    QTest::newRow("debug from the view")
        << int(QtDebugMsg) << QStringLiteral("qml: ready") << true << QStringLiteral("Debug");
    QTest::newRow("warning with quotes")
        << int(QtWarningMsg) << QStringLiteral("\"Communication error. Please try again.\"")
        << false << QStringLiteral("Warning");
    QTest::newRow("critical") << int(QtCriticalMsg) << QStringLiteral("Card 2: Invalid card")
                              << true << QStringLiteral("Critical");
    QTest::newRow("empty message")
        << int(QtInfoMsg) << QStringLiteral("") << false << QStringLiteral("Info");
}

void TestMessageHandler::lineFormat()
{
    QFETCH(int, type);
    QFETCH(QString, message);
    QFETCH(bool, withSource);
    QFETCH(QString, label);

    const QString errPath = dir->filePath(QStringLiteral("stderr.txt"));
    const QByteArray file = "qrc:/views/Main.qml";
    QMessageLogContext context(withSource ? file.constData() : nullptr, 42, nullptr, nullptr);
    const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
    {
        StandardErrorCapture capture(errPath);
        messageHandler(QtMsgType(type), context, message);
    }
    const QDateTime after = QDateTime::currentDateTime().addMSecs(1);

    const QString line = QString::fromLocal8Bit(TestSupport::readFile(logPath));
    const QRegularExpression pattern(
        QStringLiteral("^(%1) %2: %3\n$").arg(Stamp, label, QRegularExpression::escape(message)));
    const QRegularExpressionMatch match = pattern.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    const QDateTime stamp =
        QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    QVERIFY(stamp >= before && stamp <= after);

    const QString source = withSource ? QStringLiteral("\t(qrc:/views/Main.qml:42)") : QString();
    QCOMPARE(QString::fromLatin1(TestSupport::readFile(errPath)),
             line.chopped(1) + source + QLatin1Char('\n'));
}

void TestMessageHandler::unwritableLogLosesOnlyTheFileLine()
{
    setLogFilePath(dir->filePath(QStringLiteral("missing/folder/VazizidADU.log")));
    const QString errPath = dir->filePath(QStringLiteral("stderr.txt"));
    {
        StandardErrorCapture capture(errPath);
        messageHandler(QtInfoMsg, QMessageLogContext(), QStringLiteral("still shown"));
    }
    QVERIFY(QString::fromLatin1(TestSupport::readFile(errPath)).endsWith(" Info: still shown\n"));
}

// Lines far longer than any stream buffer, from many threads at once, through
// the installed handler: each must arrive whole, once, in both outputs.
void TestMessageHandler::manyThreadsAtOnce()
{
    const int threadCount = 8;
    const int perThread = 250;
    const QString errPath = dir->filePath(QStringLiteral("stderr.txt"));

    auto payload = [](int thread, int n) {
        const int length = (n % 10 == 0) ? 30000 : 10 + n;
        return QStringLiteral("T%1 N%2 ").arg(thread).arg(n) +
               QString(length, QLatin1Char('a' + thread));
    };

    {
        StandardErrorCapture capture(errPath);
        const QtMessageHandler previous = qInstallMessageHandler(messageHandler);
        QList<QThread*> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads << QThread::create([t, perThread, payload] {
                for (int n = 0; n < perThread; ++n)
                    qInfo().noquote() << payload(t, n);
            });
        }
        for (QThread* thread : threads)
            thread->start();
        for (QThread* thread : threads) {
            thread->wait();
            delete thread;
        }
        qInstallMessageHandler(previous);
    }

    const QRegularExpression pattern(
        QStringLiteral("^%1 Info: T(\\d) N(\\d+) ([a-z]+)$").arg(Stamp));
    for (const QString& path : {logPath, errPath}) {
        QStringList lines = QString::fromLatin1(TestSupport::readFile(path)).split('\n');
        QCOMPARE(lines.takeLast(), QString());
        QCOMPARE(lines.size(), threadCount * perThread);
        QSet<QString> seen;
        for (const QString& line : qAsConst(lines)) {
            const QRegularExpressionMatch match = pattern.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line.left(80)));
            const int t = match.captured(1).toInt();
            const int n = match.captured(2).toInt();
            QCOMPARE(line.mid(line.indexOf(QLatin1String(" Info: ")) + 7), payload(t, n));
            seen.insert(match.captured(1) + ':' + match.captured(2));
        }
        QCOMPARE(seen.size(), threadCount * perThread);
    }
}

void TestMessageHandler::exceptionDescriptions()
{
    struct DiskFull : QException
    {
        const char* what() const noexcept override { return "Disk full"; }
    };
    QCOMPARE(exceptionDescription(QException()), QStringLiteral("Unknown exception"));
    QCOMPARE(exceptionDescription(DiskFull()), QStringLiteral("Disk full"));
}

QTEST_GUILESS_MAIN(TestMessageHandler)
#include "tst_messagehandler.moc"
