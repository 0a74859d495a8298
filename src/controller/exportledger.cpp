#include "controller/exportledger.h"

#include "cards/importledger.h"
#include "cards/ledgerdatabase.h"
#include "cards/verifiedcopy.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const char* const ExportsSchema = "CREATE TABLE IF NOT EXISTS exports ("
                                  " id INTEGER PRIMARY KEY,"
                                  " unit TEXT NOT NULL,"
                                  " announced INTEGER NOT NULL,"
                                  " written INTEGER NOT NULL,"
                                  " exported_at TEXT NOT NULL)";
const char* const ExportColumns = "id, unit, announced, written, exported_at";

const char* const FilesSchema = "CREATE TABLE IF NOT EXISTS export_files ("
                                " export_id INTEGER NOT NULL REFERENCES exports (id),"
                                " path TEXT NOT NULL,"
                                " size INTEGER NOT NULL,"
                                " xxh64 TEXT NOT NULL)";
const char* const FileColumns = "export_id, path, size, xxh64";

// A table of its own rather than a column: databases made before it simply
// gain it, and older programs never see it.
const char* const SpentSchema = "CREATE TABLE IF NOT EXISTS spent_exports ("
                                " export_id INTEGER PRIMARY KEY REFERENCES exports (id),"
                                " spent_at TEXT NOT NULL)";
const char* const SpentColumns = "export_id, spent_at";

QString notNull(const QString& text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

} // namespace

QString ExportLedger::defaultPath()
{
    return ImportLedger::defaultPath();
}

ExportLedger::ExportLedger(const QString& databasePath)
    : db(std::make_unique<LedgerDatabase>(
          databasePath, QStringLiteral("Export records"),
          QVector<LedgerDatabase::Table>{{"exports", ExportColumns},
                                         {"export_files", FileColumns},
                                         {"spent_exports", SpentColumns}},
          QVector<const char*>{
              ExportsSchema, FilesSchema, SpentSchema,
              "CREATE INDEX IF NOT EXISTS exports_by_unit ON exports (unit)",
              "CREATE INDEX IF NOT EXISTS export_files_by_export ON export_files (export_id)"}))
{
}

ExportLedger::~ExportLedger() = default;

bool ExportLedger::record(const ExportEntry& entry)
{
    QSqlDatabase database = db->database();
    QSqlQuery query(database);
    // The export and its files together, or nothing.
    bool recorded = database.isOpen() && database.transaction();
    if (recorded) {
        recorded = query.prepare(
                       QStringLiteral("INSERT INTO exports (unit, announced, written, exported_at) "
                                      "VALUES (?, ?, ?, ?)")) &&
                   [&] {
                       query.addBindValue(notNull(entry.unit));
                       query.addBindValue(entry.announced);
                       query.addBindValue(entry.written);
                       query.addBindValue(LedgerDatabase::timeText(entry.exportedAt));
                       return query.exec();
                   }();
        const QVariant id = query.lastInsertId();
        for (const ExportedFile& file : entry.files) {
            if (!recorded)
                break;
            recorded = query.prepare(
                           QStringLiteral("INSERT INTO export_files (export_id, path, size, xxh64) "
                                          "VALUES (?, ?, ?, ?)")) &&
                       [&] {
                           query.addBindValue(id);
                           query.addBindValue(notNull(file.path));
                           query.addBindValue(file.size);
                           query.addBindValue(VerifiedCopy::hashText(file.xxh64));
                           return query.exec();
                       }();
        }
        if (recorded)
            recorded = database.commit();
        if (!recorded) {
            const QSqlError error =
                query.lastError().isValid() ? query.lastError() : database.lastError();
            database.rollback();
            db->warn(
                QStringLiteral("cannot record the export of %1: %2").arg(entry.unit, error.text()));
            return false;
        }
        return true;
    }
    db->warn(QStringLiteral("cannot record the export of %1: %2")
                 .arg(entry.unit, database.lastError().text()));
    return false;
}

