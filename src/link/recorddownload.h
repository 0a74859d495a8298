#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// One dump of the unit's records: the record sentences as they arrived, and
// everything that says the dump is not the whole of what the unit announced.
//
// The unit numbers its records (field 1) and announces how many it holds
// before the dump. A dump is whole only when its end message came, exactly the
// announced records arrived, each number is above the one before, no line was
// garbled and the first record opens a dataset. Anything else is a problem
// that the export reports and names its files after. A number that skips some
// (a unit that does not number consecutively) loses nothing when the count
// arrived in full: it is only noted.
class RecordDownload
{
public:
    explicit RecordDownload(qint64 announced = 0);

    // --- while the dump streams in ---
    // A record sentence whose checksum verified, with its number (above 0) and
    // whether it opens a dataset (DataRecord::opensDataset); kept without white
    // space at either end (its line end). False, and nothing kept, when it is
    // one more than announced or the download would grow beyond what memory
    // should hold.
    bool addRecord(const QByteArray& line, qint32 number, bool opensDataset);
    void addGarbledLine() { ++garbled; }
    void setEnded() { endSeen = true; }
    // The stream stopped before its end, for this reason (a phrase, e.g.
    // "the unit sent no record for 10 s"). The first reason given is kept.
    void fail(const QString& reason);
    // Given up on request: whatever arrived is no export.
    void setStopped()
    {
        stopRequested = true;
        fail(QStringLiteral("stopped on request"));
    }

    // --- afterwards ---
    int count() const { return ends.size(); }
    qint64 announced() const { return announcedCount; }
    // Record i, as received without its line end; the bytes stay this
    // object's, valid while it lives.
    QByteArray line(int i) const;
    // The positions of the records that open a dataset, in order.
    const QVector<int>& datasetStarts() const { return starts; }
    bool ended() const { return endSeen; }
    bool stopped() const { return stopRequested; }
    QString failure() const { return failureReason; }
    // Phrases saying what is wrong, the failure first; empty for a whole dump.
    QStringList problems() const;
    bool isWhole() const { return problems().isEmpty(); }
    // The problems as one sentence for a message.
    QString summary() const;
    // Numbers skipped between records, for the log: no problem in itself.
    QStringList gaps() const { return gapTexts; }

    // All records together may take this much memory at most.
    static constexpr int MaxBytes = 256 * 1024 * 1024;

private:
    qint64 announcedCount = 0;
    QByteArray bytes; // the records one after another
    QVector<int> ends;
    QVector<int> starts;
    bool endSeen = false;
    bool stopRequested = false;
    QString failureReason;
    int garbled = 0;
    qint32 lastNumber = 0;
    int gapCount = 0;
    QStringList gapTexts; // the first few
    int disorders = 0;
    QStringList disorderTexts; // the first few
    int beforeFirstStart = 0;
};
