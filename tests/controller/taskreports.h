#pragma once

// Helpers of the controller task tests: progress reports as comparable texts,
// and the log messages of a test case.

#include <QMutex>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QStringList>

namespace TaskReports {

// "from,to,value,text" per report of a four-argument progress signal.
inline QStringList texts(const QSignalSpy& spy)
{
    QStringList result;
    for (const QList<QVariant>& report : spy)
        result << QStringLiteral("%1,%2,%3,%4")
                      .arg(report.at(0).toInt())
                      .arg(report.at(1).toInt())
                      .arg(report.at(2).toInt())
                      .arg(report.at(3).toString());
    return result;
}

// Collects every log message while it lives (from any thread).
class LogCapture
{
public:
    LogCapture()
    {
        QMutexLocker lock(&mutex());
        messages().clear();
        previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() { qInstallMessageHandler(previous); }

    bool contains(const QString& part) const
    {
        QMutexLocker lock(&mutex());
        for (const QString& message : qAsConst(messages())) {
            if (message.contains(part))
                return true;
        }
        return false;
    }
    QStringList all() const
    {
        QMutexLocker lock(&mutex());
        return messages();
    }

private:
    static void handle(QtMsgType, const QMessageLogContext&, const QString& message)
    {
        QMutexLocker lock(&mutex());
        messages() << message;
    }
    static QMutex& mutex()
    {
        static QMutex m;
        return m;
    }
    static QStringList& messages()
    {
        static QStringList list;
        return list;
    }

    QtMessageHandler previous = nullptr;
};

} // namespace TaskReports
