#include "cards/verifiedcopy.h"

#include "cards/verifiedcopyinternal.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <vector>

#ifndef PQVK_POSIX_COPY // the Qt-only copy

using namespace VerifiedCopyInternal;

VerifiedCopy::Staged::~Staged()
{
    temp.close();
    if (!published && !tempName.isEmpty())
        temp.remove();
}

VerifiedCopy::StagedCopy VerifiedCopy::stage(const NameFor& nameFor, int firstNumber,
                                             bool nextNameWhenTaken)
{
    StagedCopy staged(new Staged);
    staged->nameFor = nameFor;
    staged->nextNameWhenTaken = nextNameWhenTaken;
    staged->verifySize = verifySize;
    staged->sourcePath = sourcePath;
    Result& result = staged->result;
    if (!pickName(nameFor, firstNumber, nextNameWhenTaken, &result))
        return staged;

    // Only a regular file is read: opening a FIFO would wait for a writer for
    // ever, and a FIFO or a device may never end.
    const QFileInfo sourceInfo(sourcePath);
    if (sourceInfo.exists() && !sourceInfo.isFile()) {
        result.error = QStringLiteral("not a regular file");
        return staged;
    }
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        result.error = source.errorString();
        return staged;
    }
    if (source.isSequential()) {
        result.error = QStringLiteral("not a regular file");
        return staged;
    }
    const QDateTime modified = source.fileTime(QFileDevice::FileModificationTime);

    QFile& temp = staged->temp;
    for (int attempt = 0; !temp.isOpen(); ++attempt) {
        temp.setFileName(temporaryName(result.path));
        if (!temp.open(QIODevice::WriteOnly | QIODevice::NewOnly) && attempt > 8) {
            result.error = temp.errorString();
            return staged;
        }
    }
    staged->tempName = temp.fileName();

    Hasher written;
    const qint64 sourceSize = source.size();
    EdgeHasher edges(sourceSize);
    if (!written.ok() || !edges.ok()) {
        result.error = QStringLiteral("out of memory");
        return staged;
    }
    std::vector<char> buffer(static_cast<size_t>(bufferSizeFor(sourceSize)));
    qint64 writtenBytes = 0;
    for (;;) {
        qint64 moved = 0;
        while (moved < ChunkSize) {
            const qint64 got = source.read(buffer.data(), qint64(buffer.size()));
            if (got < 0) {
                result.error = source.errorString();
                return staged;
            }
            if (got == 0)
                break;
            written.add(buffer.data(), got);
            edges.add(writtenBytes + moved, buffer.data(), got);
            if (temp.write(buffer.data(), got) != got) {
                result.error = temp.errorString();
                return staged;
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
            return staged;
        }
    }
    staged->sourceSize = source.size();
    staged->writtenHash = written.value();
    staged->sourceModified = modified;
    result.sourceFingerprint = edges.value();
    result.fingerprinted =
        edges.complete() && writtenBytes == source.size() && sourceSize == source.size();
    staged->written = true;
    return staged;
}

bool VerifiedCopy::verify(Staged& staged)
{
    Result& result = staged.result;
    QFile& temp = staged.temp;
    if (!staged.written || staged.checked)
        return staged.verified;
    staged.checked = true;
    if (stopFlag.load()) {
        result.outcome = Outcome::Stopped;
        result.error = QStringLiteral("stopped");
        return false;
    }
    // The time after the last buffered bytes are written, which would set it anew.
    bool flushed = temp.flush();
    temp.setFileTime(staged.sourceModified, QFileDevice::FileModificationTime);
#ifdef Q_OS_WIN
    flushed = flushed && ::_commit(temp.handle()) == 0;
#elif defined(Q_OS_UNIX)
    flushed = flushed && ::fsync(temp.handle()) == 0;
#endif
    if (!flushed) {
        result.error = temp.errorString();
        return false;
    }
    if (!sizesMatch(&result, staged.sourceSize, temp.size(), staged.verifySize))
        return false;
    temp.close();

    runWrittenHook(staged.sourcePath, temp.fileName());
    if (!temp.open(QIODevice::ReadOnly)) {
        result.error = temp.errorString();
        return false;
    }
#ifdef Q_OS_UNIX
    // Windows offers no such call: there the read-back may come from the cache.
    ::posix_fadvise(temp.handle(), 0, 0, POSIX_FADV_DONTNEED);
#endif
    Hasher readFromDisk;
    if (!readFromDisk.ok()) {
        result.error = QStringLiteral("out of memory");
        return false;
    }
    std::vector<char> buffer(static_cast<size_t>(bufferSizeFor(temp.size())));
    qint64 readBackBytes = 0;
    for (;;) {
        const qint64 got = temp.read(buffer.data(), qint64(buffer.size()));
        if (got < 0) {
            result.error = temp.errorString();
            return false;
        }
        if (got == 0)
            break;
        readFromDisk.add(buffer.data(), got);
        readBackBytes += got;
        if (stopFlag.load()) {
            result.outcome = Outcome::Stopped;
            result.error = QStringLiteral("stopped");
            return false;
        }
    }
    temp.close();
    if (!hashesMatch(&result, staged.writtenHash, readFromDisk.value(), readBackBytes))
        return false;
    staged.verified = true;
    return true;
}

#endif
