#include "cards/medianaming.h"

#include <QDir>
#include <QFileInfo>

namespace MediaNaming {

bool isVideoFile(const QString& path)
{
    return path.endsWith(QLatin1String(".MOV"));
}

bool isPhotoFile(const QString& path)
{
    return path.endsWith(QLatin1String(".DNG")) || path.endsWith(QLatin1String(".JPG"));
}

bool isMediaFile(const QString& path)
{
    return isVideoFile(path) || isPhotoFile(path);
}

QString photoExtension(const QString& sourcePath)
{
    return sourcePath.endsWith(QLatin1String(".DNG")) ? QStringLiteral(".DNG")
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
    QString name = path;
    return name.replace(extension, suffix);
}

QString basePath(const QString& targetPath, const QString& extension, int collision)
{
    QString base = targetPath;
    if (collision > 0)
        base.replace(extension, QStringLiteral("-%1%2").arg(QString::number(collision), extension));
    return base;
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

QString relativeTargetPath(const QDir& sourceDirectory, const QString& sourcePath, bool video)
{
    QString relative = sourceDirectory.relativeFilePath(sourcePath);
    if (video)
        relative.replace(QLatin1String(".mov"), QLatin1String(".MOV"));
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
