#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariantList>
#include <QtGlobal>

#include <memory>

class LedgerDatabase;

// Which card a file came from. A card is known by its file system's own
// identity (UUID or volume serial, read from the device behind the mount)
// where it can be read; without it (a folder given as a card, a device this
// user may not read, a platform that gives none) by its root path, which
// another card may take: rows found by path alone prove a card file only
// together with its fingerprint. The label is kept for the reader.
struct CardIdentity
{
    QString uuid;     // file system UUID, empty when unknown
    QString label;    // volume label, empty when none
    QString rootPath; // canonical path of the card's root folder

    // The identity of the card whose root folder is `cardRoot`.
    static CardIdentity of(const QString& cardRoot);
    bool sameCard(const CardIdentity& other) const;
};

// One verified copy: a card file whose copy was hashed in flight, read back
// from the disk, found equal and given its final name.
struct LedgerEntry
{
    CardIdentity card;
    QString relativePath; // the file's path relative to the card's root, '/' separated
    qint64 size = -1;     // bytes
    QDateTime modified;   // the card file's modification time (UTC, whole seconds or finer)
    quint64 xxh64 = 0;    // XXH64 (seed 0) of the bytes
    QString copyPath;     // absolute path of the copy
    QDateTime copiedAt;   // when the copy took its final name (UTC)
    QString runId;        // one id per import run (all three cards)
    // The card file's fingerprint (VerifiedCopy::fingerprintFile) from the
    // bytes copied, and the copy's own modification time as it took its
    // name. Rows of older ledgers have neither: they prove nothing.
    quint64 fingerprint = 0;
    bool hasFingerprint = false;
    QDateTime copyModified; // UTC; invalid when unknown
};

// Whether the bytes of one card file are safe in a copy that the ledger
// records: the one test that a wipe and an import that skips what it
// imported before both make. A row proves the file when it has a
// fingerprint, the card file still has the recorded size, time and
// fingerprint, and the copy is a file with the recorded size and time. Read
// in full, the card file and the copy must also both hash to the recorded
// XXH64. What is read of the card file is read once for all its rows.
class CopyProof
{
public:
    enum class Depth
    {
        Fingerprint, // size, time and fingerprint; the copy's size and time
        FullRead     // and both files read whole against the recorded hash
    };

    CopyProof(const QString& cardFile, Depth depth);

    // Why `row` does not prove the card file safe, short, for the user
    // ("its copy is gone"); empty when it does.
    QString whyNot(const LedgerEntry& row);

    // Equal as the ledger holds times, which may have whole seconds only.
    static bool sameTime(const QDateTime& recorded, const QDateTime& now);

    // FAT keeps local times: a card (or copy) on FAT read under another time
    // zone shows its times moved by whole hours. With this, such a shift of
    // up to MaxZoneShiftHours counts as the same time; the fingerprint must
    // still match. For an import that skips what it imported, not a wipe.
    void allowZoneShift() { zoneShifts = true; }
    static constexpr int MaxZoneShiftHours = 14;
    static bool zoneShifted(const QDateTime& recorded, const QDateTime& now);

private:
    QString cardFile;
    Depth depth;
    int fingerprintRead = 0; // 0 not yet, 1 read, -1 unreadable
    quint64 fingerprint = 0;
    int hashRead = 0;
    quint64 hash = 0;
    QString readError;
    bool zoneShifts = false;
};

// The record of every verified copy ever made, kept in an SQLite database
// ("imports.sqlite" in the user data folder) that the app and qvkctl share.
// A copy's row is pending (committed, proving nothing) before the copy takes
// its final name and confirmed after, alone or in a batch with others, so a
// crash mid-run loses no row of a copy that took its final name: the next
// run settles the pending ones. A missing database is created; a damaged one
// is put aside (renamed, never deleted) and recreated with a warning.
// Each object holds a database connection of its own, opened when it is
// made: an object is used on the thread that made it, so every thread that
// records or reads makes its own.
class ImportLedger
{
public:
    // dataDirPath() + "/imports.sqlite"
    static QString defaultPath();

    explicit ImportLedger(const QString& databasePath = defaultPath());
    ~ImportLedger();
    ImportLedger(const ImportLedger&) = delete;
    ImportLedger& operator=(const ImportLedger&) = delete;

    // False (with a warning in the log) when the row could not be committed.
    bool record(const LedgerEntry& entry);

    // What is recorded between these two is committed at once, in one
    // transaction: for copies that come faster than each could be committed.
    // False when the batch could not begin, or its rows were not committed.
    bool beginBatch();
    bool commitBatch();

    // A copy about to take its name: the row is written first, as pending,
    // so that a kill between the name and the row leaves a row to find.
    // Pending rows prove nothing. With `*id` < 0 the row is added and `*id`
    // set; else the pending row moves to the entry's copy path (a name taken
    // meanwhile).
    bool recordPending(const LedgerEntry& entry, qint64* id);
    // The pending row's copy took its name: it holds `entry`'s copy path,
    // time and copy time from now on. False when no pending row `id` is left.
    bool confirm(qint64 id, const LedgerEntry& entry);
    // The pending row's copy did not take its name.
    bool dropPending(qint64 id);
    // The pending rows of copies below `folder` whose program has ended: a
    // row whose file holds the recorded size and hash is confirmed, any
    // other removed. The number confirmed, -1 when the ledger cannot be read.
    int settlePending(const QString& folder);

    // Every row of the card (see CardIdentity::sameCard), oldest first.
    QList<LedgerEntry> copiesOfCard(const CardIdentity& card) const;
    // The rows of one card file, oldest first.
    QList<LedgerEntry> copiesOf(const CardIdentity& card, const QString& relativePath) const;

    // The rows whose copy lies below `folder` (an absolute, clean path, as
    // the copies are recorded), oldest first. `ok` tells an empty answer
    // from a ledger that could not be read.
    QList<LedgerEntry> copiesIn(const QString& folder, bool* ok = nullptr) const;

    QString databasePath() const;

private:
    // Every row of the card, or only those of `relativePath` when given.
    QList<LedgerEntry> select(const CardIdentity& card, const QString* relativePath) const;

    bool insert(const LedgerEntry& entry, const QString& pending, qint64* id);
    bool execute(const QString& sql, const QVariantList& values, int* changed = nullptr);

    std::unique_ptr<LedgerDatabase> db;
};
