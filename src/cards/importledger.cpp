#include "cards/importledger.h"

#include "base/apppaths.h"
#include "cards/ledgerdatabase.h"
#include "cards/verifiedcopy.h"
#include "cards/volumes.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

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
const QVector<const char*> AddedColumns = {"fingerprint TEXT NOT NULL DEFAULT ''",
                                           "copy_modified TEXT NOT NULL DEFAULT ''"};

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

QString CopyProof::whyNot(const LedgerEntry& row)
{
    if (!row.hasFingerprint || !row.copyModified.isValid())
        return QStringLiteral("recorded before fingerprints were kept");
    const QFileInfo file(cardFile);
    if (file.size() != row.size || !sameTime(row.modified, file.lastModified()))
        return QStringLiteral("it changed since the import");
    const QFileInfo copy(row.copyPath);
    if (!copy.isFile() || copy.isSymLink())
        return QStringLiteral("its copy is gone");
    if (copy.size() != row.size || !sameTime(row.copyModified, copy.lastModified()))
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
    QSqlDatabase database = db->database();
    QSqlQuery query(database);
    const bool recorded =
        database.isOpen() &&
        query.prepare(
            QStringLiteral("INSERT INTO copies (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
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
            return query.exec(); // one statement, one transaction: committed on return
        }();
    if (!recorded)
        db->warn(QStringLiteral("cannot record %1: %2").arg(entry.copyPath, db->failure(query)));
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

QList<LedgerEntry> ImportLedger::copiesIn(const QString& folder, bool* ok) const
{
    QSqlDatabase database = db->database();
    QSqlQuery query(database);
    // A prefix compared as text: LIKE would take '_' and '%' in names as patterns.
    const QString prefix = QDir::cleanPath(folder) + QLatin1Char('/');
    bool read = database.isOpen() &&
                query.prepare(QStringLiteral("SELECT %1 FROM copies WHERE substr(copy_path, 1, ?) "
                                             "= ? ORDER BY id")
                                  .arg(columns()));
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
                                 "AND card_uuid = ?))")
                      .arg(columns());
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
