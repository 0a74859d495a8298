#include "cards/importledger.h"

#include "base/apppaths.h"

#include <QAtomicInteger>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QVariant>

namespace {

// How long a writer waits for the other program's transaction to end.
constexpr int BusyTimeoutMs = 10 * 1000;

// SQLite's result codes for a file that is not, or no longer, a database.
bool damaged(const QSqlError& error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("11") || code == QLatin1String("26");
}

const char* const Schema = "CREATE TABLE IF NOT EXISTS copies ("
                           " id INTEGER PRIMARY KEY,"
                           " card_uuid TEXT NOT NULL,"
                           " card_label TEXT NOT NULL,"
                           " card_root TEXT NOT NULL,"
                           " relative_path TEXT NOT NULL,"
                           " size INTEGER NOT NULL,"
                           " modified TEXT NOT NULL,"
                           " xxh64 TEXT NOT NULL,"
                           " copy_path TEXT NOT NULL,"
                           " copied_at TEXT NOT NULL,"
                           " run_id TEXT NOT NULL)";

const char* const Columns = "card_uuid, card_label, card_root, relative_path, size, modified, "
                            "xxh64, copy_path, copied_at, run_id";

// Never NULL: an unknown UUID or label is stored as empty text.
QString notNull(const QString& text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

QString timeText(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime timeFrom(const QString& text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    time.setTimeSpec(Qt::UTC);
    return time;
}

// The object's own connection, under its own name, so that objects on
// different threads never share one. It stays open for the object's life: the
// last connection to close checkpoints the log into the database, which is
// too slow to do for every row.
QSqlDatabase openConnection(const QString& name, const QString& path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    // A row lost to a power cut only makes the wipe refuse that file: the
    // write-ahead log need not reach the disk at every commit.
    if (db.open())
        QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    return db;
}

void closeConnection(const QString& name)
{
    QSqlDatabase::database(name, false).close();
    QSqlDatabase::removeDatabase(name);
}

// Ready for rows: the table exists and the file reads as a sound database.
// The error of the first step that failed otherwise.
bool prepare(QSqlDatabase db, QSqlError* error)
{
    if (!db.isOpen()) {
        *error = db.lastError();
        return false;
    }
    // Read-only checks first: a file that is not our ledger is put aside as it was.
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral(
            "SELECT name FROM sqlite_master WHERE type = 'table' AND name = 'copies'"))) {
        *error = query.lastError();
        return false;
    }
    // A table of that name from elsewhere lacks the columns: not our ledger.
    if (query.next() &&
        !query.exec(QStringLiteral("SELECT %1 FROM copies LIMIT 0").arg(QLatin1String(Columns)))) {
        *error = QSqlError(query.lastError().databaseText(), {}, QSqlError::StatementError,
                           QStringLiteral("11"));
        return false;
    }
    if (!query.exec(QStringLiteral("PRAGMA quick_check")) || !query.next()) {
        *error = query.lastError();
        return false;
    }
    if (query.value(0).toString() != QLatin1String("ok")) {
        *error = QSqlError(QStringLiteral("quick_check: ") + query.value(0).toString(), {},
                           QSqlError::StatementError, QStringLiteral("11"));
        return false;
    }
    // Readers do not wait for the writer; the mode stays with the file.
    for (const char* statement :
         {"PRAGMA journal_mode=WAL", Schema,
          "CREATE INDEX IF NOT EXISTS copies_by_file ON copies (relative_path)"}) {
        if (!query.exec(QLatin1String(statement))) {
            *error = query.lastError();
            return false;
        }
    }
    return true;
}

QList<LedgerEntry> readRows(QSqlQuery& query)
{
    QList<LedgerEntry> rows;
    while (query.next()) {
        LedgerEntry entry;
        entry.card.uuid = query.value(0).toString();
        entry.card.label = query.value(1).toString();
        entry.card.rootPath = query.value(2).toString();
        entry.relativePath = query.value(3).toString();
        entry.size = query.value(4).toLongLong();
        entry.modified = timeFrom(query.value(5).toString());
        entry.xxh64 = query.value(6).toString().toULongLong(nullptr, 16);
        entry.copyPath = query.value(7).toString();
        entry.copiedAt = timeFrom(query.value(8).toString());
        entry.runId = query.value(9).toString();
        rows << entry;
    }
    return rows;
}

// The file system UUID of the block device `device`, from the names that
// /dev/disk/by-uuid gives it; empty when it has none.
QString uuidOfDevice(const QString& device)
{
#ifdef Q_OS_LINUX
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return {};
    QDirIterator links(QStringLiteral("/dev/disk/by-uuid"), QDir::System | QDir::Files);
    while (links.hasNext()) {
        links.next();
        if (links.fileInfo().canonicalFilePath() == target)
            return links.fileName();
    }
#else
    Q_UNUSED(device)
#endif
    return {};
}

} // namespace

