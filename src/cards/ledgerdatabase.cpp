#include "cards/ledgerdatabase.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <algorithm>

namespace {

// How long a writer waits for the other program's transaction to end.
constexpr int BusyTimeoutMs = 10 * 1000;
// How long opening tries again while the file is busy being set up.
constexpr int OpenWaitMs = 15 * 1000;

// SQLite's result codes for a file that is not, or no longer, a database.
bool damaged(const QSqlError& error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("11") || code == QLatin1String("26");
}

// SQLite's result codes for a file another connection holds (SQLITE_BUSY,
// SQLITE_LOCKED): worth another try.
bool busy(const QSqlError& error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6");
}

QSqlError damage(const QString& text)
{
    return QSqlError(text, {}, QSqlError::StatementError, QStringLiteral("11"));
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
    // A row lost to a power cut only makes a wipe or an erase refuse: the
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

bool hasColumn(QSqlQuery& query, const char* table, const QString& column)
{
    if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(QLatin1String(table))))
        return false;
    while (query.next())
        if (query.value(1).toString() == column)
            return true;
    return false;
}

// Adds the columns a table made by an earlier version lacks. Another program
// may add one at the same moment: only a column still missing afterwards is
// a failure.
bool addColumns(QSqlQuery& query, const LedgerDatabase::Table& table, QSqlError* error)
{
    for (const char* definition : table.addedColumns) {
        const QString column = QString::fromLatin1(definition).section(QLatin1Char(' '), 0, 0);
        if (hasColumn(query, table.name, column))
            continue;
        if (!query.exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2")
                            .arg(QLatin1String(table.name), QLatin1String(definition))) &&
            !hasColumn(query, table.name, column)) {
            *error = query.lastError();
            return false;
        }
    }
    return true;
}

// Ready for rows: the tables exist and the file reads as a sound database.
// The error of the first step that failed otherwise.
bool prepare(QSqlDatabase db, const QVector<LedgerDatabase::Table>& tables,
             const QVector<const char*>& schema, QSqlError* error)
{
    if (!db.isOpen()) {
        *error = db.lastError();
        return false;
    }
    // Read-only checks first: a file that is not ours is put aside as it was.
    QSqlQuery query(db);
    for (const LedgerDatabase::Table& table : tables) {
        if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND "
                                       "name = '%1'")
                            .arg(QLatin1String(table.name)))) {
            *error = query.lastError();
            return false;
        }
        // A table of that name from elsewhere lacks the columns: not ours.
        if (query.next() &&
            !query.exec(QStringLiteral("SELECT %1 FROM %2 LIMIT 0")
                            .arg(QLatin1String(table.columns), QLatin1String(table.name)))) {
            *error = damage(query.lastError().databaseText());
            return false;
        }
    }
    if (!query.exec(QStringLiteral("PRAGMA quick_check")) || !query.next()) {
        *error = query.lastError();
        return false;
    }
    if (query.value(0).toString() != QLatin1String("ok")) {
        *error = damage(QStringLiteral("quick_check: ") + query.value(0).toString());
        return false;
    }
    // Readers do not wait for the writer; the mode stays with the file.
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL"))) {
        *error = query.lastError();
        return false;
    }
    for (const char* statement : schema) {
        if (!query.exec(QLatin1String(statement))) {
            *error = query.lastError();
            return false;
        }
    }
    for (const LedgerDatabase::Table& table : tables)
        if (!addColumns(query, table, error))
            return false;
    return true;
}

} // namespace

LedgerDatabase::LedgerDatabase(const QString& path, const QString& label,
                               const QVector<Table>& tables, const QVector<const char*>& schema)
    : m_path(path), m_label(label)
{
    static QAtomicInteger<quint64> objects;
    m_connectionName = QStringLiteral("LedgerDatabase-%1").arg(objects.fetchAndAddRelaxed(1));

    QDir().mkpath(QFileInfo(path).absolutePath());
    QSqlError error;
    // Several connections opening a new file at once (the three card
    // workers) may find it locked while another sets it up, at once on a slow
    // file system, whatever the busy time-out: each tries again, with its
    // schema, within a bounded wait.
    const QDeadlineTimer deadline(OpenWaitMs);
    for (int attempt = 0;; ++attempt) {
        if (prepare(openConnection(m_connectionName, path), tables, schema, &error))
            return;
        closeConnection(m_connectionName);
        if (!busy(error) || deadline.hasExpired())
            break;
        QThread::msleep(std::min(20 * (attempt + 1), 250));
    }
    if (!damaged(error)) {
        warn(error.text());
        openConnection(m_connectionName, path); // tried again at each call
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
    qWarning().noquote() << QStringLiteral("%1 %2 was damaged (%3); it was moved to %4 and a new "
                                           "one started.")
                                .arg(m_label, path, error.text(), aside);
    if (!prepare(openConnection(m_connectionName, path), tables, schema, &error))
        warn(error.text());
}

LedgerDatabase::~LedgerDatabase()
{
    closeConnection(m_connectionName);
}

QSqlDatabase LedgerDatabase::database() const
{
    return QSqlDatabase::database(m_connectionName);
}

void LedgerDatabase::warn(const QString& what) const
{
    qWarning().noquote() << QStringLiteral("%1 %2: %3").arg(m_label, m_path, what);
}

QString LedgerDatabase::failure(const QSqlQuery& query) const
{
    const QSqlDatabase connection = database();
    return connection.isOpen() ? query.lastError().text() : connection.lastError().text();
}

QString LedgerDatabase::timeText(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime LedgerDatabase::timeFrom(const QString& text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    time.setTimeSpec(Qt::UTC);
    return time;
}
