#include "cards/verifiedcopy.h"

#include "cards/exclusivefile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <xxhash.h>

#include <algorithm>
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
#elif defined(Q_OS_WIN)
#include <io.h>
#elif defined(Q_OS_UNIX)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

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

// One buffer per copy, used for the copy and its read-back. The kernel's own
// copy is not used: the bytes must pass through here to be hashed.
constexpr qint64 BufferSize = 4 * 1024 * 1024;

// XXH64 with seed 0, fed piece by piece.
class Hasher
{
public:
    Hasher() : state(XXH64_createState())
    {
        if (state)
            XXH64_reset(state, 0);
    }
    ~Hasher() { XXH64_freeState(state); }
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;
    bool ok() const { return state != nullptr; }
    void add(const char* data, qint64 size) { XXH64_update(state, data, size_t(size)); }
    quint64 value() const { return XXH64_digest(state); }

private:
    XXH64_state_t* state;
};

// The bytes of a file of `size` bytes that its fingerprint covers, taken from
// the file's bytes as they pass in file order: its first and its last
// FingerprintEdge bytes, never one twice.
class EdgeHasher
{
public:
    explicit EdgeHasher(qint64 size)
        : size(size),
          tailStart(std::max(VerifiedCopy::FingerprintEdge, size - VerifiedCopy::FingerprintEdge))
    {
    }
    bool ok() const { return hash.ok(); }
    // The file's bytes from `offset` on.
    void add(qint64 offset, const char* data, qint64 length)
    {
        const qint64 end = offset + length;
        const qint64 headEnd = std::min(end, std::min(size, VerifiedCopy::FingerprintEdge));
        if (offset < headEnd)
            hash.add(data, headEnd - offset);
        const qint64 from = std::max(offset, tailStart);
        const qint64 to = std::min(end, size);
        if (from < to)
            hash.add(data + (from - offset), to - from);
        seen = std::max(seen, end);
    }
    // Valid only when the file had the size it was made for.
    bool complete() const { return seen == size; }
    qint64 tail() const { return tailStart; }
    quint64 value() const { return hash.value(); }

private:
    Hasher hash;
    qint64 size;
    qint64 tailStart;
    qint64 seen = 0;
};

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

enum class Transfer
{
    Done,
    Stopped,
    Failed
};

// Copies from the current offsets to the end of the source through the
// buffer, hashing every byte it writes.
Transfer transfer(int in, int out, std::vector<char>& buffer, Hasher& hash, EdgeHasher& edges,
                  const VerifiedCopy::Progress& progress, qint64* total, QString* error)
{
    qint64 chunkStart = 0;
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            *error = errorText(errno);
            return Transfer::Failed;
        }
        if (got == 0)
            break;
        hash.add(buffer.data(), got);
        edges.add(*total, buffer.data(), got);
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, size_t(got - done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                *error = errorText(errno);
                return Transfer::Failed;
            }
            done += put;
        }
        *total += got;
        if (*total - chunkStart >= VerifiedCopy::ChunkSize) {
#ifdef Q_OS_LINUX
            // Start writing this chunk to the disk now, while the next one is
            // copied, so the flush at the end has little left to do.
            ::sync_file_range(out, chunkStart, *total - chunkStart, SYNC_FILE_RANGE_WRITE);
#endif
            chunkStart = *total;
            if (progress)
                progress(*total);
            if (stopFlag.load())
                return Transfer::Stopped;
        }
    }
    if (progress)
        progress(*total);
    return Transfer::Done;
}

// Hashes the copy as the disk gives it back: its pages, clean after the
// flush, are dropped from the cache first, so the read reaches the disk.
Transfer readBack(int fd, std::vector<char>& buffer, Hasher& hash, qint64* total, QString* error)
{
#ifdef Q_OS_LINUX
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    qint64 chunkStart = 0;
    for (;;) {
        const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), *total);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            *error = errorText(errno);
            return Transfer::Failed;
        }
        if (got == 0)
            break;
        hash.add(buffer.data(), got);
        *total += got;
        if (*total - chunkStart >= VerifiedCopy::ChunkSize) {
            chunkStart = *total;
            if (stopFlag.load())
                return Transfer::Stopped;
        }
    }
