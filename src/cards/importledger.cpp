#include "cards/importledger.h"

#include "base/apppaths.h"
#include "cards/ledgerdatabase.h"
#include "cards/runlock.h"
#include "cards/verifiedcopy.h"
#include "cards/volumes.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cstdlib>

namespace {

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

// The columns of the first ledgers: a table of that name without them is not ours.
const char* const FirstColumns = "card_uuid, card_label, card_root, relative_path, size, "
                                 "modified, xxh64, copy_path, copied_at, run_id";

// Every column a row is read and written with.
QString columns()
{
    return QLatin1String(FirstColumns) + QLatin1String(", fingerprint, copy_modified");
}

// Added to older ledgers when opened; their rows have neither and prove nothing.
// `pending` holds the tag (RunLock) of the program whose copy had not taken
// its name yet when the row was written; empty once it has.
const QVector<const char*> AddedColumns = {"fingerprint TEXT NOT NULL DEFAULT ''",
                                           "copy_modified TEXT NOT NULL DEFAULT ''",
                                           "pending TEXT NOT NULL DEFAULT ''"};

// Rows that prove a copy: never one whose copy had not taken its name.
const char* const Confirmed = " AND pending = ''";

// Never NULL: an unknown UUID or label is stored as empty text.
QString notNull(const QString& text)
{
    return text.isNull() ? QStringLiteral("") : text;
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
        entry.modified = LedgerDatabase::timeFrom(query.value(5).toString());
        entry.xxh64 = query.value(6).toString().toULongLong(nullptr, 16);
        entry.copyPath = query.value(7).toString();
        entry.copiedAt = LedgerDatabase::timeFrom(query.value(8).toString());
        entry.runId = query.value(9).toString();
        const QString fingerprint = query.value(10).toString();
        entry.hasFingerprint = !fingerprint.isEmpty();
        entry.fingerprint = fingerprint.toULongLong(nullptr, 16);
        const QString copyModified = query.value(11).toString();
        if (!copyModified.isEmpty())
            entry.copyModified = LedgerDatabase::timeFrom(copyModified);
        rows << entry;
    }
    return rows;
}

} // namespace

CardIdentity CardIdentity::of(const QString& cardRoot)
{
    CardIdentity card;
    const QFileInfo root(cardRoot);
    card.rootPath = root.canonicalFilePath();
    if (card.rootPath.isEmpty())
        card.rootPath = QDir::cleanPath(root.absoluteFilePath());
    // A folder inside a volume, or one mounted on its own, is not the volume:
    // it is known by its path.
    const VolumeInfo volume = Volumes::volumeForPath(card.rootPath);
    if (volume.valid && volume.isFileSystemRoot() &&
        QDir(volume.rootPath).canonicalPath() == card.rootPath) {
        card.label = volume.name;
        card.uuid = volume.fileSystemId;
    }
    return card;
}

bool CardIdentity::sameCard(const CardIdentity& other) const
{
    if (!uuid.isEmpty() && !other.uuid.isEmpty())
        return uuid == other.uuid;
    return rootPath == other.rootPath;
}

CopyProof::CopyProof(const QString& cardFile, Depth depth) : cardFile(cardFile), depth(depth) {}

bool CopyProof::sameTime(const QDateTime& recorded, const QDateTime& now)
{
    const qint64 a = recorded.toMSecsSinceEpoch();
    const qint64 b = now.toMSecsSinceEpoch();
    return a == b || (a % 1000 == 0 && a / 1000 == b / 1000);
}

bool CopyProof::zoneShifted(const QDateTime& recorded, const QDateTime& now)
{
    const qint64 seconds = (now.toMSecsSinceEpoch() - recorded.toMSecsSinceEpoch()) / 1000;
    return seconds != 0 && seconds % 3600 == 0 && std::abs(seconds) <= MaxZoneShiftHours * 3600;
}

