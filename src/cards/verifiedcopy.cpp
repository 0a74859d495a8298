#include "cards/verifiedcopy.h"

#include "cards/exclusivefile.h"
#include "cards/runlock.h"
#include "cards/verifiedcopyinternal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <functional>
#include <thread>
#include <vector>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#endif

using namespace VerifiedCopyInternal;

namespace VerifiedCopyInternal {

std::atomic_bool stopFlag{false};

QMutex hookMutex;
VerifiedCopy::WrittenHook writtenHook;

void runWrittenHook(const QString& sourcePath, const QString& tempPath)
{
    VerifiedCopy::WrittenHook hook;
    {
        QMutexLocker lock(&hookMutex);
        hook = writtenHook;
    }
    if (hook)
        hook(sourcePath, tempPath);
}

bool hasWrittenHook()
{
    QMutexLocker lock(&hookMutex);
    return bool(writtenHook);
}

// Records both hashes; false, with the outcome set, when the copy read back
// is not what was written.
bool hashesMatch(VerifiedCopy::Result* result, quint64 sourceHash, quint64 copyHash,
                 qint64 readBack)
{
    result->sourceHash = sourceHash;
    result->copyHash = copyHash;
    result->hashed = true;
    if (sourceHash == copyHash && readBack == result->copySize)
        return true;
    result->outcome = VerifiedCopy::Outcome::HashMismatch;
    result->error = QStringLiteral("xxh64 %1 read from the source, %2 read back from the copy "
                                   "(%3 of %4 bytes)")
                        .arg(VerifiedCopy::hashText(sourceHash), VerifiedCopy::hashText(copyHash),
                             QString::number(readBack), QString::number(result->copySize));
    return false;
}

bool nameInUse(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// A hidden name beside the final one, after this program (RunLock).
QString temporaryName(const QString& finalPath)
{
    return RunLock::temporaryName(finalPath);
}

// The first free name from `first` on, its folder made; false when the one
// allowed name is taken.
bool pickName(const VerifiedCopy::NameFor& nameFor, int first, bool nextNameWhenTaken,
              VerifiedCopy::Result* result)
{
    result->number = first;
    result->path = nameFor(first);
    while (nameInUse(result->path)) {
        if (!nextNameWhenTaken) {
            result->outcome = VerifiedCopy::Outcome::NameTaken;
            return false;
        }
        result->path = nameFor(++result->number);
    }
    // A failure here shows when the copy cannot be created.
    QDir().mkpath(QFileInfo(result->path).absolutePath());
    return true;
}

// Records both sizes; false, with the outcome set, when a verified copy is short.
bool sizesMatch(VerifiedCopy::Result* result, qint64 sourceSize, qint64 copySize, bool verify)
{
    result->sourceSize = sourceSize;
    result->copySize = copySize;
    if (!verify || copySize == sourceSize)
        return true;
    result->outcome = VerifiedCopy::Outcome::SizeMismatch;
    result->error = QStringLiteral("%1 bytes copied of %2")
                        .arg(QString::number(copySize), QString::number(sourceSize));
    return false;
}

// Sets a file's modification time by its name.
void setModified(const QString& path, const QDateTime& time)
{
#ifdef Q_OS_UNIX
    // Both times: FAT through FUSE ignores a time that is left out.
    const qint64 ms = time.toMSecsSinceEpoch();
    const struct timespec when = {time_t(ms / 1000), long(ms % 1000) * 1000000};
    const struct timespec times[2] = {when, when};
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW);
#else
    QFile file(path);
    if (file.open(QIODevice::ReadWrite | QIODevice::Append))
        file.setFileTime(time, QFileDevice::FileModificationTime);
#endif
}

// Gives the finished copy its final name without ever replacing a file there;
// a name taken meanwhile moves it on to the next one (or ends with NameTaken).
// Not QFile::rename: when its own rename is refused it falls back to a copy
// that replaces the file there, or writes through a link there.
bool publish(const QString& tempPath, const VerifiedCopy::NameFor& nameFor, bool nextNameWhenTaken,
             const VerifiedCopy::BeforeName& beforeName, const QDateTime& sourceModified,
             VerifiedCopy::Result* result)
{
    for (;;) {
        if (beforeName)
            beforeName(*result);
        QString error;
        switch (ExclusiveFile::renameNoReplace(tempPath, result->path, &error)) {
        case ExclusiveFile::Created:
            result->outcome = VerifiedCopy::Outcome::Copied;
            // Some drivers (FAT through FUSE) give a renamed file the time of
            // the rename, or of its last closing: the card file's time is set
            // again. FAT and exFAT keep coarser times; set again, they round alike.
            if (sourceModified.isValid() &&
                QFileInfo(result->path).lastModified() != sourceModified)
                setModified(result->path, sourceModified);
            return true;
        case ExclusiveFile::AlreadyExists:
            if (!nextNameWhenTaken) {
                result->outcome = VerifiedCopy::Outcome::NameTaken;
                return false;
            }
            result->path = nameFor(++result->number);
            break;
        case ExclusiveFile::Failed:
            result->error = error;
            return false;
        }
    }
}

} // namespace VerifiedCopyInternal

VerifiedCopy::VerifiedCopy(const QString& path) : sourcePath(path) {}

void VerifiedCopy::requestStop(bool stop)
{
    stopFlag.store(stop);
}

bool VerifiedCopy::stopRequested()
{
    return stopFlag.load();
}

void VerifiedCopy::setWrittenHook(WrittenHook hook)
{
    QMutexLocker lock(&hookMutex);
    writtenHook = std::move(hook);
}

