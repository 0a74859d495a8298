#include "cards/runlock.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A name lock is held for a check and a rename only; a holder that keeps it
// this long is stuck, and the copy fails rather than wait for ever.
constexpr int NameLockWaitMs = 30 * 1000;

QString randomText()
{
    return QString::number(QRandomGenerator::global()->generate64(), 36);
}

#ifdef Q_OS_UNIX

QString lockFolder()
{
    const QString folder = QDir::tempPath() + QStringLiteral("/pelorin-qvk-locks");
    const QByteArray name = QFile::encodeName(folder);
    // Shared by every user, as /tmp itself.
    if (::mkdir(name.constData(), 01777) == 0)
        ::chmod(name.constData(), 01777);
    return folder;
}

int openLock(const QString& path, bool create)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0666);
    if (fd >= 0 && create)
        ::fchmod(fd, 0666);
    return fd;
}

// The lock file still has the name it was opened by: one that a cleaner
// removed before this program held it is no lock.
bool stillNamed(int fd, const QString& path)
{
    struct stat held, named;
    return ::fstat(fd, &held) == 0 && ::stat(QFile::encodeName(path).constData(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

QString runLockPath(const QString& tag)
{
    return lockFolder() + QStringLiteral("/run-%1.lock").arg(tag);
}

#endif

} // namespace

namespace RunLock {

QString tag()
{
    // Held until the program ends: the system lets go of it then, even when
    // the program is killed; a program that ends normally removes its file.
    static struct Held
    {
        QString tag;
        QByteArray path;
        int fd = -1;
        bool tried = false;
        ~Held()
        {
#ifdef Q_OS_UNIX
            if (fd >= 0) {
                ::unlink(path.constData());
                ::close(fd);
            }
#endif
        }
    } held;
    static QMutex mutex;
    QMutexLocker lock(&mutex);
    if (held.tried)
        return held.tag;
    held.tried = true;
#ifdef Q_OS_UNIX
    for (int attempt = 0; attempt < 8 && held.tag.isEmpty(); ++attempt) {
        const QString candidate = randomText();
        const QString path = runLockPath(candidate);
        const int fd = openLock(path, true);
        if (fd < 0)
            break;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && stillNamed(fd, path)) {
            held.tag = candidate;
            held.path = QFile::encodeName(path);
            held.fd = fd;
        } else {
            ::close(fd);
        }
    }
    lock.unlock();
    // The files of killed programs' locks go (alive() removes them).
    const QStringList others =
        QDir(lockFolder()).entryList({QStringLiteral("run-*.lock")}, QDir::Files | QDir::Hidden);
    for (const QString& name : others)
        alive(name.mid(4, name.size() - 9));
#endif
    return held.tag;
}

bool alive(const QString& tag)
{
#ifdef Q_OS_UNIX
    if (tag == RunLock::tag())
        return true;
    const QString path = runLockPath(tag);
    const int fd = openLock(path, false);
    if (fd < 0)
        return errno != ENOENT; // no lock file: its program ended long ago
    bool running = true;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        running = false;
        // Removed while held, so no program can take this one meanwhile.
        ::unlink(QFile::encodeName(path).constData());
    }
    ::close(fd);
    return running;
#else
    Q_UNUSED(tag)
    return true;
#endif
}

QString temporaryName(const QString& finalPath)
{
    const QFileInfo info(finalPath);
    const QString own = tag();
    // Without a lock the name carries no tag, and no clean-up takes it.
    const QString suffix = own.isEmpty() ? randomText() : own + QLatin1Char('-') + randomText();
    return info.dir().filePath(QStringLiteral(".%1.%2.part").arg(info.fileName().left(48), suffix));
}

QStringList removeStaleTemporaries(const QString& folder)
{
    QStringList removed;
#ifdef Q_OS_UNIX
    static const QRegularExpression pattern(
        QStringLiteral("^\\..{1,100}\\.([0-9a-z]{1,13})-[0-9a-z]{1,13}\\.part$"));
    const QDir dir(folder);
    const QStringList names =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString& name : names) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch() || alive(match.captured(1)))
            continue;
        const QString path = dir.filePath(name);
        const QByteArray encoded = QFile::encodeName(path);
        struct stat st;
        if (::lstat(encoded.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::unlink(encoded.constData()) == 0)
            removed << path;
    }
#else
    // Where no lock tells a living program from a killed one, nothing is taken.
    Q_UNUSED(folder)
#endif
    return removed;
}

NameLock::NameLock(const QString& folder)
{
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0) {
        error = QStringLiteral("Cannot read %1: %2").arg(folder, qt_error_string(errno));
        return;
    }
    // One lock per file system: case variants, links and bind mounts of a
    // folder all lead to it.
    const QString path =
        lockFolder() + QStringLiteral("/names-%1.lock").arg(quint64(st.st_dev), 0, 16);
    const int file = openLock(path, true);
    if (file < 0) {
        error = QStringLiteral("Cannot create the lock %1: %2").arg(path, qt_error_string(errno));
        return;
    }
    const QDeadlineTimer deadline(NameLockWaitMs);
    while (::flock(file, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired()) {
            error = errno == EWOULDBLOCK
                        ? QStringLiteral("The lock %1 stayed held by another program").arg(path)
                        : QStringLiteral("Cannot lock %1: %2").arg(path, qt_error_string(errno));
            ::close(file);
            return;
        }
        QThread::msleep(2);
    }
    fd = file;
#else
    error = QStringLiteral("No lock for names in %1 on this system").arg(folder);
#endif
}

NameLock::~NameLock()
{
#ifdef Q_OS_UNIX
    if (fd >= 0)
        ::close(fd);
#endif
}

} // namespace RunLock
