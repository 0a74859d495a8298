#include "base/apppaths.h"

#include "base/messagehandler.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QException>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>

#include <atomic>
#include <cstdio>

const QString AppName = QStringLiteral("Pelorin QVK");
const QString AppVersion = QStringLiteral("1.8.3");

namespace {

const QString ExecutableName = QStringLiteral("VazizidADU");
const QString DataFolderName = QStringLiteral("Pelorin QVK");
const QString IniFileName = QStringLiteral("VazizidADU.ini");
const QString LogFileName = QStringLiteral("VazizidADU.log");

// The caches are filled at start-up and read from pool threads afterwards.
// They live on the heap and are never destroyed, so a message logged during
// static destruction still finds its log file.
struct PathCache
{
    QString appDir;
    QString dataDir;
    QString iniFile;
    QString logFile;
    QString templatesDir;
};

QBasicMutex cacheMutex;

std::atomic<int> logGeneration{0};

PathCache& cache()
{
    static PathCache* paths = new PathCache;
    return *paths;
}

QString cached(QString PathCache::*field)
{
    QMutexLocker lock(&cacheMutex);
    return cache().*field;
}

// Stores value unless another thread got there first; returns what is cached.
QString storeOnce(QString PathCache::*field, const QString& value)
{
    QMutexLocker lock(&cacheMutex);
    QString& slot = cache().*field;
    if (slot.isEmpty())
        slot = value;
    return slot;
}

void printException(const QException& e)
{
    fprintf(stderr, "%s\n", exceptionDescription(e).toLocal8Bit().constData());
}

// The settings and log files lie in the user data folder, or in the
// application folder when there is none.
QString fileInDataDir(const QString& fileName)
{
    QString path;
    try {
        path = QDir(dataDirPath()).absoluteFilePath(fileName);
    } catch (const QException& e) {
        printException(e);
    }
    if (path.isEmpty())
        path = appDirPath() + QLatin1Char('/') + fileName;
    return path;
}

QString subfolderOfAppDir(const QString& name)
{
    QDir dir(appDirPath());
    dir.cd(name); // stays in the application folder when the subfolder is missing
    return dir.absolutePath();
}

} // namespace

void updateAppDirPath(const QString& executablePath)
{
    qInfo("Updating App path");
    if (executablePath.isEmpty())
        return;
    // The folder of the program file itself: a bare name is looked up as the
    // shell found it, and a link (/usr/bin/VazizidADU) is followed to the file.
    QString path = executablePath;
    if (QFileInfo(path).fileName() == path) {
        const QString found = QStandardPaths::findExecutable(path);
        if (!found.isEmpty())
            path = found;
    }
    const QFileInfo info(path);
    const QString real = info.canonicalFilePath();
    const QString folder =
        QFileInfo(real.isEmpty() ? info.absoluteFilePath() : real).absolutePath();
    {
        QMutexLocker lock(&cacheMutex);
        cache().appDir = folder;
    }
    QDir::setCurrent(folder);
}

QString appDirPath()
{
    const QString path = cached(&PathCache::appDir);
    if (!path.isEmpty())
        return path;
    updateAppDirPath(QCoreApplication::applicationFilePath());
    return cached(&PathCache::appDir);
}

QString dataDirPath()
{
    const QString path = cached(&PathCache::dataDir);
    if (!path.isEmpty())
        return path;
    try {
        const QStringList locations =
            QStandardPaths::standardLocations(QStandardPaths::AppDataLocation);
        if (locations.isEmpty())
            return path;
        QDir dir(locations.first());
        // Whatever application name the platform folder carries, the user data
        // folder is "Pelorin QVK" beside it.
        if (dir.absolutePath().contains(ExecutableName))
            dir.setPath(QFileInfo(dir.absolutePath()).path());
        if (!dir.absolutePath().contains(DataFolderName))
            dir.setPath(dir.absoluteFilePath(DataFolderName));
        if (!dir.exists())
            dir.mkpath(QStringLiteral("."));
        if (dir.exists())
            return storeOnce(&PathCache::dataDir, dir.absolutePath());
    } catch (const QException& e) {
        printException(e);
    }
    return cached(&PathCache::dataDir);
}

QString iniFilePath()
{
    QString path = cached(&PathCache::iniFile);
    if (!path.isEmpty())
        return path;
    path = storeOnce(&PathCache::iniFile, fileInDataDir(IniFileName));
    qInfo() << "VazizidADU.ini path:" << path;
    return path;
}

QString logFilePath()
{
    // No message here: the message handler itself asks for this path.
    const QString path = cached(&PathCache::logFile);
    if (!path.isEmpty())
        return path;
    return storeOnce(&PathCache::logFile, fileInDataDir(LogFileName));
}

QString templatesDirPath()
{
    QString path = cached(&PathCache::templatesDir);
    if (!path.isEmpty())
        return path;
    try {
        // Shipped templates win over the user's own.
        const QDir shipped(appDirPath() + QStringLiteral("/templates"));
        if (shipped.exists())
            path = shipped.absolutePath();
        else
            path = QDir(dataDirPath()).absoluteFilePath(QStringLiteral("templates"));
        path = storeOnce(&PathCache::templatesDir, path);
    } catch (const QException& e) {
        printException(e);
        path = cached(&PathCache::templatesDir);
    }
    qInfo() << "Template dir:" << path;
    return path;
}

QString utilitiesDirPath()
{
    const QString path = subfolderOfAppDir(QStringLiteral("utilities"));
    qInfo() << "Utilities dir:" << path;
    return path;
}

QString localUtilitiesDirPath()
{
    const QString usr = QStringLiteral("/usr/"), local = QStringLiteral("/usr/local/");
    const QString app = appDirPath();
    if (!app.startsWith(usr) || app.startsWith(local))
        return QString();
    return local + app.mid(usr.size()) + QStringLiteral("/utilities");
}

QString firmwareDirPath()
{
    const QString path = subfolderOfAppDir(QStringLiteral("firmware"));
    qInfo() << "Firmware dir:" << path;
    return path;
}

void removeLogFile()
{
    try {
        QFile::remove(logFilePath());
    } catch (const QException& e) {
        qWarning() << exceptionDescription(e);
    }
    ++logGeneration; // the handler's open file is gone from the folder
}

void setLogFilePath(const QString& path)
{
    {
        QMutexLocker lock(&cacheMutex);
        cache().logFile = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    }
    ++logGeneration;
}

int logFileGeneration()
{
    return logGeneration.load();
}

void resetPathCaches()
{
    {
        QMutexLocker lock(&cacheMutex);
        cache() = PathCache();
    }
    ++logGeneration;
}
