#include "cards/verifiedcopy.h"

#include "cards/exclusivefile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <vector>

// PQVK_PORTABLE_COPY builds the Qt-only path on Unix too, to check it.
#if defined(Q_OS_UNIX) && !defined(PQVK_PORTABLE_COPY)
#define PQVK_POSIX_COPY
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/sendfile.h>
#endif
#elif defined(Q_OS_WIN)
#include <io.h>
#elif defined(Q_OS_UNIX)
#include <unistd.h>
#endif

namespace {

std::atomic_bool stopFlag{false};

// The buffer of the plain read/write copy; the kernel's copy needs none.
constexpr qint64 BufferSize = 1024 * 1024;

bool nameInUse(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// A hidden name beside the final one: the media walk does not list it and no
// copy name can take that form.
QString temporaryName(const QString& finalPath)
{
    const QFileInfo info(finalPath);
    const QString random = QString::number(QRandomGenerator::global()->generate64(), 36);
    return info.dir().filePath(QStringLiteral(".%1.%2.part").arg(info.fileName().left(48), random));
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

// Gives the finished copy its final name without ever replacing a file there;
// a name taken meanwhile moves it on to the next one (or ends with NameTaken).
// Not QFile::rename: when its own rename is refused it falls back to a copy
// that replaces the file there, or writes through a link there.
bool publish(const QString& tempPath, const VerifiedCopy::NameFor& nameFor, bool nextNameWhenTaken,
             VerifiedCopy::Result* result)
{
    for (;;) {
        QString error;
        switch (ExclusiveFile::renameNoReplace(tempPath, result->path, &error)) {
        case ExclusiveFile::Created:
            result->outcome = VerifiedCopy::Outcome::Copied;
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

#ifdef PQVK_POSIX_COPY

QString errorText(int error)
{
    return qt_error_string(error);
}

// An open descriptor, closed when it goes out of scope.
struct Descriptor
{
    int fd = -1;
    explicit Descriptor(int d) : fd(d) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { close(); }
    int close()
    {
        int result = 0;
        if (fd >= 0)
            result = ::close(fd);
        fd = -1;
        return result;
    }
};

// The temporary copy: removed unless it took its final name.
struct TemporaryFile
{
    QByteArray path;
    Descriptor file{-1};
    bool published = false;
    ~TemporaryFile()
    {
        file.close();
        if (!published && !path.isEmpty())
            ::unlink(path.constData());
    }
};

bool unsupported(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP
#if ENOTSUP != EOPNOTSUPP
           || error == ENOTSUP
#endif
        ;
}

// Moves up to one chunk through the fixed buffer: the byte count, 0 at the
// end of the source, -1 on an error (errno set).
qint64 bufferedChunk(int in, int out, std::vector<char>& buffer)
{
    if (buffer.empty())
        buffer.resize(BufferSize);
    qint64 moved = 0;
    while (moved < VerifiedCopy::ChunkSize) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, size_t(got - done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return -1;
            }
            done += put;
        }
        moved += got;
    }
    return moved;
}

enum class Transfer
{
    Done,
    Stopped,
    Failed
};

// Copies from the current offsets to the end of the source: the kernel's copy
// first, the plain one where the file systems do not offer it.
Transfer transfer(int in, int out, QString* error)
{
    enum Method
    {
        KernelCopy,
        SendFile,
        Buffered
    };
#ifdef Q_OS_LINUX
    Method method = KernelCopy;
#else
    Method method = Buffered;
#endif
    std::vector<char> buffer;
    qint64 total = 0;
    for (;;) {
        qint64 moved = -1;
        switch (method) {
#ifdef Q_OS_LINUX
        case KernelCopy:
            moved =
                ::copy_file_range(in, nullptr, out, nullptr, size_t(VerifiedCopy::ChunkSize), 0);
            break;
        case SendFile:
            moved = ::sendfile(out, in, nullptr, size_t(VerifiedCopy::ChunkSize));
            break;
#else
        case KernelCopy:
        case SendFile:
#endif
        case Buffered:
            moved = bufferedChunk(in, out, buffer);
            break;
        }
        if (moved > 0) {
#ifdef Q_OS_LINUX
            // Start writing this chunk to the disk now, while the next one is
            // copied, so the flush at the end has little left to do.
            ::sync_file_range(out, total, moved, SYNC_FILE_RANGE_WRITE);
#endif
            total += moved;
            if (stopFlag.load())
                return Transfer::Stopped;
            continue;
        }
        if (moved == 0) {
            // Pseudo files claim to be empty and the kernel's copy believes
            // them: confirm an empty source with a plain read.
            if (total == 0 && method != Buffered) {
                method = Method(method + 1);
                continue;
            }
            return Transfer::Done;
        }
        if (errno == EINTR)
            continue;
        if (method != Buffered && unsupported(errno)) {
            method = Method(method + 1);
            continue;
        }
        *error = errorText(errno);
        return Transfer::Failed;
    }
}

#endif // PQVK_POSIX_COPY

} // namespace

VerifiedCopy::VerifiedCopy(const QString& path) : sourcePath(path) {}

void VerifiedCopy::requestStop(bool stop)
{
    stopFlag.store(stop);
}

bool VerifiedCopy::stopRequested()
{
    return stopFlag.load();
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
    return copy([&targetPath](int) { return targetPath; }, 0, false);
}

#ifdef PQVK_POSIX_COPY

VerifiedCopy::Result VerifiedCopy::copy(const NameFor& nameFor, int firstNumber,
                                        bool nextNameWhenTaken)
{
    Result result;
    if (!pickName(nameFor, firstNumber, nextNameWhenTaken, &result))
        return result;

    // Read only: the card is never written to. Opened without waiting, as a
    // FIFO would wait for a writer for ever, and read only when it is a
    // regular file: a FIFO or a device may never end. A file under a lease
    // (a file server's) refuses such an opening while its holder lets go;
    // only regular files carry leases, so that one waits (the kernel bounds it).
    const QByteArray sourceName = QFile::encodeName(sourcePath);
    Descriptor source(::open(sourceName.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (source.fd < 0 && errno == EWOULDBLOCK)
        source.fd = ::open(sourceName.constData(), O_RDONLY | O_CLOEXEC);
    struct stat sourceStat;
    if (source.fd < 0 || ::fstat(source.fd, &sourceStat) != 0) {
        result.error = errorText(errno);
        return result;
    }
    if (!S_ISREG(sourceStat.st_mode)) {
        result.error = QStringLiteral("not a regular file");
        return result;
    }
    ::fcntl(source.fd, F_SETFL, ::fcntl(source.fd, F_GETFL) & ~O_NONBLOCK);
#ifdef Q_OS_LINUX
    ::posix_fadvise(source.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif

    TemporaryFile temp;
    for (int attempt = 0; temp.file.fd < 0; ++attempt) {
        temp.path = QFile::encodeName(temporaryName(result.path));
        temp.file.fd = ::open(temp.path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (temp.file.fd < 0 && (errno != EEXIST || attempt > 8)) {
            result.error = errorText(errno);
            temp.path.clear();
            return result;
        }
    }
    // Held while the copy is made: removeStaleTemporaries() leaves it alone.
    ::flock(temp.file.fd, LOCK_EX | LOCK_NB);

    switch (transfer(source.fd, temp.file.fd, &result.error)) {
    case Transfer::Done:
        break;
    case Transfer::Stopped:
        result.outcome = Outcome::Stopped;
        result.error = QStringLiteral("stopped");
        return result;
    case Transfer::Failed:
        return result;
    }

    const struct timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
    ::futimens(temp.file.fd, times);
    struct stat copyStat;
    if (::fsync(temp.file.fd) != 0 || ::fstat(temp.file.fd, &copyStat) != 0 ||
        ::fstat(source.fd, &sourceStat) != 0) {
        result.error = errorText(errno);
        return result;
    }
    if (!sizesMatch(&result, sourceStat.st_size, copyStat.st_size, verifySize))
        return result;
    if (temp.file.close() != 0) {
        result.error = errorText(errno);
        return result;
    }
    temp.published = publish(QFile::decodeName(temp.path), nameFor, nextNameWhenTaken, &result);
    return result;
}

#else // the Qt-only copy

VerifiedCopy::Result VerifiedCopy::copy(const NameFor& nameFor, int firstNumber,
                                        bool nextNameWhenTaken)
{
    Result result;
    if (!pickName(nameFor, firstNumber, nextNameWhenTaken, &result))
        return result;

    // Only a regular file is read: opening a FIFO would wait for a writer for
    // ever, and a FIFO or a device may never end.
    const QFileInfo sourceInfo(sourcePath);
    if (sourceInfo.exists() && !sourceInfo.isFile()) {
        result.error = QStringLiteral("not a regular file");
        return result;
    }
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        result.error = source.errorString();
        return result;
    }
    if (source.isSequential()) {
        result.error = QStringLiteral("not a regular file");
        return result;
    }
    const QDateTime modified = source.fileTime(QFileDevice::FileModificationTime);

    QFile temp;
    for (int attempt = 0; !temp.isOpen(); ++attempt) {
        temp.setFileName(temporaryName(result.path));
        if (!temp.open(QIODevice::WriteOnly | QIODevice::NewOnly) && attempt > 8) {
            result.error = temp.errorString();
            return result;
        }
    }
    struct Remover
    {
        QFile& file;
        bool keep = false;
        ~Remover()
        {
            if (!keep)
                file.remove();
        }
    } remover{temp};

    std::vector<char> buffer(static_cast<size_t>(BufferSize));
    for (;;) {
        qint64 moved = 0;
        while (moved < ChunkSize) {
            const qint64 got = source.read(buffer.data(), qint64(buffer.size()));
            if (got < 0) {
                result.error = source.errorString();
                return result;
            }
            if (got == 0)
                break;
            if (temp.write(buffer.data(), got) != got) {
                result.error = temp.errorString();
                return result;
            }
            moved += got;
        }
        if (moved == 0)
            break;
        if (stopFlag.load()) {
            result.outcome = Outcome::Stopped;
            result.error = QStringLiteral("stopped");
            return result;
        }
    }

    // The time after the last buffered bytes are written, which would set it anew.
    bool flushed = temp.flush();
    temp.setFileTime(modified, QFileDevice::FileModificationTime);
#ifdef Q_OS_WIN
    flushed = flushed && ::_commit(temp.handle()) == 0;
#elif defined(Q_OS_UNIX)
    flushed = flushed && ::fsync(temp.handle()) == 0;
#endif
    if (!flushed) {
        result.error = temp.errorString();
        return result;
    }
    if (!sizesMatch(&result, source.size(), temp.size(), verifySize))
        return result;
    temp.close();
    remover.keep = publish(temp.fileName(), nameFor, nextNameWhenTaken, &result);
    return result;
}

#endif

// Only names that temporaryName() forms, and only files: a hidden file of the
// user's own that happens to end in ".part" does not look like that. A copy
// sets its temporary file's modification time to the source's before it names
// it, so the time looked at is the last change of any kind.
QStringList VerifiedCopy::removeStaleTemporaries(const QString& folder, const QDateTime& notAfter)
{
    QStringList removed;
#if defined(PQVK_POSIX_COPY) || defined(Q_OS_WIN)
    static const QRegularExpression pattern(QStringLiteral("^\\..{1,48}\\.[0-9a-z]{1,13}\\.part$"));
    const QDir dir(folder);
    const QStringList names =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString& name : names) {
        if (!pattern.match(name).hasMatch())
            continue;
        const QString path = dir.filePath(name);
#ifdef PQVK_POSIX_COPY
        // Opened without following a link or waiting; a copy at work holds
        // its lock, one whose program was killed holds none.
        const QByteArray encoded = QFile::encodeName(path);
        Descriptor file(
            ::open(encoded.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        const qint64 changed = qint64(st.st_ctim.tv_sec) * 1000 + st.st_ctim.tv_nsec / 1000000;
        // File times may lag the clock by a tick: the same millisecond counts as before.
        if (changed > notAfter.toMSecsSinceEpoch() || ::flock(file.fd, LOCK_EX | LOCK_NB) != 0)
            continue;
        if (::unlink(encoded.constData()) == 0)
            removed << path;
#else
        // The system removes no file that a copy at work holds open.
        const QFileInfo info(path);
        if (info.isFile() && !info.isSymLink() && info.metadataChangeTime() <= notAfter &&
            QFile::remove(path))
            removed << path;
#endif
    }
#else
    // Without locks, and where open files can be removed, no file is safe to take.
    Q_UNUSED(folder)
    Q_UNUSED(notAfter)
#endif
    return removed;
}
