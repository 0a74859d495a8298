#pragma once

#include <QString>
#include <QStringList>

// What tells a temporary file of a program at work from one that a killed
// program left, without looking at file times (which FAT keeps in 2-second
// steps and in local time): every program holds a lock of its own for its
// whole life and names its temporary files after it. A temporary whose
// program's lock is free belongs to nobody and may go.
//
// The locks live in one folder of the machine, so that every program of
// ours, whoever runs it, finds them.
namespace RunLock {

// This program's tag (lower-case base 36), its lock taken on first use and
// held until the program ends; empty when no lock can be taken here.
QString tag();

// The program whose tag this is still runs (or cannot be told not to).
bool alive(const QString& tag);

// A hidden name beside `finalPath` that carries this program's tag: the
// media walk does not list it and no copy name can take that form.
QString temporaryName(const QString& finalPath);

// Removes the temporary files in `folder` (not below it) whose program has
// ended: only files of the form temporaryName() makes. Returns their paths.
QStringList removeStaleTemporaries(const QString& folder);

// Held while a name is checked and taken on a file system that cannot refuse
// an existing name by itself (no no-replace rename, no links): every program
// of ours takes the same lock for the file system that holds `folder`, so a
// name found free stays free until it is taken.
class NameLock
{
public:
    explicit NameLock(const QString& folder);
    ~NameLock();
    NameLock(const NameLock&) = delete;
    NameLock& operator=(const NameLock&) = delete;

    bool locked() const { return fd >= 0; }
    QString errorString() const { return error; }

private:
    int fd = -1;
    QString error;
};

} // namespace RunLock
