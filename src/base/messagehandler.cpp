#include "base/messagehandler.h"

#include "base/apppaths.h"

#include <QDateTime>
#include <QException>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QTextStream>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

void appendToLogFile(const QString& line)
{
    QFile file(logFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return; // nowhere else to put it
    QTextStream stream(&file);
    stream << line << '\n';
    stream.flush();
    file.close();
}

} // namespace

QString formatLogLine(QtMsgType type, const QString& message)
{
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
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
