#include "support/testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

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

} // namespace TestSupport