QString VerifiedCopy::hashText(quint64 xxh64)
{
    return QStringLiteral("%1").arg(xxh64, 16, 16, QLatin1Char('0'));
}

bool VerifiedCopy::hashFile(const QString& path, quint64* xxh64, QString* error)
{
    QFile file(path);
    Hasher hash;
    if (!hash.ok() || !file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = hash.ok() ? file.errorString() : QStringLiteral("out of memory");
        return false;
    }
    std::vector<char> buffer(static_cast<size_t>(BufferSize));
    for (;;) {
        const qint64 got = file.read(buffer.data(), qint64(buffer.size()));
        if (got < 0) {
            if (error)
                *error = file.errorString();
            return false;
        }
        if (got == 0)
            break;
        hash.add(buffer.data(), got);
    }
    *xxh64 = hash.value();
    return true;
}

bool VerifiedCopy::fingerprintFile(const QString& path, quint64* fingerprint, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    EdgeHasher edges(file.size());
    std::vector<char> buffer(static_cast<size_t>(FingerprintEdge));
    // The head, then the tail: at most two reads of an edge each.
    qint64 offset = 0;
    for (qint64 part = 0; part < 2; ++part) {
        if (part == 1) {
            offset = std::max(offset, edges.tail());
            if (!file.seek(offset))
                break;
        }
        for (;;) {
            const qint64 got = file.read(buffer.data(), qint64(buffer.size()));
            if (got < 0) {
                if (error)
                    *error = file.errorString();
                return false;
            }
            if (got == 0)
                break;
            edges.add(offset, buffer.data(), got);
            offset += got;
            if (part == 0 && offset >= FingerprintEdge)
                break;
        }
    }
    if (!edges.ok() || !edges.complete()) {
        if (error)
            *error = edges.ok() ? QStringLiteral("changed while it was read")
                                : QStringLiteral("out of memory");
        return false;
    }
    *fingerprint = edges.value();
    return true;
}

void VerifiedCopy::syncNames(const QString& folder)
{
#if defined(Q_OS_LINUX) && defined(PQVK_POSIX_COPY)
    Descriptor dir(
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd >= 0)
        ::syncfs(dir.fd);
#elif defined(PQVK_POSIX_COPY)
    Q_UNUSED(folder)
    ::sync();
#else
    Q_UNUSED(folder)
#endif
}

VerifiedCopy::Result VerifiedCopy::copyToFreeName(const NameFor& nameFor, int firstNumber)
{
    return copy(nameFor, firstNumber, true);
}

VerifiedCopy::Result VerifiedCopy::copyTo(const QString& targetPath)
{
    return copy([targetPath](int) { return targetPath; }, 0, false);
}

VerifiedCopy::Result VerifiedCopy::copy(const NameFor& nameFor, int firstNumber,
                                        bool nextNameWhenTaken)
{
    StagedCopy staged = stage({nameFor}, firstNumber, nextNameWhenTaken);
    verify(*staged);
    return takeName(std::move(staged));
}

VerifiedCopy::StagedCopy VerifiedCopy::write(const NameFor& nameFor, int firstNumber)
{
    return stage({nameFor}, firstNumber, true);
}

VerifiedCopy::StagedCopy VerifiedCopy::write(const QVector<NameFor>& names)
{
    return stage(names, 0, true);
}

bool VerifiedCopy::verify(Staged& staged)
{
    const auto check = [&staged](Staged::Leg& leg) {
        if (!staged.written || leg.failed || leg.checked)
            return;
        leg.checked = true;
        if (stopFlag.load()) { // a stop asked for before the read-back: not begun
            leg.result.outcome = Outcome::Stopped;
            leg.result.error = QStringLiteral("stopped");
            leg.failed = true;
            return;
        }
        std::vector<char> buffer;
        leg.verified = verifyLeg(staged, leg, buffer);
        leg.failed = !leg.verified;
    };
    // Each destination on its own disk: their read-backs side by side.
    std::vector<std::thread> others;
    for (size_t leg = 1; staged.written && leg < staged.legs.size(); ++leg)
        others.emplace_back(check, std::ref(staged.legs[leg]));
    if (!staged.legs.empty())
        check(staged.legs.front());
    for (std::thread& other : others)
        other.join();
    return staged.written && std::all_of(staged.legs.cbegin(), staged.legs.cend(),
                                         [](const Staged::Leg& leg) { return leg.verified; });
}

VerifiedCopy::Result VerifiedCopy::takeName(StagedCopy staged)
{
    return takeName(*staged, 0);
}

VerifiedCopy::Result VerifiedCopy::takeName(Staged& staged, int leg)
{
    Staged::Leg& copy = staged.legs[size_t(leg)];
    if (copy.verified && !copy.published)
        copy.published = publish(copy.tempName, copy.nameFor, staged.nextNameWhenTaken, beforeName,
                                 staged.sourceModified, &copy.result);
    return copy.result;
}

const VerifiedCopy::Result& VerifiedCopy::result(const Staged& staged, int leg)
{
    return staged.legs[size_t(leg)].result;
}

bool VerifiedCopy::verified(const Staged& staged, int leg)
{
    return staged.legs[size_t(leg)].verified;
}

void VerifiedCopy::StagedDeleter::operator()(Staged* staged) const
{
    delete staged;
}
QStringList VerifiedCopy::removeStaleTemporaries(const QString& folder)
{
    return RunLock::removeStaleTemporaries(folder);
}
