#include "support/testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>

#include <fcntl.h>
#include <unistd.h>

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
