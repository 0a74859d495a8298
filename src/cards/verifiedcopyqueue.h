#pragma once

#include "cards/verifiedcopy.h"

#include <QMutex>
#include <QStringList>
#include <QWaitCondition>

#include <deque>
#include <thread>

// Verifies staged copies (VerifiedCopy::write()) on a thread of its own, in
// the order they come, while the caller reads the next files: the card never
// waits for a flush or a read-back.
//
// Memory stays flat: a copy in the queue is one open file per destination
// and a few hundred bytes of state, never its bytes. At most MaxFiles copies
// wait to be verified, and beyond the first of them at most MaxBytes of
// written bytes; add() waits for room. With the reader's buffer, one
// read-back buffer per destination (VerifiedCopy's, at most 4 MiB each) and
// one of 1 MiB per destination for reading a large copy back while it is
// written, a card's copying into one destination holds at most 9 MiB plus
// MaxFiles small records (14 MiB into two), whatever the card holds.
class VerifiedCopyQueue
{
public:
    static constexpr int MaxFiles = 32;
    static constexpr qint64 MaxBytes = qint64(1) << 30;

    // Copies that wait together are flushed with one commit of each of
    // `folders`' file systems before each is flushed and read back on its own.
    explicit VerifiedCopyQueue(const QStringList& folders);
    // Waits for the copy being verified; the others are left unverified.
    ~VerifiedCopyQueue();
    VerifiedCopyQueue(const VerifiedCopyQueue&) = delete;
    VerifiedCopyQueue& operator=(const VerifiedCopyQueue&) = delete;

    // Queues a copy of `bytes` bytes, which the caller keeps until it is
    // verified; waits while the queue is full.
    void add(VerifiedCopy::Staged* staged, qint64 bytes);
    // Whether the copy's verification has ended (it passed or failed).
    bool verified(const VerifiedCopy::Staged* staged);
    // Waits until it has.
    void wait(const VerifiedCopy::Staged* staged);

private:
    struct Entry
    {
        VerifiedCopy::Staged* staged;
        qint64 bytes;
    };
    void run();

    QStringList folders;
    QMutex mutex;
    QWaitCondition changed;
    std::deque<Entry> waiting; // not yet verified, oldest first
    const VerifiedCopy::Staged* current = nullptr;
    qint64 waitingBytes = 0;
    bool quit = false;
    std::thread thread;
};
