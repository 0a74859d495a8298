#include "cards/importledger.h"

#include "base/apppaths.h"
#include "cards/ledgerdatabase.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
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

const char* const Columns = "card_uuid, card_label, card_root, relative_path, size, modified, "
                            "xxh64, copy_path, copied_at, run_id";

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

ImportLedger::ImportLedger(const QString& databasePath)
    : db(std::make_unique<LedgerDatabase>(
          databasePath, QStringLiteral("Import ledger"),
          QVector<LedgerDatabase::Table>{{"copies", Columns}},
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
            QStringLiteral("INSERT INTO copies (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                .arg(QLatin1String(Columns))) &&
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
                                  .arg(QLatin1String(Columns)));
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
                      .arg(QLatin1String(Columns));
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
