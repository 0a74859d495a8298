#pragma once

#include <QByteArray>
#include <QChar>
#include <QDateTime>
#include <QString>

class NmeaSentence;

// One record sentence of the unit's log ("$PQVKDATA"), decoded, with its CSV
// row. A line that does not decode gives a record of zeros with no Type.
class DataRecord
{
public:
    DataRecord() = default;
    explicit DataRecord(const QString& line);
    explicit DataRecord(const QByteArray& line);

    // Completes Timestamp from the dataset's start time: the record carries only
    // the low 16 bits of its time; the upper bits come from the start, one step
    // higher when the low bits have wrapped since the start.
    void setStartTime(quint32 startTime);
    QString toCsvRow() const;
    // The same row appended as bytes: the export writes many thousands.
    void appendCsvRow(QByteArray& out) const;
    static QString csvHeader();
    // Whether a sentence decodes as a start record, which opens a dataset.
    static bool opensDataset(const NmeaSentence& sentence);

    // Timestamp in local time.
    QDateTime dateTime() const { return QDateTime::fromSecsSinceEpoch(Timestamp); }

    bool isValid() const { return valid; }

    qint32 Id = 0;
    qint32 Number = 0; // field 1; the export lowers it to the position in its dataset
    qint32 flags = 0;
    quint32 start = 0;    // dataset start, seconds since the epoch
    qint32 Timestamp = 0; // seconds since the epoch once setStartTime ran
    QChar Type;           // 's', 'v', 'p', or null when the flags select none
    double depth = 0;
    double temperature = 0;
    double heading = 0;
    double roll = 0;
    double pitch = 0;
    double sixth = 0; // sent by the unit, not exported

private:
    bool valid = false;
};
