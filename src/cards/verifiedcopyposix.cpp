#include "cards/verifiedcopy.h"

#include "cards/verifiedcopyinternal.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QWaitCondition>

#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#include <sys/vfs.h>
#endif

#ifdef PQVK_POSIX_COPY

using namespace VerifiedCopyInternal;

#ifdef Q_OS_LINUX
namespace VerifiedCopyInternal {

constexpr decltype(statfs::f_type) FuseMagic = 0x65735546;

// Reads a large copy back from its disk while the rest of it is still being
// written, so that once its last byte is written little is left to read: the
// card's reader never waits for it, and a card's last file does not keep the
// import waiting for its whole read-back. Each range handed over is written
// out and waited for, its pages dropped from the cache, then read from the
// disk and hashed, on a thread of its own. The writer never writes below a
// range it has handed over, and ranges end on page boundaries, so no page of
// one is written again once it has been dropped.
class TrailingReadBack
{
public:
    // Copies smaller than this are read back whole once written.
    static constexpr qint64 MinimumSize = 2 * VerifiedCopy::ChunkSize;
    static constexpr qint64 ReadSize = 1024 * 1024;

    explicit TrailingReadBack(int fd) : fd(fd), thread([this] { run(); }) {}
    ~TrailingReadBack() { stop(); }
    TrailingReadBack(const TrailingReadBack&) = delete;
    TrailingReadBack& operator=(const TrailingReadBack&) = delete;

    // The copy's bytes below `end` are written and stay as they are.
    void offer(qint64 end)
    {
        static const qint64 page = ::sysconf(_SC_PAGESIZE);
        QMutexLocker lock(&mutex);
        offered = std::max(offered, end / page * page);
        changed.wakeAll();
    }
    // Ends the read-back where it is: the bytes below the returned offset are
    // hashed into `hash`, the others are left to read.
    qint64 stop()
    {
        {
            QMutexLocker lock(&mutex);
            quit = true;
            changed.wakeAll();
        }
        if (thread.joinable())
            thread.join();
        return checked;
    }
    Hasher hash; // the bytes read back so far; only stop()'s caller reads it

private:
    void run()
    {
        // Smaller than the copy's own buffer, as it is held beside it; mapped
        // rather than allocated, so that it is given back when the thread
        // ends, whatever the allocator keeps of a thread's own heap.
        struct Mapping
        {
            void* at = ::mmap(nullptr, ReadSize, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            ~Mapping()
            {
                if (at != MAP_FAILED)
                    ::munmap(at, ReadSize);
            }
        } buffer;
        if (buffer.at == MAP_FAILED)
            return; // all of it is read back at the end
        QMutexLocker lock(&mutex);
        for (;;) {
            while (!quit && offered == checked)
                changed.wait(&mutex);
            if (quit || stopFlag.load())
                return;
            const qint64 end = offered;
            lock.unlock();
            const bool read = readRange(end, static_cast<char*>(buffer.at));
            lock.relock();
            if (!read)
                return; // the read-back at the end goes on from `checked`
        }
    }
    bool readRange(qint64 end, char* buffer)
    {
        const qint64 length = end - checked;
        if (::sync_file_range(fd, checked, length,
                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                  SYNC_FILE_RANGE_WAIT_AFTER) != 0 ||
            ::posix_fadvise(fd, checked, length, POSIX_FADV_DONTNEED) != 0)
            return false;
        while (checked < end) {
            const ssize_t got =
                ::pread(fd, buffer, size_t(std::min(ReadSize, end - checked)), checked);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0 || !hash.ok())
                return false;
            hash.add(buffer, got);
            checked += got;
        }
        // Read once; its pages would only push others out.
        ::posix_fadvise(fd, end - length, length, POSIX_FADV_DONTNEED);
        return true;
    }

    const int fd;
    QMutex mutex;
    QWaitCondition changed;
    qint64 offered = 0; // under `mutex`
    bool quit = false;  // under `mutex`
    qint64 checked = 0; // the thread's until it ends
    std::thread thread;
};

} // namespace VerifiedCopyInternal
#endif

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
                if (leg.trail)
                    leg.trail->offer(*total);
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
#ifdef Q_OS_LINUX
    trail.reset(); // it reads the file
#endif
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
#ifdef Q_OS_LINUX
    // A test that changes the bytes before they are read back has them read
    // back whole after it. So has a copy through FUSE: its writes reach the
    // driver at once, with nothing to flush behind them, and a driver may
    // refuse a read beside a write (FAT's does).
    if (sourceStat.st_size >= TrailingReadBack::MinimumSize && !hasWrittenHook()) {
        staged->forLive([](Staged::Leg& leg) {
            struct statfs where;
            if (::fstatfs(leg.temp.fd, &where) == 0 && where.f_type != FuseMagic)
                leg.trail = std::make_unique<TrailingReadBack>(leg.temp.fd);
        });
    }
#endif
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
    struct stat copyStat;
    if (::fsync(leg.temp.fd) != 0 || ::fstat(leg.temp.fd, &copyStat) != 0) {
        result.error = errorText(errno);
        return false;
    }
    if (!sizesMatch(&result, staged.sourceSize, copyStat.st_size, staged.verifySize))
        return false;

    runWrittenHook(staged.sourcePath, leg.tempName);
    // What was read back behind the writer is not read again.
    Hasher ownHash;
    Hasher* readFromDisk = &ownHash;
    qint64 readBackBytes = 0;
#ifdef Q_OS_LINUX
    if (leg.trail) {
        readBackBytes = leg.trail->stop();
        readFromDisk = &leg.trail->hash;
    }
#endif
    if (!readFromDisk->ok()) {
        result.error = QStringLiteral("out of memory");
        return false;
    }
    if (buffer.empty())
        buffer.resize(static_cast<size_t>(bufferSizeFor(copyStat.st_size)));
    // Read through a descriptor of its own: some drivers (FAT through FUSE)
    // answer a read on the writing one from what they hold for it, not from
    // the disk, and a small file then reads back as zeros.
    const int readFd = ::open(QFile::encodeName(leg.tempName).constData(), O_RDONLY | O_CLOEXEC);
    if (readFd < 0) {
        result.error = errorText(errno);
        return false;
    }
    const Transfer readBackDone =
        readBack(readFd, buffer, *readFromDisk, &readBackBytes, &result.error);
    ::close(readFd);
    switch (readBackDone) {
    case Transfer::Done:
        break;
    case Transfer::Stopped:
        result.outcome = Outcome::Stopped;
        result.error = QStringLiteral("stopped");
        return false;
    case Transfer::Failed:
        return false;
    }
    if (!hashesMatch(&result, staged.writtenHash, readFromDisk->value(), readBackBytes))
        return false;
    if (leg.temp.close() != 0) {
        result.error = errorText(errno);
        return false;
    }
    return true;
}

#endif // PQVK_POSIX_COPY
