#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <QVector>
#include <QtGlobal>

// How a task ended. Every task (each card of an import and the import run,
// each card of a preparation, each controller-unit task) ends with one
// Outcome, delivered beside its last progress report. qvkctl's exit status and
// the window's states come from it; the progress texts are for people only
// and are never read back to decide anything.
struct Outcome
{
    enum class Status
    {
        Succeeded,  // everything asked for was done
        Incomplete, // ran to its end, but not everything was done
        Refused,    // a check refused it before anything was touched
        Stopped,    // stopped on request
        Failed,     // could not be done (port silent, disk full, history not written)
    };

    Outcome() = default;
    explicit Outcome(Status ended) : status(ended) {}

    Status status = Status::Failed;

    // The counts; those that do not apply to a task stay 0.
    int videos = 0;       // media files found on a card ...
    int videosCopied = 0; // ... and those with a verified copy (skipped ones included)
    int photos = 0;
    int photosCopied = 0;
    int alreadyImported = 0; // skipped: a proven copy exists already
    int unreadable = 0;      // folders or files of a card that could not be read
    int unrecorded = 0;      // verified copies the ledger could not record
    int unverified = 0;      // media files a wipe would lose (no verified copy)
    qint64 records = 0;      // records the unit announced
    qint64 recordsWritten = 0;
    int files = 0; // files written (CSV files of an export)
    // An import into several destinations: the copies each holds (the
    // counts above are those that every one holds). Empty with one.
    struct Destination
    {
        QString path;
        int videosCopied = 0;
        int photosCopied = 0;
        int unrecorded = 0;
    };
    QVector<Destination> destinations;
    // Why it ended so, in a few words for people (a refusal's reason), or
    // empty; never read to decide anything.
    QString reason;

    bool succeeded() const { return status == Status::Succeeded; }

    // For the view and queued signals: a map with "status" (the names below),
    // "reason", every count under its member's name and, with several
    // destinations, "destinations": a list of maps of their members.
    QVariantMap toVariant() const;
    static Outcome fromVariant(const QVariant& value);
    static QString statusName(Status status);
};
