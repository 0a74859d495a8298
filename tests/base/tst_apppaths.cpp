#include "base/apppaths.h"
#include "base/messagehandler.h"
#include "support/testsupport.h"

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(qtCategory, "qt.qpa.xcb")

namespace {

// Sends standard error into a file while it lives.
struct StandardErrorCapture
{
    explicit StandardErrorCapture(const QString& path) : saved(dup(STDERR_FILENO))
    {
        const int fd =
            open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StandardErrorCapture()
    {
        dup2(saved, STDERR_FILENO);
        ::close(saved);
    }
    const int saved;
};

const QString Stamp = QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}");

} // namespace

// Folders, log file and message handler. Each case starts from empty caches, a
// temporary application folder and a temporary platform data folder.
class TestAppPaths : public QObject
{
    Q_OBJECT
    QScopedPointer<QTemporaryDir> root;
    QString appFolder() const { return root->filePath("install/bin"); }
    QString errPath() const { return root->filePath("stderr.txt"); }

private slots:
    void init()
    {
        root.reset(new QTemporaryDir);
        QVERIFY(QDir().mkpath(appFolder()));
        resetPathCaches();
        updateAppDirPath(appFolder() + "/VazizidADU");
        qputenv("XDG_DATA_HOME", QFile::encodeName(root->filePath("data")));
        QCoreApplication::setApplicationName("Pelorin QVK");
    }
    void userDataFolder_data()
    {
        QTest::addColumn<QString>("application");
        QTest::addColumn<QString>("expected"); // relative to the root, empty when none can be made
        const auto row = [](const char* name, const char* application, const char* expected) {
            QTest::newRow(name) << QString(application) << QString(expected);
        };
        row("program name steps up", "VazizidADU", "data/Pelorin QVK");
        row("product name kept", "Pelorin QVK", "data/Pelorin QVK");
        row("another name gets the folder inside", "Tool", "data/Tool/Pelorin QVK");
        row("none: the application folder", "VazizidADU", "");
    }

    void userDataFolder()
    {
        QFETCH(QString, application);
        QFETCH(QString, expected);
        QCoreApplication::setApplicationName(application);
        if (expected.isEmpty()) {
            QVERIFY(TestSupport::writeFile(root->filePath("blocker"), "not a folder"));
            qputenv("XDG_DATA_HOME", QFile::encodeName(root->filePath("blocker")));
        }

        const QString folder = expected.isEmpty() ? appFolder() : root->filePath(expected);
        QCOMPARE(dataDirPath(), expected.isEmpty() ? QString() : folder);
        QCOMPARE(iniFilePath(), folder + "/VazizidADU.ini");
        QCOMPARE(logFilePath(), folder + "/VazizidADU.log");
        QCOMPARE(templatesDirPath(), folder + "/templates");
        QVERIFY(!QFileInfo::exists(folder + "/templates")); // named, never created
        // Fixed once found, whatever the application is called later.
        QCoreApplication::setApplicationName("Other");
        QCOMPARE(dataDirPath(), expected.isEmpty() ? QString() : folder);
    }

    void shippedAndToolFolders()
    {
        // Shipped templates win over the user's own.
        QVERIFY(QDir().mkpath(dataDirPath() + "/templates"));
        QVERIFY(QDir().mkpath(appFolder() + "/templates"));
        QCOMPARE(templatesDirPath(), appFolder() + "/templates");
        // A missing tool folder falls back to the application folder.
        QVERIFY(QDir(appFolder()).mkdir("utilities"));
        QCOMPARE(utilitiesDirPath(), appFolder() + "/utilities");
        QCOMPARE(firmwareDirPath(), appFolder());
        // An app installed under /usr also looks in /usr/local for the tools
        // its package does not bring.
        QCOMPARE(localUtilitiesDirPath(), QString());
        resetPathCaches();
        updateAppDirPath("/usr/lib/pelorin-qvk/VazizidADU");
        QCOMPARE(localUtilitiesDirPath(), QStringLiteral("/usr/local/lib/pelorin-qvk/utilities"));
    }

