#include "support/testsupport.h"

#include "base/apppaths.h"
#include "link/unitwaits.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>

#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>

namespace TestSupport {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QStringList tree(const QString& root)
{
    QStringList result;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString name = QDir(root).relativeFilePath(info.filePath());
        result << (info.isSymLink() ? name + "@" : info.isDir() ? name + "/" : name);
    }
    result.sort();
    return result;
}

QStringList files(const QString& root, const QString& leaveOut)
{
    QStringList result;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = QDir(root).relativeFilePath(it.next());
        if (leaveOut.isEmpty() || !file.startsWith(leaveOut + '/'))
            result << file;
    }
    result.sort();
    return result;
}

QStringList progressTexts(const QSignalSpy& spy)
{
    QStringList result;
    for (const QList<QVariant>& r : spy)
        result << QStringLiteral("%1,%2,%3,%4")
                      .arg(r.at(0).toInt())
                      .arg(r.at(1).toInt())
                      .arg(r.at(2).toInt())
                      .arg(r.at(3).toString());
    return result;
}

void setWaits(std::initializer_list<std::pair<int UnitWaits::*, int>> changed)
{
    UnitWaits waits;
    for (const auto& [member, ms] : changed)
        waits.*member = ms;
    UnitWaits::setDefaults(waits);
}

bool safetyRequired()
{
    return qEnvironmentVariableIntValue("PQVK_REQUIRE_SAFETY") != 0;
}

QByteArray safetySkipMessage(const QString& reason)
{
    if (!safetyRequired())
        return reason.toLocal8Bit();
    return (reason + QStringLiteral(" (PQVK_REQUIRE_SAFETY is set: this safety test must run)"))
        .toLocal8Bit();
}

QString xxh64Of(const QByteArray& bytes)
{
    return QStringLiteral("%1").arg(XXH64(bytes.constData(), size_t(bytes.size()), 0), 16, 16,
                                    QLatin1Char('0'));
}

void appendToLog(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QFile log(logFilePath());
    if (log.open(QIODevice::WriteOnly | QIODevice::Append))
        log.write(message.toUtf8() + '\n');
}

QStringList capturedLog;
static QMutex capturedLogMutex;

void captureLog(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&capturedLogMutex);
    capturedLog << QString(QLatin1Char("DWCFI"[type])) + ' ' + message;
}

ProgramRun runProgram(const QString& program, const QStringList& arguments,
                      const QString& workingDir, const QProcessEnvironment& env, bool unprivileged)
{
    QProcess process;
    process.setWorkingDirectory(workingDir);
    process.setProcessEnvironment(env);
    if (unprivileged && ::geteuid() == 0)
        process.start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups",
                                             "--", program} +
                                     arguments);
    else
        process.start(program, arguments);
    ProgramRun run;
    if (process.waitForFinished(180000) && process.exitStatus() == QProcess::NormalExit)
        run.status = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

QString builtProgram(const QString& name)
{
    return qEnvironmentVariable("PQVK_BUILD_DIR") + '/' + name;
}

QString ascmhlTool()
{
    return qEnvironmentVariable("PQVK_SOURCE_DIR") + QStringLiteral("/../shared/ascmhl/ascmhl");
}

int ascmhlVerify(const QString& folder, QString* output)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(ascmhlTool(), {QStringLiteral("verify"), folder});
    const bool ended = tool.waitForFinished(300000);
    if (output)
        *output = QString::fromUtf8(tool.readAll());
    return ended && tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

bool fillLeaving(const QString& folder, int pages)
{
    constexpr int Page = 4096;
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/filler"));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0)
        return false;
    static const char block[Page] = {'x'};
    off_t size = ::lseek(fd, 0, SEEK_END);
    while (::write(fd, block, Page) == Page)
        size += Page;
    const bool left =
        size >= off_t(pages) * Page && ::ftruncate(fd, size - off_t(pages) * Page) == 0;
    return ::close(fd) == 0 && left;
}

} // namespace TestSupport
