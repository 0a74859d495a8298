#include "cards/medianaming.h"

#include <QDir>
#include <QFileInfo>

namespace {

// `path` with every `text` in its last component replaced.
QString replaceInFileName(const QString& path, const QString& text, const QString& replacement)
{
    const int nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    QString name = path.mid(nameStart);
    return path.left(nameStart) + name.replace(text, replacement);
}

} // namespace

namespace MediaNaming {

QString mediaExtension(const QString& path)
{
    for (const char* extension : {".MOV", ".JPG", ".DNG"}) {
        if (path.endsWith(QLatin1String(extension), Qt::CaseInsensitive))
            return QString::fromLatin1(extension);
    }
    return QString();
}

bool isMediaFile(const QString& path)
{
    return !mediaExtension(path).isEmpty();
}

QString photoExtension(const QString& sourcePath)
{
    return sourcePath.endsWith(QLatin1String(".DNG"), Qt::CaseInsensitive) ? QStringLiteral(".DNG")
                                                                           : QStringLiteral(".JPG");
}

QString cameraCopyName(const QString& path, const QString& extension, int cardIndex,
                       const QString& projectName, int collision)
{
    // One substitution pass: a "%1" in a project name stays as it is.
    const QString card = QString::number(cardIndex);
    QString suffix;
    if (collision > 0)
        suffix = QStringLiteral("-%1_cam%2%3").arg(QString::number(collision), card, extension);
    else if (!projectName.isEmpty())
        suffix = QStringLiteral("_%1_cam%2%3").arg(projectName, card, extension);
    else
        suffix = QStringLiteral("_cam%1%2").arg(card, extension);
    return replaceInFileName(path, extension, suffix);
}

QString basePath(const QString& targetPath, const QString& extension, int collision)
{
    if (collision == 0)
        return targetPath;
    return replaceInFileName(targetPath, extension,
                             QStringLiteral("-%1%2").arg(QString::number(collision), extension));
}

QString projectCameraName(const QString& basePath, const QString& extension, int cardIndex,
                          const QString& projectName, int collision)
{
    // After a collision the base already carries "-<n>" and the copies carry no
    // project name, so the plain form of the base names them.
    const QString fileName = QFileInfo(basePath).fileName();
    return cameraCopyName(fileName, extension, cardIndex, collision > 0 ? QString() : projectName,
                          0);
}

QString relativeTargetPath(const QDir& sourceDirectory, const QString& sourcePath,
                           const QString& extension)
{
    QString relative = sourceDirectory.relativeFilePath(sourcePath);
    if (relative.endsWith(extension, Qt::CaseInsensitive))
        relative.replace(relative.size() - extension.size(), extension.size(), extension);
    return relative;
}

bool isValidProjectName(const QString& projectName)
{
    if (projectName.isEmpty())
        return true;
    if (projectName.contains(QLatin1String("..")) || projectName.trimmed().isEmpty())
        return false;
    static const QString forbidden = QStringLiteral("/\\:*?\"<>|");
    for (const QChar c : projectName) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || forbidden.contains(c))
            return false;
    }
    return true;
}

} // namespace MediaNaming
