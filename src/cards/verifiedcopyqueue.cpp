#include "cards/verifiedcopyqueue.h"

#include <QMutexLocker>

#include <algorithm>

VerifiedCopyQueue::VerifiedCopyQueue(const QStringList& folders)
    : folders(folders), thread([this] { run(); })
{
}

VerifiedCopyQueue::~VerifiedCopyQueue()
{
    {
        QMutexLocker lock(&mutex);
        quit = true;
        changed.wakeAll();
    }
    thread.join();
}

void VerifiedCopyQueue::add(VerifiedCopy::Staged* staged, qint64 bytes)
{
    QMutexLocker lock(&mutex);
    while (!waiting.empty() && (int(waiting.size()) >= MaxFiles || waitingBytes + bytes > MaxBytes))
        changed.wait(&mutex);
    waiting.push_back({staged, bytes});
    waitingBytes += bytes;
    changed.wakeAll();
}

bool VerifiedCopyQueue::verified(const VerifiedCopy::Staged* staged)
{
    QMutexLocker lock(&mutex);
    return current != staged &&
           std::none_of(waiting.cbegin(), waiting.cend(),
                        [staged](const Entry& entry) { return entry.staged == staged; });
}

void VerifiedCopyQueue::wait(const VerifiedCopy::Staged* staged)
{
    QMutexLocker lock(&mutex);
    while (current == staged ||
           std::any_of(waiting.cbegin(), waiting.cend(),
                       [staged](const Entry& entry) { return entry.staged == staged; }))
        changed.wait(&mutex);
}

void VerifiedCopyQueue::run()
{
    QMutexLocker lock(&mutex);
    for (;;) {
        while (waiting.empty() && !quit)
            changed.wait(&mutex);
        if (quit)
            return;
        // Small files come faster than each could be flushed on its own: the
        // file system commits them all at once, and each flush finds little left.
        const bool several = waiting.size() > 1;
        const Entry entry = waiting.front();
        current = entry.staged;
        lock.unlock();
        for (const QString& folder : folders) {
            if (several)
                VerifiedCopy::syncNames(folder);
        }
        VerifiedCopy::verify(*entry.staged);
        lock.relock();
        waiting.pop_front();
        waitingBytes -= entry.bytes;
        current = nullptr;
        changed.wakeAll();
    }
}
