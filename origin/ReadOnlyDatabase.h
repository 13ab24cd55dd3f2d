#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

// An SQLite file opened as evidence: read-only and immutable (URI "?mode=ro&immutable=1"),
// so SQLite takes no locks and never creates a journal, -wal or -shm file beside it.
// Files are opened with O_NOATIME where the kernel allows it.
class ReadOnlyDatabase
{
public:
    explicit ReadOnlyDatabase(const QByteArray& rawPath);
    ~ReadOnlyDatabase();
    ReadOnlyDatabase(const ReadOnlyDatabase&) = delete;
    ReadOnlyDatabase& operator=(const ReadOnlyDatabase&) = delete;

    // Prepares `sql` once for the life of the connection. False, with error() set, when the
    // file is not a database or a table or column is missing.
    bool prepare(const char* sql);
    // Runs the statement `sql` with `key` bound to ?1 and hands its first row to `row`. False
    // when there is no such row, or (with error() set) when the file is damaged.
    bool findRow(const char* sql, qint64 key, const std::function<void(sqlite3_stmt*)>& row);
    bool findRow(const char* sql, const QString& key, const std::function<void(sqlite3_stmt*)>& row);
    QString error() const { return m_error; }

    // Column values; nothing for NULL or a value of another kind (SQLite does not enforce types).
    static std::optional<QString> text(sqlite3_stmt* row, int column);
    // A text column that may hold bytes instead: bytes come back as lowercase hex.
    static std::optional<QString> textOrHex(sqlite3_stmt* row, int column);
    static std::optional<qint64> integer(sqlite3_stmt* row, int column);
    static std::optional<double> real(sqlite3_stmt* row, int column);

    // The "file:" URI for a path of any bytes.
    static QByteArray uriFor(const QByteArray& rawPath);

private:
    bool findRow(const char* sql, const std::function<void(sqlite3_stmt*)>& bind,
                 const std::function<void(sqlite3_stmt*)>& row);

    sqlite3* m_db = nullptr;
    QHash<const char*, sqlite3_stmt*> m_statements;
    QString m_error;
};