CardIdentity CardIdentity::of(const QString& cardRoot)
{
    CardIdentity card;
    const QFileInfo root(cardRoot);
    card.rootPath = root.canonicalFilePath();
    if (card.rootPath.isEmpty())
        card.rootPath = QDir::cleanPath(root.absoluteFilePath());
    // A folder inside a volume is not the volume: it is known by its path.
    const QStorageInfo volume(card.rootPath);
    if (volume.isValid() && QDir(volume.rootPath()).canonicalPath() == card.rootPath) {
        card.label = volume.name();
        card.uuid = uuidOfDevice(QString::fromLocal8Bit(volume.device()));
    }
    return card;
}

bool CardIdentity::sameCard(const CardIdentity& other) const
{
    if (!uuid.isEmpty() && !other.uuid.isEmpty())
        return uuid == other.uuid;
    return rootPath == other.rootPath;
}

QString ImportLedger::defaultPath()
{
    return dataDirPath() + QStringLiteral("/imports.sqlite");
}

ImportLedger::ImportLedger(const QString& databasePath) : path(databasePath)
{
    static QAtomicInteger<quint64> objects;
    connectionName = QStringLiteral("ImportLedger-%1").arg(objects.fetchAndAddRelaxed(1));

    QDir().mkpath(QFileInfo(path).absolutePath());
    QSqlError error;
    if (prepare(openConnection(connectionName, path), &error))
        return;
    closeConnection(connectionName);
    if (!damaged(error)) {
        qWarning().noquote() << QStringLiteral("Import ledger %1: %2").arg(path, error.text());
        openConnection(connectionName, path); // tried again at each call
        return;
    }
    // Put aside, never deleted: what it still holds may be read by hand.
    const QString aside =
        QStringLiteral("%1.damaged-%2")
            .arg(path,
                 QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmsszzz")));
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        if (QFileInfo::exists(path + suffix))
            QFile::rename(path + suffix, aside + suffix);
    qWarning().noquote() << QStringLiteral("Import ledger %1 was damaged (%2); it was moved to %3 "
                                           "and a new one started.")
                                .arg(path, error.text(), aside);
    if (!prepare(openConnection(connectionName, path), &error))
        qWarning().noquote() << QStringLiteral("Import ledger %1: %2").arg(path, error.text());
}

ImportLedger::~ImportLedger()
{
    closeConnection(connectionName);
}

QString ImportLedger::databasePath() const
{
    return path;
}

bool ImportLedger::record(const LedgerEntry& entry)
{
    QSqlDatabase db = QSqlDatabase::database(connectionName);
    QSqlQuery query(db);
    const bool recorded =
        db.isOpen() &&
        query.prepare(
            QStringLiteral("INSERT INTO copies (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                .arg(QLatin1String(Columns))) &&
        [&] {
            query.addBindValue(notNull(entry.card.uuid));
            query.addBindValue(notNull(entry.card.label));
            query.addBindValue(notNull(entry.card.rootPath));
            query.addBindValue(notNull(entry.relativePath));
            query.addBindValue(entry.size);
            query.addBindValue(timeText(entry.modified));
            query.addBindValue(QStringLiteral("%1").arg(entry.xxh64, 16, 16, QLatin1Char('0')));
            query.addBindValue(notNull(entry.copyPath));
            query.addBindValue(timeText(entry.copiedAt));
            query.addBindValue(notNull(entry.runId));
            return query.exec(); // one statement, one transaction: committed on return
        }();
    if (!recorded)
        qWarning().noquote() << QStringLiteral("Import ledger %1: cannot record %2: %3")
                                    .arg(path, entry.copyPath,
                                         db.isOpen() ? query.lastError().text()
                                                     : db.lastError().text());
    return recorded;
}

QList<LedgerEntry> ImportLedger::copiesOfCard(const CardIdentity& card) const
{
    return select(card, nullptr);
}

QList<LedgerEntry> ImportLedger::copiesOf(const CardIdentity& card,
                                          const QString& relativePath) const
{
    return select(card, &relativePath);
}

QList<LedgerEntry> ImportLedger::select(const CardIdentity& card, const QString* relativePath) const
{
    QSqlDatabase db = QSqlDatabase::database(connectionName);
    QSqlQuery query(db);
    // Candidates by either key; sameCard decides.
    QString sql = QStringLiteral("SELECT %1 FROM copies WHERE (card_root = ? OR (card_uuid <> '' "
                                 "AND card_uuid = ?))")
                      .arg(QLatin1String(Columns));
    if (relativePath)
        sql += QStringLiteral(" AND relative_path = ?");
    sql += QStringLiteral(" ORDER BY id");
    QList<LedgerEntry> rows;
    bool read = db.isOpen() && query.prepare(sql);
    if (read) {
        query.addBindValue(notNull(card.rootPath));
        query.addBindValue(notNull(card.uuid));
        if (relativePath)
            query.addBindValue(notNull(*relativePath));
        read = query.exec();
    }
    if (!read) {
        qWarning().noquote() << QStringLiteral("Import ledger %1: cannot read: %2")
                                    .arg(path, db.isOpen() ? query.lastError().text()
                                                           : db.lastError().text());
        return {};
    }
    QList<LedgerEntry> same;
    for (const LedgerEntry& row : readRows(query))
        if (row.card.sameCard(card))
            same << row;
    return same;
}
