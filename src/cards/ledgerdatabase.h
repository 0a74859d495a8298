#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVector>

// One SQLite database that several record keepers share, each with tables of
// its own ("imports.sqlite": the import ledger's copies, the data exports).
// Each object opens a connection of its own when it is made and closes it
// when it goes: an object is used on the thread that made it.
//
// Opening checks the keeper's tables and the file: a missing database is
// created; one that is not, or no longer, a sound database (or holds a table
// of one of these names without its columns) is put aside, renamed and never
// deleted, with a warning, and a new one started. Warnings start with `label`
// and the database's path.
class LedgerDatabase
{
public:
    struct Table
    {
        const char* name;
        const char* columns; // those a table of that name must have
        // Columns that later versions added ("name TYPE ..."): a table made
        // before them gains them when it is opened.
        QVector<const char*> addedColumns = {};
    };

    // `schema`: the statements that create the tables and indexes when missing.
    LedgerDatabase(const QString& path, const QString& label, const QVector<Table>& tables,
                   const QVector<const char*>& schema);
    ~LedgerDatabase();
    LedgerDatabase(const LedgerDatabase&) = delete;
    LedgerDatabase& operator=(const LedgerDatabase&) = delete;

    // The object's connection; not open when the file could not be opened.
    QSqlDatabase database() const;
    QString path() const { return m_path; }
    // "<label> <path>: <what>" as a warning.
    void warn(const QString& what) const;
    // Why `query` failed: its own error, or the connection's when it never opened.
    QString failure(const QSqlQuery& query) const;

    // Times are kept as ISO 8601 text in UTC, with milliseconds.
    static QString timeText(const QDateTime& time);
    static QDateTime timeFrom(const QString& text);

private:
    QString m_path;
    QString m_label;
    QString m_connectionName;
};
