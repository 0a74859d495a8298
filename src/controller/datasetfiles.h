#pragma once

#include <QDateTime>
#include <QPair>
#include <QString>
#include <QVector>

class RecordDownload;

// The CSV files of one data export: one file per dataset, each under a name
// that holds nothing before it is complete and never replaces a file. A name
// already taken, by this export or an earlier one, takes the next free "-2",
// "-3", ... before ".csv", unless the file there holds exactly the bytes
// meant for it (the same records exported again): then it is kept as it is.
//
// The files of a download that is not whole carry "_incomplete" before
// ".csv" (and before any "-N"), so nobody takes them for a full copy of the
// unit's memory; records that came before the first start record, which no
// dataset can take, go to a file of their own named so.
namespace DatasetFiles {

// "vazizidadu_<yyyyMMdd-hhmm>00.csv", or "vazizidadu_<project>_<...>.csv":
// the seconds are always written as "00".
QString fileName(const QDateTime& datasetStart, const QString& projectName);
// The name for records without a start record, which only an incomplete
// export has: "vazizidadu_[<project>_]without-start.csv" before the mark.
QString withoutStartFileName(const QString& projectName);
// "<stem>_incomplete.csv" for "<stem>.csv".
QString incompleteName(const QString& name);
// `name` with "-n" before ".csv" (n >= 2); `name` itself for n = 1.
QString numberedName(const QString& name, int n);

// Makes the destination folder when it is missing (parents included) and
// checks that files can be made in it, before anything is downloaded. Empty
// when it can take the files, else why not; `created` says whether this call
// made the folder.
QString prepareFolder(const QString& targetDir, bool* created);

struct Written
{
    int filesWritten = 0; // complete, under their final names (kept ones included)
    int filesKept = 0;    // already there with exactly these bytes, not written again
    int filesFailed = 0;  // not written; no file holds their names
    int records = 0;      // rows in the files written
    QString error;        // the first file that could not be written, and why
    struct File
    {
        QString path;
        qint64 size = 0;   // bytes
        quint64 xxh64 = 0; // XXH64 (seed 0) of the bytes meant for it
    };
    QVector<File> files; // each file written, in order
};

// Writes the records of `download` into `targetDir`, one file per dataset;
// with `incomplete` under "_incomplete" names.
Written write(const RecordDownload& download, const QString& targetDir, const QString& projectName,
              bool incomplete);

} // namespace DatasetFiles
