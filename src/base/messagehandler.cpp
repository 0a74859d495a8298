#include "base/messagehandler.h"

#include "base/apppaths.h"

#include <QDateTime>
#include <QException>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// Serialises whole lines: standard error and the log file see one message at
// a time, whichever thread logs it. A plain mutex with a constant initialiser
// stays usable during static destruction.
QBasicMutex logMutex;

// Set while this thread is inside the handler: a message raised by the
// handler's own work (the log file, the path lookup) must not lock again.
thread_local bool insideHandler = false;

std::atomic<bool> echoEveryLine{true};

bool echoed(QtMsgType type)
{
    return (type != QtDebugMsg && type != QtInfoMsg) || echoEveryLine.load();
}

void writeToStandardError(const QString& line, const QMessageLogContext& context)
{
    const QByteArray text = line.toLatin1();
    if (context.file)
        fprintf(stderr, "%s\t(%s:%u)\n", text.constData(), context.file,
                static_cast<unsigned>(context.line));
    else
        fprintf(stderr, "%s\n", text.constData());
    fflush(stderr);
}

// The log file stays open between messages: opening and closing it for each
// one made a download of many records crawl. Each line is handed to the
// system at once (unbuffered), so a crash loses nothing that was logged.
// Used under logMutex only; never destroyed, so messages logged during static
// destruction still reach it.
struct OpenLog
{
    QFile file;
    int generation = -1;
    qint64 lastAttemptMs = 0;
};

OpenLog& openLog()
{
    static OpenLog* log = new OpenLog;
    return *log;
}

void appendToLogFile(const QString& line)
{
    OpenLog& log = openLog();
    const int generation = logFileGeneration();
    if (generation != log.generation) {
        log.file.close();
        log.generation = generation;
        log.lastAttemptMs = 0;
    }
    if (!log.file.isOpen()) {
        // A log that cannot be opened (its folder missing) is tried again at
        // most once a second, not for every message.
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (log.lastAttemptMs != 0 && now - log.lastAttemptMs < 1000)
            return;
        log.lastAttemptMs = now;
        log.file.setFileName(logFilePath());
        if (!log.file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text |
                           QIODevice::Unbuffered))
            return; // nowhere else to put it
    }
    QByteArray bytes = line.toLocal8Bit();
    bytes += '\n';
    log.file.write(bytes);
}

// "yyyy-MM-dd hh:mm:ss.zzz" in local time. The date and time part is worked
// out once a second: the local time conversion is the costly part of a line.
QString timeStamp()
{
    thread_local qint64 cachedSecond = std::numeric_limits<qint64>::min();
    thread_local QString cachedPrefix;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = now >= 0 ? now / 1000 : (now - 999) / 1000;
    if (second != cachedSecond) {
        cachedSecond = second;
        cachedPrefix = QDateTime::fromMSecsSinceEpoch(second * 1000)
                           .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss."));
    }
    const int ms = int(now - second * 1000);
    const char digits[3] = {char('0' + ms / 100), char('0' + ms / 10 % 10), char('0' + ms % 10)};
    return cachedPrefix + QLatin1String(digits, 3);
}

// Qt's notes to the program's developer: messages of its own categories, and
// the few setup hints it logs without one. They say nothing about the user's
// run, so they go to standard error only, not into the log that is kept and
// copied beside the user's media.
bool developerHint(const QMessageLogContext& context, const QString& message)
{
    if (context.category && std::strncmp(context.category, "qt.", 3) == 0)
        return true;
    static const char* const hints[] = {"QStandardPaths: ", "Qt Labs Platform requires",
                                        "QT += widgets", "No native "};
    for (const char* hint : hints)
        if (message.contains(QLatin1String(hint)))
            return true;
    return false;
}

} // namespace

QString formatLogLine(QtMsgType type, const QString& message)
{
    const QString stamp = timeStamp();
    // Round trip through the local 8-bit encoding, as the log file is written in it.
    const QString text = QString::fromUtf8(message.toLocal8Bit());
    const char* pattern = "%1 Debug: %2";
    switch (type) {
    case QtDebugMsg:
        pattern = "%1 Debug: %2";
        break;
    case QtInfoMsg:
        pattern = "%1 Info: %2";
        break;
    case QtWarningMsg:
        pattern = "%1 Warning: %2";
        break;
    case QtCriticalMsg:
        pattern = "%1 Critical: %2";
        break;
    case QtFatalMsg:
        pattern = "%1 Fatal: %2";
        break;
    }
    return QString::fromLatin1(pattern).arg(stamp, text);
}

void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString line = formatLogLine(type, message);
    if (insideHandler) {
        writeToStandardError(line, context);
    } else {
        insideHandler = true;
        {
            QMutexLocker lock(&logMutex);
            if (echoed(type))
                writeToStandardError(line, context);
            if (!developerHint(context, message))
                appendToLogFile(line);
        }
        insideHandler = false;
    }
    if (type == QtFatalMsg)
        std::abort();
}

bool setMessageEcho(bool enabled)
{
    return echoEveryLine.exchange(enabled);
}

QString exceptionDescription(const QException& e)
{
    const char* what = e.what();
    // A bare QException only carries the library's generic text.
    if (!what || !*what || std::strcmp(what, "std::exception") == 0)
        return QStringLiteral("Unknown exception");
    return QString::fromLocal8Bit(what);
}
