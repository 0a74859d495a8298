#include "cards/verifiedcopy.h"

#include "cards/verifiedcopyinternal.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <vector>

#ifndef PQVK_POSIX_COPY // the Qt-only copy

using namespace VerifiedCopyInternal;

VerifiedCopy::Staged::Leg::~Leg()
{
    temp.close();
    if (!published && !tempName.isEmpty())
        temp.remove();
}

VerifiedCopy::StagedCopy VerifiedCopy::stage(const QVector<NameFor>& names, int firstNumber,
                                             bool nextNameWhenTaken)
{
    StagedCopy staged(new Staged);
    staged->nextNameWhenTaken = nextNameWhenTaken;
    staged->verifySize = verifySize;
    staged->sourcePath = sourcePath;
    bool any = false;
    for (const NameFor& nameFor : names) {
        staged->legs.emplace_back();
        Staged::Leg& leg = staged->legs.back();
        leg.nameFor = nameFor;
        leg.failed = !pickName(nameFor, firstNumber, nextNameWhenTaken, &leg.result);
        any = any || !leg.failed;
    }
    if (!any)
        return staged;

    // Only a regular file is read: opening a FIFO would wait for a writer for
    // ever, and a FIFO or a device may never end.
    const QFileInfo sourceInfo(sourcePath);
    if (sourceInfo.exists() && !sourceInfo.isFile()) {
        staged->failAll(Outcome::Failed, QStringLiteral("not a regular file"));
        return staged;
    }
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        staged->failAll(Outcome::Failed, source.errorString());
        return staged;
    }
    if (source.isSequential()) {
        staged->failAll(Outcome::Failed, QStringLiteral("not a regular file"));
        return staged;
    }
    const QDateTime modified = source.fileTime(QFileDevice::FileModificationTime);

    const bool created = staged->forLive([&](Staged::Leg& leg) {
        for (int attempt = 0; !leg.temp.isOpen(); ++attempt) {
            leg.temp.setFileName(temporaryName(leg.result.path));
            if (!leg.temp.open(QIODevice::WriteOnly | QIODevice::NewOnly) && attempt > 8) {
                leg.result.error = leg.temp.errorString();
                leg.failed = true;
                return;
            }
        }
        leg.tempName = leg.temp.fileName();
    });
    if (!created)
        return staged;

    Hasher written;
    const qint64 sourceSize = source.size();
    EdgeHasher edges(sourceSize);
    if (!written.ok() || !edges.ok()) {
        staged->failAll(Outcome::Failed, QStringLiteral("out of memory"));
        return staged;
    }
    std::vector<char> buffer(static_cast<size_t>(bufferSizeFor(sourceSize)));
    qint64 writtenBytes = 0;
    for (;;) {
        qint64 moved = 0;
        while (moved < ChunkSize) {
            const qint64 got = source.read(buffer.data(), qint64(buffer.size()));
            if (got < 0) {
                staged->failAll(Outcome::Failed, source.errorString());
                return staged;
            }
            if (got == 0)
                break;
            written.add(buffer.data(), got);
            edges.add(writtenBytes + moved, buffer.data(), got);
            const bool left = staged->forLive([&](Staged::Leg& leg) {
                if (leg.temp.write(buffer.data(), got) != got) {
                    leg.result.error = leg.temp.errorString();
                    leg.failed = true;
                }
            });
            if (!left)
                return staged;
            moved += got;
        }
        writtenBytes += moved;
        if (progress)
            progress(writtenBytes);
        if (moved == 0)
            break;
        if (stopFlag.load()) {
            staged->failAll(Outcome::Stopped, QStringLiteral("stopped"));
            return staged;
        }
    }
    staged->sourceSize = source.size();
    staged->writtenHash = written.value();
    staged->sourceModified = modified;
    staged->forLive([&](Staged::Leg& leg) {
        leg.result.sourceFingerprint = edges.value();
        leg.result.fingerprinted =
            edges.complete() && writtenBytes == source.size() && sourceSize == source.size();
    });
    staged->written = true;
    return staged;
}

bool VerifiedCopyInternal::verifyLeg(VerifiedCopy::Staged& staged, VerifiedCopy::Staged::Leg& leg,
                                     std::vector<char>& buffer)
{
    using Outcome = VerifiedCopy::Outcome;
    VerifiedCopy::Result& result = leg.result;
    QFile& temp = leg.temp;
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
    if (buffer.empty())
        buffer.resize(static_cast<size_t>(bufferSizeFor(temp.size())));
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
    return hashesMatch(&result, staged.writtenHash, readFromDisk.value(), readBackBytes);
}

#endif
