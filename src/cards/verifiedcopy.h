#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <functional>
#include <memory>

// Copies one file so that its final name only ever holds a complete copy
// whose bytes are known to be the source's.
//
// The source is read once, through a fixed-size buffer (memory stays flat
// whatever the file size), and its bytes are hashed (XXH64) in the same pass
// that writes them to a hidden temporary file in the destination folder. The
// copy takes the source's modification time and is flushed to the disk; its
// pages are then dropped from the cache and it is read back from the disk and
// hashed again (a large copy on Linux range by range behind the writer, each
// range flushed and dropped first, so that little is left once it is written). Only when the sizes
// and both hashes agree does it take its final name, by a rename that never replaces an existing
// file. On every failure the temporary file is removed. The source is only ever opened for reading.
class VerifiedCopy
{
public:
    enum class Outcome
    {
        Copied,       // the final name holds a complete, verified copy
        SizeMismatch, // the copy's size differs from the source's; nothing kept
        HashMismatch, // the copy read back differs from the bytes read; nothing kept
        NameTaken,    // copyTo() only: a file of that name exists; nothing kept
        Stopped,      // stopped by requestStop(); nothing kept
        Failed        // could not read, write or name the copy; nothing kept
    };

    struct Result
    {
        Outcome outcome = Outcome::Failed;
        QString path;   // the name the copy took (Copied), or the last name tried
        int number = 0; // the number the name was formed with
        qint64 sourceSize = -1;
        qint64 copySize = -1;
        // XXH64 (seed 0) of the bytes read from the source, and of the copy as
        // read back from the disk; equal when Copied. Valid when `hashed`.
        quint64 sourceHash = 0;
        quint64 copyHash = 0;
        bool hashed = false;
        // The source's fingerprint (see fingerprintFile), taken from the
        // bytes as they were copied; valid when `fingerprinted`.
        quint64 sourceFingerprint = 0;
        bool fingerprinted = false;
        QString error; // the reason, for the log
    };

    // The final name for a number: 0 first, then 1, 2, ... when taken.
    using NameFor = std::function<QString(int number)>;

    // The bytes of this file written so far; called after every chunk and once at the end.
    using Progress = std::function<void(qint64 bytesWritten)>;

    // Called with the verified copy's sizes, hashes and the name it is about
    // to take, before each attempt to take it (a name taken meanwhile moves
    // it on to the next): what must be on record before the name exists.
    using BeforeName = std::function<void(const Result&)>;

    // Bytes moved between two checks of the stop request and two progress calls.
    static constexpr qint64 ChunkSize = 8 * 1024 * 1024;

    explicit VerifiedCopy(const QString& sourcePath);

    // The log file grows while it is copied; its copy is taken as it is.
    void setVerifySize(bool verify) { verifySize = verify; }
    void setProgress(Progress progress) { this->progress = std::move(progress); }
    void setBeforeName(BeforeName hook) { beforeName = std::move(hook); }

    // Copies to the first free name nameFor(n), n = firstNumber, firstNumber + 1, ...
    // A name that is taken by the time the copy is complete moves it on to the next.
    // The same as write(), verify() and takeName() in turn.
    Result copyToFreeName(const NameFor& nameFor, int firstNumber = 0);

    // The same copy in three steps, so that the next file can be read while
    // this one is verified: write() reads the source once into a temporary
    // beside the first free name; verify() flushes it, reads it back and
    // compares (on any thread, one copy at a time); takeName() gives it its
    // final name. A step after a failed one does nothing, verify() runs once
    // (and then tells how it went); result() tells the outcome so far. Between
    // the steps a copy holds one open file and none of its bytes; dropping it
    // removes its temporary.
    //
    // Given several names, one per destination, the source is read once and
    // written to a temporary in each (a leg each, numbered as the names); each
    // leg is flushed, read back and named on its own, and one that fails (a
    // full disk, a drive gone) leaves the others going.
    class Staged;
    struct StagedDeleter
    {
        void operator()(Staged* staged) const;
    };
    using StagedCopy = std::unique_ptr<Staged, StagedDeleter>;
    StagedCopy write(const NameFor& nameFor, int firstNumber = 0);
    StagedCopy write(const QVector<NameFor>& names);
    // True when every leg passed.
    static bool verify(Staged& staged);
    Result takeName(StagedCopy staged); // the first leg's
    Result takeName(Staged& staged, int leg);
    static const Result& result(const Staged& staged, int leg = 0);
    static bool verified(const Staged& staged, int leg);
    // Copies to exactly `targetPath`, never replacing a file there.
    Result copyTo(const QString& targetPath);

    // The copies' contents are on the disk when they take their names; this
    // makes the names themselves survive a power cut too. Once per run, as it
    // commits the whole file system that holds `folder`.
    static void syncNames(const QString& folder);

    // Asks every copy in progress to give up after its current chunk (and the
    // import workers to start no further file), leaving no file behind. The app
    // does not use it: it waits for running imports at exit. It stays in force
    // until cleared with requestStop(false).
    static void requestStop(bool stop = true);
    static bool stopRequested();

    // Removes the temporary files in `folder` (not below it) that a copy
    // left when its program was killed: only names of the temporary form
    // whose program no longer runs (RunLock). Returns their paths.
    static QStringList removeStaleTemporaries(const QString& folder);

    // 16 lower-case hex digits, the form hash lists and logs use.
    static QString hashText(quint64 xxh64);
    // XXH64 (seed 0) of a whole file, read through a fixed buffer; false with
    // the reason in `error` when it cannot be read.
    static bool hashFile(const QString& path, quint64* xxh64, QString* error = nullptr);
    // What tells a file from another of the same name, size and time
    // without reading it whole: XXH64 (seed 0) of its first and its last
    // FingerprintEdge bytes (of the whole file when it is no longer than
    // both). False with the reason in `error` when it cannot be read.
    static constexpr qint64 FingerprintEdge = 1024 * 1024;
    static bool fingerprintFile(const QString& path, quint64* fingerprint,
                                QString* error = nullptr);

    // Tests only: called with the source's and the temporary copy's paths once
    // the copy is written and flushed, before it is read back, so a test can
    // change the bytes on their way to the disk (while one is set, no copy is
    // read back before it is whole). Empty (the default) in use.
    using WrittenHook = std::function<void(const QString& sourcePath, const QString& tempPath)>;
    static void setWrittenHook(WrittenHook hook);

private:
    Result copy(const NameFor& nameFor, int firstNumber, bool nextNameWhenTaken);
    StagedCopy stage(const QVector<NameFor>& names, int firstNumber, bool nextNameWhenTaken);

    QString sourcePath;
    bool verifySize = true;
    Progress progress;
    BeforeName beforeName;
};
