#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

// Copies one file so that its final name only ever holds a complete copy.
//
// The bytes go to a hidden temporary file in the destination folder (the
// kernel's own copy where it can, else a fixed-size buffer, so memory stays
// flat whatever the file size). The copy takes the source's modification
// time, is flushed to the disk and checked against the source's size, and
// only then takes its final name, by a rename that never replaces an existing
// file. On every failure the temporary file is removed. The source is only
// ever opened for reading.
class VerifiedCopy
{
public:
    enum class Outcome
    {
        Copied,       // the final name holds a complete, verified copy
        SizeMismatch, // the copy's size differs from the source's; nothing kept
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
        QString error; // the reason, for the log
    };

    // The final name for a number: 0 first, then 1, 2, ... when taken.
    using NameFor = std::function<QString(int number)>;

    // Bytes moved between two checks of the stop request.
    static constexpr qint64 ChunkSize = 8 * 1024 * 1024;

    explicit VerifiedCopy(const QString& sourcePath);

    // The log file grows while it is copied; its copy is taken as it is.
    void setVerifySize(bool verify) { verifySize = verify; }

    // Copies to the first free name nameFor(n), n = firstNumber, firstNumber + 1, ...
    // A name that is taken by the time the copy is complete moves it on to the next.
    Result copyToFreeName(const NameFor& nameFor, int firstNumber = 0);
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

    // Removes the temporary files in `folder` (not below it) that a copy left
    // when its program was killed: only names of the temporary form, last
    // changed no later than `notAfter`, and held by no copy at work. Returns their
    // paths. The Qt-only copy takes none but on Windows, which keeps open
    // files from being removed.
    static QStringList removeStaleTemporaries(const QString& folder, const QDateTime& notAfter);

private:
    Result copy(const NameFor& nameFor, int firstNumber, bool nextNameWhenTaken);

    QString sourcePath;
    bool verifySize = true;
};