QList<ExportEntry> ExportLedger::exportsOf(const QString& unit) const
{
    QSqlDatabase database = db->database();
    QSqlQuery query(database);
    query.setForwardOnly(true);
    bool read = database.isOpen() &&
                query.prepare(QStringLiteral(
                    "SELECT e.id, e.announced, e.written, e.exported_at, f.path, f.size, f.xxh64, "
                    "s.spent_at FROM exports e LEFT JOIN export_files f ON f.export_id = e.id "
                    "LEFT JOIN spent_exports s ON s.export_id = e.id "
                    "WHERE e.unit = ? ORDER BY e.id DESC, f.rowid"));
    if (read) {
        query.addBindValue(notNull(unit));
        read = query.exec();
    }
    if (!read) {
        db->warn(QStringLiteral("cannot read: %1").arg(db->failure(query)));
        return {};
    }
    QList<ExportEntry> exports;
    qint64 lastId = -1;
    while (query.next()) {
        const qint64 id = query.value(0).toLongLong();
        if (id != lastId) {
            ExportEntry entry;
            entry.unit = unit;
            entry.announced = query.value(1).toLongLong();
            entry.written = query.value(2).toLongLong();
            entry.exportedAt = LedgerDatabase::timeFrom(query.value(3).toString());
            if (!query.isNull(7))
                entry.spentAt = LedgerDatabase::timeFrom(query.value(7).toString());
            exports << entry;
            lastId = id;
        }
        if (query.isNull(4))
            continue;
        ExportedFile file;
        file.path = query.value(4).toString();
        file.size = query.value(5).toLongLong();
        file.xxh64 = query.value(6).toString().toULongLong(nullptr, 16);
        exports.last().files << file;
    }
    return exports;
}

bool ExportLedger::spend(const QString& unit, const QDateTime& erasedAt)
{
    QSqlDatabase database = db->database();
    QSqlQuery query(database);
    const bool spent =
        database.isOpen() &&
        query.prepare(QStringLiteral("INSERT INTO spent_exports (export_id, spent_at) SELECT id, "
                                     "? FROM exports WHERE unit = ? AND id NOT IN (SELECT "
                                     "export_id FROM spent_exports)")) &&
        [&] {
            query.addBindValue(LedgerDatabase::timeText(erasedAt));
            query.addBindValue(notNull(unit));
            return query.exec();
        }();
    if (!spent)
        db->warn(QStringLiteral("cannot record the erase of %1: %2").arg(unit, db->failure(query)));
    return spent;
}

QString ExportLedger::doubt(const ExportEntry& entry, qint64 records)
{
    const QString when = entry.exportedAt.toLocalTime().toString(Qt::ISODate);
    if (entry.spentAt.isValid())
        return QStringLiteral("the export of %1 was spent by the erase of %2; records logged "
                              "since need an export of their own")
            .arg(when, entry.spentAt.toLocalTime().toString(Qt::ISODate));
    if (entry.announced != records || entry.written != records)
        return QStringLiteral("the export of %1 saved %2 records; the unit holds %3 now")
            .arg(when, QString::number(entry.written), QString::number(records));
    if (entry.files.isEmpty())
        return QStringLiteral("the export of %1 recorded no file").arg(when);
    for (const ExportedFile& file : entry.files) {
        const QFileInfo info(file.path);
        if (!info.exists())
            return QStringLiteral("%1 of the export of %2 is missing").arg(file.path, when);
        if (!info.isFile() || info.size() != file.size)
            return QStringLiteral("%1 of the export of %2 has %3 bytes, not the %4 written")
                .arg(file.path, when, QString::number(info.isFile() ? info.size() : -1),
                     QString::number(file.size));
        // A change in place keeps the size.
        quint64 xxh64 = 0;
        QString error;
        if (!VerifiedCopy::hashFile(file.path, &xxh64, &error))
            return QStringLiteral("%1 of the export of %2 cannot be read: %3")
                .arg(file.path, when, error);
        if (xxh64 != file.xxh64)
            return QStringLiteral("%1 of the export of %2 has changed since (XXH64 %3, not the "
                                  "%4 written)")
                .arg(file.path, when, VerifiedCopy::hashText(xxh64),
                     VerifiedCopy::hashText(file.xxh64));
    }
    return {};
}
