#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Creates a file that is never seen half-written and never written twice.
// The content goes to a temporary file in the target's folder; commit() then
// gives it the target's name only if no file holds that name, atomically, so
// of several writers racing for one name exactly one wins and the others
// leave nothing behind. An existing file is never replaced, but by replace(),
// for a file that is meant to be rewritten whole (a chain file).
//
//     ExclusiveFile out(path);
//     if (out.open()) {
//         out.file().write(...);            // or write to out.file().handle()
//         switch (out.commit()) { ... }     // Created, AlreadyExists or Failed
//     }
//
// Until commit() the temporary file is removed when the object goes away, so
// an interrupted or failed write leaves no file under the target's name.
class ExclusiveFile
{
public:
    enum Outcome
    {
        Created,
        AlreadyExists,
        Failed
    };

    explicit ExclusiveFile(const QString& path);
    ~ExclusiveFile();
    ExclusiveFile(const ExclusiveFile&) = delete;
    ExclusiveFile& operator=(const ExclusiveFile&) = delete;

    // Creates the temporary file. False when a file already holds the target's
    // name (outcome() is AlreadyExists) or the temporary cannot be created (Failed).
    bool open();
    // The temporary file, open for writing after a successful open().
    QFile& file() { return m_temp; }
    // Flushes the content to the disk, closes it and gives it the target's name
    // unless a file holds that name by now. The temporary file is gone afterwards.
    Outcome commit();
    // Drops the temporary file; the target is left alone.
    void discard();

    QString path() const { return m_path; }
    Outcome outcome() const { return m_outcome; }
    QString errorString() const { return m_error; }

    // Writes `content` to `path` in one go, unless a file holds that name.
    static Outcome write(const QString& path, const QByteArray& content,
                         QString* errorString = nullptr);
    // Writes `content` to `path` in one go, replacing a file of that name
    // atomically: readers see the old content or the new, never a part. On
    // any failure (a full disk, say) the old file stays as it was. Created
    // or Failed.
    static Outcome replace(const QString& path, const QByteArray& content,
                           QString* errorString = nullptr);

    // Gives the file `from` the name `to` unless a file (or link) holds that
    // name: Created, AlreadyExists, or Failed with the reason in `errorString`.
    static Outcome renameNoReplace(const QString& from, const QString& to, QString* errorString);

private:
    Outcome fail(const QString& error);
    static Outcome writeWhole(ExclusiveFile& out, const QByteArray& content, QString* errorString);

    bool m_replace = false; // replace(): the target's name is taken over

    QString m_path;
    QFile m_temp;
    Outcome m_outcome = Failed;
    QString m_error;
};
