#pragma once

// What the verified copy's skeleton (verifiedcopy.cpp) and its two back-ends
// share: the POSIX copy (verifiedcopyposix.cpp) and the one that uses Qt's
// file classes only (verifiedcopyqt.cpp). Only those three files include it.

#include "cards/verifiedcopy.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <xxhash.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
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

namespace VerifiedCopyInternal {

extern std::atomic_bool stopFlag;

void runWrittenHook(const QString& sourcePath, const QString& tempPath);
bool hasWrittenHook();

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

// The steps every copy shares, in verifiedcopy.cpp.
bool hashesMatch(VerifiedCopy::Result* result, quint64 sourceHash, quint64 copyHash,
                 qint64 readBack);
QString temporaryName(const QString& finalPath);
bool pickName(const VerifiedCopy::NameFor& nameFor, int first, bool nextNameWhenTaken,
              VerifiedCopy::Result* result);
bool sizesMatch(VerifiedCopy::Result* result, qint64 sourceSize, qint64 copySize, bool verify);
bool publish(const QString& tempPath, const VerifiedCopy::NameFor& nameFor, bool nextNameWhenTaken,
             const VerifiedCopy::BeforeName& beforeName, const QDateTime& sourceModified,
             VerifiedCopy::Result* result);

#ifdef PQVK_POSIX_COPY

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

#ifdef Q_OS_LINUX
// Reads a large copy back behind its writer (verifiedcopyposix.cpp).
class TrailingReadBack;
#endif

#endif // PQVK_POSIX_COPY

// A buffer for a file of `size` bytes: a small file gets a small one, which
// matters when a card holds thousands of them.
inline qint64 bufferSizeFor(qint64 size)
{
    return std::min(BufferSize, std::max<qint64>(64 * 1024, size + 1));
}

} // namespace VerifiedCopyInternal

// What a copy carries from one step to the next: the source's side once,
// and one leg per destination.
class VerifiedCopy::Staged
{
public:
    struct Leg
    {
        ~Leg(); // removes the temporary unless it took its name
        VerifiedCopy::Result result;
        VerifiedCopy::NameFor nameFor;
        QString tempName;
        bool failed = false;   // gave up; `result` says why
        bool checked = false;  // verify() has run
        bool verified = false; // and the copy passed
        bool published = false;
#ifdef PQVK_POSIX_COPY
        VerifiedCopyInternal::Descriptor temp{-1};
#ifdef Q_OS_LINUX
        // A large copy's read-back, begun while it is written; none when absent.
        std::unique_ptr<VerifiedCopyInternal::TrailingReadBack> trail;
#endif
#else
        QFile temp;
#endif
    };

    std::deque<Leg> legs; // a deque: a leg holds an open file and never moves
    bool nextNameWhenTaken = true;
    bool verifySize = true;
    QString sourcePath;
    bool written = false; // the source was read to its end
    quint64 writtenHash = 0;
    qint64 sourceSize = -1; // as the source was when its last byte was read
    QDateTime sourceModified;

    // Every leg that has not failed yet; false when none is left.
    template <typename F> bool forLive(F f)
    {
        bool any = false;
        for (Leg& leg : legs) {
            if (!leg.failed) {
                f(leg);
                any = any || !leg.failed;
            }
        }
        return any;
    }
    void failAll(VerifiedCopy::Outcome outcome, const QString& error)
    {
        forLive([&](Leg& leg) {
            leg.result.outcome = outcome;
            leg.result.error = error;
            leg.failed = true;
        });
    }
};

namespace VerifiedCopyInternal {
// One leg of a written copy: flushed, read back from its disk and compared,
// through `buffer` (sized on first use). The back-end's.
bool verifyLeg(VerifiedCopy::Staged& staged, VerifiedCopy::Staged::Leg& leg,
               std::vector<char>& buffer);
} // namespace VerifiedCopyInternal
