#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

// An SQLite file opened as evidence: read-only and immutable (URI "?mode=ro&immutable=1"),
// so SQLite takes no locks and never creates a journal, -wal or -shm file beside it.
// Files are opened with O_NOATIME where the kernel allows it.
//
// The file may have been written by whoever we investigate, so nothing in it is trusted:
// its schema runs no code of ours (views, triggers and schema functions are off), a value
// larger than kMaxValueBytes is refused rather than loaded, and every statement stops once
// it has done more work than its budget allows.
class ReadOnlyDatabase
{
public:
    // The largest value SQLite hands us; a larger one fails its row ("string or blob too big").
    static constexpr int kMaxValueBytes = 16 << 20;
    // Work budgets, in SQLite's virtual machine steps: one keyed lookup, and one pass over
    // a whole table (a million rows take about 50 million steps).
    static constexpr qint64 kLookupSteps = 10'000'000;
    static constexpr qint64 kScanSteps = 400'000'000;

    explicit ReadOnlyDatabase(const QByteArray& rawPath);
    // A database read into memory (from inside a disk image): deserialised read-only, never
    // written anywhere, with the same hardening as a file.
    struct Bytes
    {
        QByteArray bytes;
    };
    explicit ReadOnlyDatabase(Bytes content);
    ~ReadOnlyDatabase();
    ReadOnlyDatabase(const ReadOnlyDatabase&) = delete;
    ReadOnlyDatabase& operator=(const ReadOnlyDatabase&) = delete;

    // Whether `table` is an ordinary table holding `columns`, none of them generated: an
    // empty text, or why not. A view or a virtual table could run anything when read.
    QString checkTable(const char* table, const QList<const char*>& columns);

    // Prepares `sql` once for the life of the connection. False, with error() set, when the
    // file is not a database or a table or column is missing.
    bool prepare(const char* sql);
    // Whether `sql` (prepared) would read its whole table for each key: no usable index.
    bool scansTable(const char* sql);

    enum class Found { Row, None, Failed };
    // Runs `sql` with `key` bound to ?1 and hands its first row to `row`; Failed, with
    // error() set, when the file is damaged or the lookup ran past its budget.
    Found findRow(const char* sql, qint64 key, const std::function<void(sqlite3_stmt*)>& row);
    Found findRow(const char* sql, const QString& key, const std::function<void(sqlite3_stmt*)>& row);
    // Hands every row of `sql` to `row` until it returns false; false, with error() set, when
    // the table could not be read to the end or the pass ran past its budget.
    bool forEachRow(const char* sql, const std::function<bool(sqlite3_stmt*)>& row);

    // Why the last statement failed.
    enum class Failure { Damaged, OverBudget, TooBig, Other };
    QString error() const { return m_error; }
    Failure failure() const { return m_failure; }

    // Column values; nothing for NULL or a value of another kind (SQLite does not enforce
    // types). Texts are cut to ValueCap's length, saying so.
    static std::optional<QString> text(sqlite3_stmt* row, int column);
    // A text column that may hold bytes instead: bytes come back as lowercase hex.
    static std::optional<QString> textOrHex(sqlite3_stmt* row, int column);
    static std::optional<qint64> integer(sqlite3_stmt* row, int column);
    static std::optional<double> real(sqlite3_stmt* row, int column);

    // The "file:" URI for a path of any bytes.
    static QByteArray uriFor(const QByteArray& rawPath);

private:
    Found findRow(const char* sql, const std::function<void(sqlite3_stmt*)>& bind,
                  const std::function<void(sqlite3_stmt*)>& row);
    void noteFailure(int result);
    void openedWith(int result);
    static int progress(void* self);

    sqlite3* m_db = nullptr;
    QByteArray m_bytes; // a deserialised database's pages: SQLite reads them in place
    QHash<const char*, sqlite3_stmt*> m_statements;
    QString m_error;
    Failure m_failure = Failure::Other;
    qint64 m_steps = 0;  // progress calls in the statement running now
    qint64 m_budget = 0; // progress calls it may take
};
