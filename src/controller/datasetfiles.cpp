#include "controller/datasetfiles.h"

#include "cards/exclusivefile.h"
#include "cards/runlock.h"
#include "link/datarecord.h"
#include "link/recorddownload.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryFile>
#include <QThread>
#include <QtConcurrent>

#include <xxhash.h>

#include <ctime>
#include <functional>

namespace DatasetFiles {

namespace {

const QString Extension = QStringLiteral(".csv");

// A stretch of the download that becomes one file: a dataset from its start
// record on, or the records before the first start record.
struct Stretch
{
    int first = 0;
    int end = 0;
    bool started = true;
};

// One file's name (before any number) and content, made in memory.
struct Built
{
    QString name;
    QByteArray content;
    int records = 0;
    quint64 xxh64 = 0; // of the content
};

Built build(const RecordDownload& download, const Stretch& stretch, const QString& projectName,
            bool incomplete)
{
    Built file;
    file.content = DataRecord::csvHeader().toLatin1();
    file.content.reserve(file.content.size() + (stretch.end - stretch.first) * 96);
    int i = stretch.first;
    if (stretch.started) {
        const DataRecord start(download.line(i++));
        file.name = fileName(start.dateTime(), projectName);
        const quint32 startTime = static_cast<quint32>(start.Timestamp);
        for (; i < stretch.end; ++i) {
            DataRecord record(download.line(i));
            record.setStartTime(startTime);
            record.Number -= start.Number;
            record.appendCsvRow(file.content);
        }
    } else {
        // Only an incomplete download has these; they are kept as they came,
        // without a time: Number, Id, no date, the 16-bit time as sent, no runtime.
        file.name = withoutStartFileName(projectName);
        for (; i < stretch.end; ++i) {
            const DataRecord record(download.line(i));
            QByteArray row;
            record.appendCsvRow(row);
            QList<QByteArray> columns = row.split(',');
            columns[2].clear();
            columns[3] = QByteArray::number(quint32(record.Timestamp) & 0xFFFFu);
            columns[4].clear();
            file.content += columns.join(',');
        }
    }
    file.records = stretch.end - stretch.first - (stretch.started ? 1 : 0);
    if (incomplete)
        file.name = incompleteName(file.name);
    file.xxh64 = XXH64(file.content.constData(), size_t(file.content.size()), 0);
    return file;
}

bool holdsExactly(const QString& path, const QByteArray& content)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink() || info.size() != content.size())
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.readAll() == content;
}

// Gives a made file the first free name and writes it: never over a file of
// this export or an earlier one.
class Writer
{
public:
    // What a killed export left half-written in the folder goes first.
    explicit Writer(const QString& dir) : dir(dir)
    {
        for (const QString& removed : RunLock::removeStaleTemporaries(dir))
            qInfo() << "Data: removed" << removed << "left by a killed export";
    }

    void write(const Built& file)
    {
        for (int n = 1;; ++n) {
            const QString name = numberedName(file.name, n);
            if (taken.contains(name))
                continue;
            QString error;
            const QString path = QDir(dir).filePath(name);
            const ExclusiveFile::Outcome written = ExclusiveFile::write(path, file.content, &error);
            if (written == ExclusiveFile::AlreadyExists) {
                // An earlier export of the same records: kept as it is, not
                // written again under the next free name.
                if (holdsExactly(path, file.content)) {
                    taken.insert(name);
                    ++outcome.filesWritten;
                    ++outcome.filesKept;
                    outcome.records += file.records;
                    outcome.files.append({path, qint64(file.content.size()), file.xxh64});
                    qInfo() << "Data:" << name << "already holds these" << file.records
                            << "records; kept, not written again";
                    return;
                }
                continue; // another file: never replaced
            }
            taken.insert(name);
            if (written == ExclusiveFile::Created) {
                ++outcome.filesWritten;
                outcome.records += file.records;
                outcome.files.append({path, qint64(file.content.size()), file.xxh64});
                qInfo() << "Data: Wrote" << name << "with" << file.records << "records";
            } else {
                ++outcome.filesFailed;
                if (outcome.error.isEmpty())
                    outcome.error = error;
                qWarning() << "Data: Could not write" << name << error;
            }
            return;
        }
    }

    Written outcome;

private:
    QString dir;
    QSet<QString> taken;
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

Written write(const RecordDownload& download, const QString& targetDir, const QString& projectName,
              bool incomplete)
{
#ifndef Q_OS_WIN
    tzset(); // the rows' local times follow the zone in force now
#else
    _tzset();
#endif
    QVector<Stretch> stretches;
    const QVector<int>& starts = download.datasetStarts();
    if (download.count() > 0 && (starts.isEmpty() || starts.first() > 0))
        stretches.append({0, starts.isEmpty() ? download.count() : starts.first(), false});
    for (int k = 0; k < starts.size(); ++k)
        stretches.append({starts[k], k + 1 < starts.size() ? starts[k + 1] : download.count()});

    // The files are made side by side, a few at a time so that memory holds
    // no more than those, and written one after the other in their order.
    // The waiting thread takes part in the work, so a busy pool only slows it.
    Writer writer(targetDir);
    const std::function<Built(const Stretch&)> make = [&](const Stretch& stretch) {
        return build(download, stretch, projectName, incomplete);
    };
    const int batch = qMax(1, QThread::idealThreadCount());
    for (int from = 0; from < stretches.size(); from += batch) {
        const QVector<Built> files =
            QtConcurrent::blockingMapped<QVector<Built>>(stretches.mid(from, batch), make);
        for (const Built& file : files)
            writer.write(file);
    }
    return writer.outcome;
}

QString prepareFolder(const QString& targetDir, bool* created)
{
    *created = false;
    const QFileInfo folder(targetDir);
    if (folder.exists() && !folder.isDir())
        return QStringLiteral("%1 is not a folder").arg(targetDir);
    if (!folder.exists()) {
        if (!QDir().mkpath(targetDir))
            return QStringLiteral("Cannot create the folder %1").arg(targetDir);
        *created = true;
    }
    // Permissions alone do not tell: a read-only mount, a full quota.
    QTemporaryFile probe(QDir(targetDir).filePath(QStringLiteral(".qvk-write-check-XXXXXX")));
    if (!probe.open())
        return QStringLiteral("Cannot write in the folder %1: %2")
            .arg(targetDir, probe.errorString());
    return QString();
}

} // namespace DatasetFiles
