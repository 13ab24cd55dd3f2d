#pragma once

#include <QByteArray>
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

    // Runs `sql` and hands every row to `row`. False, with error() set, when the file is
    // not a database, a table or column is missing, or the file is damaged.
    bool forEachRow(const char* sql, const std::function<void(sqlite3_stmt*)>& row);
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
    sqlite3* m_db = nullptr;
    QString m_error;
};