QString CopyProof::whyNot(const LedgerEntry& row)
{
    if (!row.hasFingerprint || !row.copyModified.isValid())
        return QStringLiteral("recorded before fingerprints were kept");
    const auto same = [this](const QDateTime& recorded, const QDateTime& now) {
        return sameTime(recorded, now) || (zoneShifts && zoneShifted(recorded, now));
    };
    const QFileInfo file(cardFile);
    if (file.size() != row.size || !same(row.modified, file.lastModified()))
        return QStringLiteral("it changed since the import");
    const QFileInfo copy(row.copyPath);
    if (!copy.isFile() || copy.isSymLink())
        return QStringLiteral("its copy is gone");
    if (copy.size() != row.size || !same(row.copyModified, copy.lastModified()))
        return QStringLiteral("its copy changed since the import");
    if (fingerprintRead == 0)
        fingerprintRead =
            VerifiedCopy::fingerprintFile(cardFile, &fingerprint, &readError) ? 1 : -1;
    if (fingerprintRead < 0)
        return QStringLiteral("it cannot be read: %1").arg(readError);
    if (fingerprint != row.fingerprint)
        return QStringLiteral("its content changed since the import");
    if (depth == Depth::Fingerprint)
        return QString();
    if (hashRead == 0)
        hashRead = VerifiedCopy::hashFile(cardFile, &hash, &readError) ? 1 : -1;
    if (hashRead < 0)
        return QStringLiteral("it cannot be read: %1").arg(readError);
    if (hash != row.xxh64)
        return QStringLiteral("its content changed since the import (read in full)");
    quint64 copyHash = 0;
    QString error;
    if (!VerifiedCopy::hashFile(row.copyPath, &copyHash, &error))
        return QStringLiteral("its copy cannot be read: %1").arg(error);
    if (copyHash != row.xxh64)
        return QStringLiteral("its copy's content differs from the card's");
    return QString();
}

QString ImportLedger::defaultPath()
{
    return dataDirPath() + QStringLiteral("/imports.sqlite");
}

ImportLedger::ImportLedger(const QString& databasePath)
    : db(std::make_unique<LedgerDatabase>(
          databasePath, QStringLiteral("Import ledger"),
          QVector<LedgerDatabase::Table>{{"copies", FirstColumns, AddedColumns}},
          QVector<const char*>{
              Schema, "CREATE INDEX IF NOT EXISTS copies_by_file ON copies (relative_path)"}))
{
}

ImportLedger::~ImportLedger() = default;

QString ImportLedger::databasePath() const
{
    return db->path();
}

bool ImportLedger::record(const LedgerEntry& entry)
{
    return insert(entry, QString(), nullptr);
}

bool ImportLedger::insert(const LedgerEntry& entry, const QString& pending, qint64* id)
{
    QSqlDatabase database = db->database();
    QSqlQuery query(database);
    const bool recorded =
        database.isOpen() &&
        query.prepare(
            QStringLiteral("INSERT INTO copies (%1, pending) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                           "?, ?, ?)")
                .arg(columns())) &&
        [&] {
            query.addBindValue(notNull(entry.card.uuid));
            query.addBindValue(notNull(entry.card.label));
            query.addBindValue(notNull(entry.card.rootPath));
            query.addBindValue(notNull(entry.relativePath));
            query.addBindValue(entry.size);
            query.addBindValue(LedgerDatabase::timeText(entry.modified));
            query.addBindValue(QStringLiteral("%1").arg(entry.xxh64, 16, 16, QLatin1Char('0')));
            query.addBindValue(notNull(entry.copyPath));
            query.addBindValue(LedgerDatabase::timeText(entry.copiedAt));
            query.addBindValue(notNull(entry.runId));
            query.addBindValue(entry.hasFingerprint ? VerifiedCopy::hashText(entry.fingerprint)
                                                    : QStringLiteral(""));
            query.addBindValue(entry.copyModified.isValid()
                                   ? LedgerDatabase::timeText(entry.copyModified)
                                   : QStringLiteral(""));
            query.addBindValue(notNull(pending));
            return query.exec(); // committed on return, or with its batch
        }();
    if (!recorded)
        db->warn(QStringLiteral("cannot record %1: %2").arg(entry.copyPath, db->failure(query)));
    else if (id)
        *id = query.lastInsertId().toLongLong();
    return recorded;
}

bool ImportLedger::beginBatch()
{
    return execute(QStringLiteral("BEGIN IMMEDIATE"), {});
}

bool ImportLedger::commitBatch()
{
    if (execute(QStringLiteral("COMMIT"), {}))
        return true;
    execute(QStringLiteral("ROLLBACK"), {});
    return false;
}

bool ImportLedger::execute(const QString& sql, const QVariantList& values, int* changed)
{
    QSqlDatabase database = db->database();
    QSqlQuery query(database);
    bool done = database.isOpen() && query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    done = done && query.exec();
    if (!done)
        db->warn(db->failure(query));
    else if (changed)
        *changed = query.numRowsAffected();
    return done;
}

bool ImportLedger::recordPending(const LedgerEntry& entry, qint64* id)
{
    if (*id < 0) {
        const QString tag = RunLock::tag();
        // Without a run lock the row is taken for a killed run's at once.
        return insert(entry, tag.isEmpty() ? QStringLiteral("-") : tag, id);
    }
    return execute(QStringLiteral("UPDATE copies SET copy_path = ? WHERE id = ? AND pending <> ''"),
                   {notNull(entry.copyPath), *id});
}

