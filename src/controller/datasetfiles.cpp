#include "controller/datasetfiles.h"

#include "cards/exclusivefile.h"
#include "link/datarecord.h"
#include "link/recorddownload.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <ctime>

namespace DatasetFiles {

namespace {

const QString Extension = QStringLiteral(".csv");

// One dataset's file: its content is built in memory and written in one go.
struct PendingFile
{
    QString name; // before a number is added
    QByteArray content;
    int records = 0;
};

class Writer
{
public:
    Writer(const QString& dir, bool incomplete) : dir(dir), incomplete(incomplete) {}

    void begin(const QString& name)
    {
        finish();
        file = PendingFile();
        file.name = incomplete ? incompleteName(name) : name;
        file.content = DataRecord::csvHeader().toLatin1();
        open = true;
    }
    QByteArray& content() { return file.content; }
    void addRecord() { ++file.records; }

    void finish()
    {
        if (!open)
            return;
        open = false;
        for (int n = 1;; ++n) {
            const QString name = numberedName(file.name, n);
            if (taken.contains(name))
                continue;
            QString error;
            const ExclusiveFile::Outcome written =
                ExclusiveFile::write(QDir(dir).filePath(name), file.content, &error);
            if (written == ExclusiveFile::AlreadyExists)
                continue; // an earlier export's file: never replaced
            taken.insert(name);
            if (written == ExclusiveFile::Created) {
                ++outcome.filesWritten;
                outcome.records += file.records;
                qInfo() << "Data: Wrote" << name << "with" << file.records << "records";
            } else {
                ++outcome.filesFailed;
                if (outcome.error.isEmpty())
                    outcome.error = error;
                qWarning() << "Data: Could not write" << name << error;
            }
            break;
        }
        file = PendingFile();
    }

    Outcome outcome;

private:
    QString dir;
    bool incomplete;
    QSet<QString> taken;
    PendingFile file;
    bool open = false;
};

} // namespace

QString fileName(const QDateTime& datasetStart, const QString& projectName)
{
    const QString stamp = datasetStart.toString(QStringLiteral("yyyyMMdd-hhmm00"));
    if (projectName.isEmpty())
        return QStringLiteral("vazizidadu_%1.csv").arg(stamp);
    return QStringLiteral("vazizidadu_%1_%2.csv").arg(projectName, stamp);
}

QString withoutStartFileName(const QString& projectName)
{
    const QString prefix = projectName.isEmpty()
                               ? QStringLiteral("vazizidadu_")
                               : QStringLiteral("vazizidadu_%1_").arg(projectName);
    return prefix + QStringLiteral("without-start.csv");
}

QString incompleteName(const QString& name)
{
    const QString stem = name.endsWith(Extension) ? name.chopped(Extension.size()) : name;
    return stem + QStringLiteral("_incomplete") + Extension;
}

QString numberedName(const QString& name, int n)
{
    if (n <= 1)
        return name;
    const QString stem = name.endsWith(Extension) ? name.chopped(Extension.size()) : name;
    // One substitution for all parts: a "%2" in a project name stays as it is.
    return QStringLiteral("%1-%2%3").arg(stem, QString::number(n), name.mid(stem.size()));
}

Outcome write(const RecordDownload& download, const QString& targetDir, const QString& projectName,
              bool incomplete)
{
#ifndef Q_OS_WIN
    tzset(); // the rows' local times follow the zone in force now
#else
    _tzset();
#endif
    Writer writer(targetDir, incomplete);
    bool inDataset = false;
    bool withoutStartOpen = false;
    quint32 startTime = 0;
    qint32 baseNumber = 0;
    for (int i = 0; i < download.count(); ++i) {
        DataRecord record(download.line(i));
        if (record.isStart()) {
            inDataset = true;
            startTime = static_cast<quint32>(record.Timestamp);
            baseNumber = record.Number;
            writer.begin(fileName(record.dateTime(), projectName));
            continue;
        }
        if (!inDataset) {
            // No dataset can take it; only an incomplete download has such
            // records, and they are kept as they came, without a time.
            if (!withoutStartOpen) {
                writer.begin(withoutStartFileName(projectName));
                withoutStartOpen = true;
            }
            QByteArray row;
            record.appendCsvRow(row);
            // Number, Id, an empty date, the 16-bit time as sent, an empty runtime.
            QList<QByteArray> columns = row.split(',');
            columns[2].clear();
            columns[3] = QByteArray::number(quint32(record.Timestamp) & 0xFFFFu);
            columns[4].clear();
            writer.content() += columns.join(',');
            writer.addRecord();
            continue;
        }
        record.setStartTime(startTime);
        record.Number -= baseNumber;
        record.appendCsvRow(writer.content());
        writer.addRecord();
    }
    writer.finish();
    return writer.outcome;
}

} // namespace DatasetFiles
