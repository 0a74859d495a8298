#include "cards/verifiedcopy.h"

#include "cards/verifiedcopyinternal.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <vector>

#ifndef PQVK_POSIX_COPY // the Qt-only copy

using namespace VerifiedCopyInternal;

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
    remover.keep =
        publish(temp.fileName(), nameFor, nextNameWhenTaken, beforeName, modified, &result);
    return result;
}

#endif