    // Lines far longer than any stream buffer, from many threads at once, through
    // the installed handler: each must arrive whole, once, in both outputs, in the
    // log line format.
    void manyThreadsLogAtOnce()
    {
        const int threadCount = 8, perThread = 250;
        auto payload = [](int thread, int n) {
            return QStringLiteral("T%1 N%2 ").arg(thread).arg(n) +
                   QString(n % 10 == 0 ? 30000 : 10 + n, QLatin1Char('a' + thread));
        };
        {
            StandardErrorCapture capture(errPath());
            const QtMessageHandler previous = qInstallMessageHandler(messageHandler);
            QThreadPool threads;
            threads.setMaxThreadCount(threadCount);
            for (int t = 0; t < threadCount; ++t) {
                threads.start([t, payload] {
                    for (int n = 0; n < perThread; ++n)
                        qInfo().noquote() << payload(t, n);
                });
            }
            threads.waitForDone();
            qInstallMessageHandler(previous);
        }

        const QRegularExpression pattern(
            QStringLiteral("^%1 Info: (T(\\d) N(\\d+) .*)$").arg(Stamp));
        for (const QString& path : {logFilePath(), errPath()}) {
            QStringList lines = QString::fromLatin1(TestSupport::readFile(path)).split('\n');
            QCOMPARE(lines.takeLast(), QString());
            QSet<QString> seen;
            for (const QString& line : qAsConst(lines)) {
                const QRegularExpressionMatch m = pattern.match(line);
                QVERIFY2(m.hasMatch(), qPrintable(line.left(80)));
                QCOMPARE(m.captured(1), payload(m.captured(2).toInt(), m.captured(3).toInt()));
                seen.insert(m.captured(2) + ':' + m.captured(3));
            }
            QCOMPARE(lines.size(), threadCount * perThread);
            QCOMPARE(seen.size(), threadCount * perThread);
        }
    }

    // The handler keeps the log open between messages; a changed path, a removed
    // log and emptied caches each send the next line to the file now named.
    void logFollowsItsPath()
    {
        const QString first = root->filePath("first.log"), second = root->filePath("second.log");
        auto linesOf = [](const QString& path) {
            QStringList lines;
            for (const QString& line : QString::fromLatin1(TestSupport::readFile(path)).split('\n'))
                if (!line.isEmpty())
                    lines << line.section(QStringLiteral(" Info: "), 1);
            return lines;
        };
        StandardErrorCapture capture(errPath());
        const QtMessageHandler previous = qInstallMessageHandler(messageHandler);
        setLogFilePath(first);
        qInfo("one");
        setLogFilePath(second);
        qInfo("two");
        removeLogFile(); // as every start does
        qInfo("three");
        // Qt's hints to developers reach standard error only.
        qWarning("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-root'");
        qCWarning(qtCategory) << "could not connect to display";
        setLogFilePath(first);
        qInfo("four");
        resetPathCaches();
        updateAppDirPath(appFolder() + "/VazizidADU");
        qInfo("five");
        qInstallMessageHandler(previous);

        QCOMPARE(linesOf(first), QStringList({"one", "four"}));
        QCOMPARE(linesOf(second), QStringList({"three"}));
        QCOMPARE(linesOf(logFilePath()), QStringList({"Updating App path", "five"}));
    }

    // A line is in the file as soon as the message returns: a process that dies
    // right after it (no exit handlers, no destructors) has still logged it.
    void lineOnDiskBeforeACrash()
    {
        setLogFilePath(root->filePath("crash.log"));
        std::fflush(stdout);
        std::fflush(stderr);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            StandardErrorCapture capture(errPath());
            qInstallMessageHandler(messageHandler);
            qInfo("opened");
            qWarning("the last words");
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        const QString log = QString::fromLatin1(TestSupport::readFile(root->filePath("crash.log")));
        QVERIFY2(log.contains(QRegularExpression(QStringLiteral("^%1 Info: opened\n%1 Warning: the "
                                                                "last words\n$")
                                                     .arg(Stamp))),
                 qPrintable(log));
    }
};

QTEST_GUILESS_MAIN(TestAppPaths)
#include "tst_apppaths.moc"
