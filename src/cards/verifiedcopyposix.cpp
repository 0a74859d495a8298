#include "cards/verifiedcopy.h"

#include "cards/verifiedcopyinternal.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <vector>

#ifdef PQVK_POSIX_COPY

using namespace VerifiedCopyInternal;

namespace {

QString errorText(int error)
{
    return qt_error_string(error);
}

enum class Transfer
{
    Done,
    Stopped,
    Failed
};

// Copies from the current offsets to the end of the source through the
// buffer, hashing every byte once and writing it to every leg's temporary. A
// leg that cannot be written gives up alone; false when none is left.
Transfer transfer(int in, VerifiedCopy::Staged& staged, std::vector<char>& buffer, Hasher& hash,
                  EdgeHasher& edges, const VerifiedCopy::Progress& progress, qint64* total,
                  QString* error)
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
        const bool anyLeft = staged.forLive([&](VerifiedCopy::Staged::Leg& leg) {
            for (ssize_t done = 0; done < got;) {
                const ssize_t put = ::write(leg.temp.fd, buffer.data() + done, size_t(got - done));
                if (put < 0) {
                    if (errno == EINTR)
                        continue;
                    leg.result.error = errorText(errno);
                    leg.failed = true;
                    return;
                }
                done += put;
            }
        });
        if (!anyLeft)
            return Transfer::Failed;
        *total += got;
        if (*total - chunkStart >= VerifiedCopy::ChunkSize) {
#ifdef Q_OS_LINUX
            // Start writing this chunk to the disk now, while the next one is
            // copied, so the flush at the end has little left to do.
            staged.forLive([&](VerifiedCopy::Staged::Leg& leg) {
                ::sync_file_range(leg.temp.fd, chunkStart, *total - chunkStart,
                                  SYNC_FILE_RANGE_WRITE);
            });
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

} // namespace

VerifiedCopy::Staged::Leg::~Leg()
{
    temp.close();
    if (!published && !tempName.isEmpty())
        ::unlink(QFile::encodeName(tempName).constData());
}

VerifiedCopy::StagedCopy VerifiedCopy::stage(const QVector<NameFor>& names, int firstNumber,
                                             bool nextNameWhenTaken)
{
    StagedCopy staged(new Staged);
    staged->nextNameWhenTaken = nextNameWhenTaken;
    staged->verifySize = verifySize;
    staged->sourcePath = sourcePath;
    for (const NameFor& nameFor : names) {
        staged->legs.emplace_back();
        Staged::Leg& leg = staged->legs.back();
        leg.nameFor = nameFor;
        leg.failed = !pickName(nameFor, firstNumber, nextNameWhenTaken, &leg.result);
    }

    // Read only: the card is never written to. Opened without waiting, as a
    // FIFO would wait for a writer for ever, and read only when it is a
    // regular file: a FIFO or a device may never end. A file under a lease
    // (a file server's) refuses such an opening while its holder lets go;
    // only regular files carry leases, so that one waits (the kernel bounds it).
    const QByteArray sourceName = QFile::encodeName(sourcePath);
    Descriptor source(-1);
    struct stat sourceStat;
    const bool opened = staged->forLive([&](Staged::Leg&) {
        if (source.fd >= 0)
            return;
        source.fd = ::open(sourceName.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (source.fd < 0 && errno == EWOULDBLOCK)
            source.fd = ::open(sourceName.constData(), O_RDONLY | O_CLOEXEC);
    });
    if (!opened)
        return staged;
    if (source.fd < 0 || ::fstat(source.fd, &sourceStat) != 0) {
        staged->failAll(Outcome::Failed, errorText(errno));
        return staged;
    }
    if (!S_ISREG(sourceStat.st_mode)) {
        staged->failAll(Outcome::Failed, QStringLiteral("not a regular file"));
        return staged;
    }
    ::fcntl(source.fd, F_SETFL, ::fcntl(source.fd, F_GETFL) & ~O_NONBLOCK);
#ifdef Q_OS_LINUX
    ::posix_fadvise(source.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif

    // Read and written on one descriptor, so the copy read back is the file
    // that takes the name.
    const bool created = staged->forLive([&](Staged::Leg& leg) {
        for (int attempt = 0; leg.temp.fd < 0; ++attempt) {
            leg.tempName = temporaryName(leg.result.path);
            leg.temp.fd = ::open(QFile::encodeName(leg.tempName).constData(),
                                 O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (leg.temp.fd < 0 && (errno != EEXIST || attempt > 8)) {
                leg.result.error = errorText(errno);
                leg.tempName.clear();
                leg.failed = true;
                return;
            }
        }
    });
    if (!created)
        return staged;
    Hasher written;
    EdgeHasher edges(sourceStat.st_size);
    if (!written.ok() || !edges.ok()) {
        staged->failAll(Outcome::Failed, QStringLiteral("out of memory"));
        return staged;
    }
    std::vector<char> buffer(static_cast<size_t>(bufferSizeFor(sourceStat.st_size)));
    qint64 writtenBytes = 0;
    QString error;
    switch (transfer(source.fd, *staged, buffer, written, edges, progress, &writtenBytes, &error)) {
    case Transfer::Done:
        break;
    case Transfer::Stopped:
        staged->failAll(Outcome::Stopped, QStringLiteral("stopped"));
        return staged;
    case Transfer::Failed:
        staged->failAll(Outcome::Failed, error);
        return staged;
    }

    if (::fstat(source.fd, &sourceStat) != 0) {
        staged->failAll(Outcome::Failed, errorText(errno));
        return staged;
    }
    const struct timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
    staged->sourceSize = sourceStat.st_size;
    staged->writtenHash = written.value();
    staged->sourceModified = QDateTime::fromMSecsSinceEpoch(
        qint64(sourceStat.st_mtim.tv_sec) * 1000 + sourceStat.st_mtim.tv_nsec / 1000000, Qt::UTC);
    staged->forLive([&](Staged::Leg& leg) {
        ::futimens(leg.temp.fd, times);
        leg.result.sourceFingerprint = edges.value();
        leg.result.fingerprinted = edges.complete() && writtenBytes == sourceStat.st_size;
    });
    staged->written = true;
    return staged;
}

// One leg: flushed, read back from its disk and compared.
bool VerifiedCopyInternal::verifyLeg(VerifiedCopy::Staged& staged, VerifiedCopy::Staged::Leg& leg,
                                     std::vector<char>& buffer)
{
    using Outcome = VerifiedCopy::Outcome;
    VerifiedCopy::Result& result = leg.result;
    if (stopFlag.load()) {
        result.outcome = Outcome::Stopped;
        result.error = QStringLiteral("stopped");
        return false;
    }
    struct stat copyStat;
    if (::fsync(leg.temp.fd) != 0 || ::fstat(leg.temp.fd, &copyStat) != 0) {
        result.error = errorText(errno);
        return false;
    }
    if (!sizesMatch(&result, staged.sourceSize, copyStat.st_size, staged.verifySize))
        return false;

    runWrittenHook(staged.sourcePath, leg.tempName);
    Hasher readFromDisk;
    if (!readFromDisk.ok()) {
        result.error = QStringLiteral("out of memory");
        return false;
    }
    if (buffer.empty())
        buffer.resize(static_cast<size_t>(bufferSizeFor(copyStat.st_size)));
    qint64 readBackBytes = 0;
    switch (readBack(leg.temp.fd, buffer, readFromDisk, &readBackBytes, &result.error)) {
    case Transfer::Done:
        break;
    case Transfer::Stopped:
        result.outcome = Outcome::Stopped;
        result.error = QStringLiteral("stopped");
        return false;
    case Transfer::Failed:
        return false;
    }
    if (!hashesMatch(&result, staged.writtenHash, readFromDisk.value(), readBackBytes))
        return false;
    if (leg.temp.close() != 0) {
        result.error = errorText(errno);
        return false;
    }
    return true;
}

#endif // PQVK_POSIX_COPY