bool ImportLedger::confirm(qint64 id, const LedgerEntry& entry)
{
    int changed = 0;
    return execute(QStringLiteral("UPDATE copies SET pending = '', copy_path = ?, copied_at = ?, "
                                  "copy_modified = ? WHERE id = ? AND pending <> ''"),
                   {notNull(entry.copyPath), notNull(LedgerDatabase::timeText(entry.copiedAt)),
                    notNull(LedgerDatabase::timeText(entry.copyModified)), id},
                   &changed) &&
           changed == 1;
}

bool ImportLedger::dropPending(qint64 id)
{
    return execute(QStringLiteral("DELETE FROM copies WHERE id = ? AND pending <> ''"), {id});
}

int ImportLedger::settlePending(const QString& folder)
{
    QSqlDatabase database = db->database();
    QSqlQuery query(database);
    const QString prefix = QDir::cleanPath(folder) + QLatin1Char('/');
    bool read = database.isOpen() &&
                query.prepare(QStringLiteral("SELECT id, pending, %1 FROM copies WHERE pending <> "
                                             "'' AND substr(copy_path, 1, ?) = ?")
                                  .arg(columns()));
    if (read) {
        query.addBindValue(prefix.toUcs4().size());
        query.addBindValue(prefix);
        read = query.exec();
    }
    if (!read) {
        db->warn(QStringLiteral("cannot read: %1").arg(db->failure(query)));
        return -1;
    }
    struct Row
    {
        qint64 id;
        QString pending;
    };
    QVector<Row> ids;
    while (query.next())
        ids.append({query.value(0).toLongLong(), query.value(1).toString()});
    query.finish();
    int confirmed = 0;
    for (const Row& row : qAsConst(ids)) {
        if (RunLock::alive(row.pending))
            continue;
        QSqlQuery one(database);
        one.prepare(QStringLiteral("SELECT %1 FROM copies WHERE id = ?").arg(columns()));
        one.addBindValue(row.id);
        const QList<LedgerEntry> rows = one.exec() ? readRows(one) : QList<LedgerEntry>();
        if (rows.isEmpty())
            continue;
        LedgerEntry entry = rows.first();
        // Its copy took its name when the file there holds its bytes.
        const QFileInfo copy(entry.copyPath);
        quint64 hash = 0;
        if (copy.isFile() && !copy.isSymLink() && copy.size() == entry.size &&
            VerifiedCopy::hashFile(entry.copyPath, &hash) && hash == entry.xxh64) {
            entry.copyModified = copy.lastModified().toUTC();
            if (confirm(row.id, entry))
                ++confirmed;
        } else {
            dropPending(row.id);
        }
    }
    return confirmed;
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

QList<LedgerEntry> ImportLedger::copiesIn(const QString& folder, bool* ok) const
{
    QSqlDatabase database = db->database();
    QSqlQuery query(database);
    // A prefix compared as text: LIKE would take '_' and '%' in names as patterns.
    const QString prefix = QDir::cleanPath(folder) + QLatin1Char('/');
    bool read = database.isOpen() &&
                query.prepare(QStringLiteral("SELECT %1 FROM copies WHERE substr(copy_path, 1, ?) "
                                             "= ?%2 ORDER BY id")
                                  .arg(columns(), QLatin1String(Confirmed)));
    if (read) {
        query.addBindValue(prefix.toUcs4().size()); // SQLite counts characters
        query.addBindValue(prefix);
        read = query.exec();
    }
    if (ok)
        *ok = read;
    if (!read) {
        db->warn(QStringLiteral("cannot read: %1").arg(db->failure(query)));
        return {};
    }
    return readRows(query);
}

QList<LedgerEntry> ImportLedger::select(const CardIdentity& card, const QString* relativePath) const
{
    QSqlDatabase database = db->database();
    QSqlQuery query(database);
    // Candidates by either key; sameCard decides.
    QString sql = QStringLiteral("SELECT %1 FROM copies WHERE (card_root = ? OR (card_uuid <> '' "
                                 "AND card_uuid = ?))%2")
                      .arg(columns(), QLatin1String(Confirmed));
    if (relativePath)
        sql += QStringLiteral(" AND relative_path = ?");
    sql += QStringLiteral(" ORDER BY id");
    QList<LedgerEntry> rows;
    bool read = database.isOpen() && query.prepare(sql);
    if (read) {
        query.addBindValue(notNull(card.rootPath));
        query.addBindValue(notNull(card.uuid));
        if (relativePath)
            query.addBindValue(notNull(*relativePath));
        read = query.exec();
    }
    if (!read) {
        db->warn(QStringLiteral("cannot read: %1").arg(db->failure(query)));
        return {};
    }
    QList<LedgerEntry> same;
    for (const LedgerEntry& row : readRows(query))
        if (row.card.sameCard(card))
            same << row;
    return same;
}