#ifdef Q_OS_LINUX
    // The copy is not read again here; its pages would only push others out.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
#endif
    return Transfer::Done;
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

    // Read and written on one descriptor, so the copy read back is the file
    // that takes the name.
    TemporaryFile temp;
    for (int attempt = 0; temp.file.fd < 0; ++attempt) {
        temp.path = QFile::encodeName(temporaryName(result.path));
        temp.file.fd = ::open(temp.path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (temp.file.fd < 0 && (errno != EEXIST || attempt > 8)) {
            result.error = errorText(errno);
            temp.path.clear();
            return result;
        }
    }
    // Held while the copy is made: removeStaleTemporaries() leaves it alone.
    ::flock(temp.file.fd, LOCK_EX | LOCK_NB);

    Hasher written;
    Hasher readFromDisk;
    EdgeHasher edges(sourceStat.st_size);
    if (!written.ok() || !readFromDisk.ok() || !edges.ok()) {
        result.error = QStringLiteral("out of memory");
        return result;
    }
    std::vector<char> buffer(static_cast<size_t>(BufferSize));
    qint64 writtenBytes = 0;
    switch (transfer(source.fd, temp.file.fd, buffer, written, edges, progress, &writtenBytes,
                     &result.error)) {
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
    result.sourceFingerprint = edges.value();
    result.fingerprinted = edges.complete() && writtenBytes == sourceStat.st_size;

    runWrittenHook(sourcePath, QFile::decodeName(temp.path));
    qint64 readBackBytes = 0;
    switch (readBack(temp.file.fd, buffer, readFromDisk, &readBackBytes, &result.error)) {
    case Transfer::Done:
        break;
    case Transfer::Stopped:
        result.outcome = Outcome::Stopped;
        result.error = QStringLiteral("stopped");
        return result;
    case Transfer::Failed:
        return result;
    }
    if (!hashesMatch(&result, written.value(), readFromDisk.value(), readBackBytes))
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

    Hasher written;
    Hasher readFromDisk;
    const qint64 sourceSize = source.size();
    EdgeHasher edges(sourceSize);
    if (!written.ok() || !readFromDisk.ok() || !edges.ok()) {
        result.error = QStringLiteral("out of memory");
        return result;
    }
    std::vector<char> buffer(static_cast<size_t>(BufferSize));
    qint64 writtenBytes = 0;
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
            written.add(buffer.data(), got);
            edges.add(writtenBytes + moved, buffer.data(), got);
            if (temp.write(buffer.data(), got) != got) {
                result.error = temp.errorString();
                return result;
            }
            moved += got;
        }
        writtenBytes += moved;
        if (progress)
            progress(writtenBytes);
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
    result.sourceFingerprint = edges.value();
    result.fingerprinted =
        edges.complete() && writtenBytes == source.size() && sourceSize == source.size();
    temp.close();

    runWrittenHook(sourcePath, temp.fileName());
    if (!temp.open(QIODevice::ReadOnly)) {
        result.error = temp.errorString();
        return result;
    }
#ifdef Q_OS_UNIX
    // Windows offers no such call: there the read-back may come from the cache.
    ::posix_fadvise(temp.handle(), 0, 0, POSIX_FADV_DONTNEED);
#endif
    qint64 readBackBytes = 0;
    for (;;) {
        const qint64 got = temp.read(buffer.data(), qint64(buffer.size()));
        if (got < 0) {
            result.error = temp.errorString();
            return result;
        }
        if (got == 0)
            break;
        readFromDisk.add(buffer.data(), got);
        readBackBytes += got;
        if (stopFlag.load()) {
            result.outcome = Outcome::Stopped;
            result.error = QStringLiteral("stopped");
            return result;
        }
    }
    temp.close();
    if (!hashesMatch(&result, written.value(), readFromDisk.value(), readBackBytes))
        return result;
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
