#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>

class LedgerDatabase;

// One CSV file of a complete export as it was written.
struct ExportedFile
{
    QString path;      // absolute
    qint64 size = -1;  // bytes
    quint64 xxh64 = 0; // XXH64 (seed 0) of the file as read back after writing
};

// A data export that ended in success: every record the unit announced was
// written into complete CSV files.
struct ExportEntry
{
    QString unit;         // see PQVKComms::unitIdentity
    qint64 announced = 0; // records the unit said it held
    qint64 written = 0;   // records that went into the files, start records included
    QList<ExportedFile> files;
    QDateTime exportedAt; // UTC
    QDateTime spentAt;    // UTC: when an erase used it up; invalid while it vouches
};

// The record of the unit's complete data exports, kept in the import
// ledger's database ("imports.sqlite"), so that the unit's memory is erased
// only when what it holds is saved. Each export is committed with its files
// in one transaction. Used like ImportLedger: one object per thread.
class ExportLedger
{
public:
    // The import ledger's database.
    static QString defaultPath();

    explicit ExportLedger(const QString& databasePath = defaultPath());
    ~ExportLedger();
    ExportLedger(const ExportLedger&) = delete;
    ExportLedger& operator=(const ExportLedger&) = delete;

    // False (with a warning in the log) when the export could not be committed.
    bool record(const ExportEntry& entry);
    // The unit's exports, newest first.
    QList<ExportEntry> exportsOf(const QString& unit) const;
    // Marks every export of `unit` as spent, before its memory is erased: an
    // export vouches for one erase only, and records logged after it need a
    // new export. False (with a warning in the log) when it could not be kept.
    bool spend(const QString& unit, const QDateTime& erasedAt);

    // Why `entry` does not show that a unit holding `records` records has them
    // saved: the count differs, an erase spent it, or a file is missing or no
    // longer holds the bytes written (XXH64). Empty when it does.
    static QString doubt(const ExportEntry& entry, qint64 records);

private:
    std::unique_ptr<LedgerDatabase> db;
};
