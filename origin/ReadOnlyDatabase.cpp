#include "origin/ReadOnlyDatabase.h"

#include "core/EvidenceAccess.h"
#include "origin/ValueCap.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <mutex>

namespace {

// SQLite's unix VFS opens files itself; this replacement of its open() keeps the access
// times of the evidence as they were.
int openWithoutAtime(const char* path, int flags, int mode)
{
    if ((flags & O_ACCMODE) == O_RDONLY)
        return EvidenceAccess::openat(AT_FDCWD, path, flags, mode);
    return ::open(path, flags, mode);
}

void installOpen()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (sqlite3_vfs* vfs = sqlite3_vfs_find("unix"); vfs && vfs->iVersion >= 3 && vfs->xSetSystemCall)
            vfs->xSetSystemCall(vfs, "open", reinterpret_cast<sqlite3_syscall_ptr>(&openWithoutAtime));
    });
}

// How often the progress handler is called, in virtual machine steps.
constexpr int kProgressPeriod = 1000;

// Nothing in the file's schema may run: no views, no triggers, no functions the schema
// names, no writing of any kind; and no value, statement or expression past these sizes.
void harden(sqlite3* db)
{
    int ignored = 0;
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, &ignored);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, &ignored);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, &ignored);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, &ignored);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, &ignored);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, ReadOnlyDatabase::kMaxValueBytes);
    sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, 100'000);
    sqlite3_limit(db, SQLITE_LIMIT_COLUMN, 200);
    sqlite3_limit(db, SQLITE_LIMIT_EXPR_DEPTH, 100);
    sqlite3_limit(db, SQLITE_LIMIT_COMPOUND_SELECT, 10);
    sqlite3_limit(db, SQLITE_LIMIT_FUNCTION_ARG, 8);
    sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_limit(db, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, 50);
    sqlite3_limit(db, SQLITE_LIMIT_VARIABLE_NUMBER, 10);
    sqlite3_limit(db, SQLITE_LIMIT_TRIGGER_DEPTH, 1);
}

} // namespace

QByteArray ReadOnlyDatabase::uriFor(const QByteArray& rawPath)
{
    // "?" and "#" would end the path, "%" would start an escape; any byte may be escaped.
    return QByteArrayLiteral("file:") + rawPath.toPercentEncoding("/") +
           QByteArrayLiteral("?mode=ro&immutable=1");
}

ReadOnlyDatabase::ReadOnlyDatabase(const QByteArray& rawPath)
{
    installOpen();
    openedWith(
        sqlite3_open_v2(uriFor(rawPath).constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr));
}

ReadOnlyDatabase::ReadOnlyDatabase(Bytes content) : m_bytes(std::move(content.bytes))
{
    int result = sqlite3_open_v2(":memory:", &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr);
    if (result == SQLITE_OK) {
        // Not freed, not resized by SQLite: the pages stay ours and are only read.
        m_bytes.detach();
        // A database in WAL mode (read and write versions 2 in its header) cannot be opened
        // in memory: our copy says rollback journal (1), which reads the file as it stands.
        for (const qsizetype version : {18, 19}) {
            if (m_bytes.size() > version && m_bytes.at(version) == 2)
                m_bytes[version] = 1;
        }
        auto* pages = reinterpret_cast<unsigned char*>(m_bytes.data());
        result = sqlite3_deserialize(m_db, "main", pages, m_bytes.size(), m_bytes.size(),
                                     SQLITE_DESERIALIZE_READONLY);
    }
    openedWith(result);
}

void ReadOnlyDatabase::openedWith(int result)
{
    if (result != SQLITE_OK) {
        m_error = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(result));
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    harden(m_db);
    sqlite3_progress_handler(m_db, kProgressPeriod, &ReadOnlyDatabase::progress, this);
    // Each page is read from the file at most once per crawl: the cache keeps what was read.
    sqlite3_exec(m_db, "PRAGMA cache_size = -65536", nullptr, nullptr, nullptr);
}

ReadOnlyDatabase::~ReadOnlyDatabase()
{
    for (sqlite3_stmt* statement : std::as_const(m_statements))
        sqlite3_finalize(statement);
    sqlite3_close(m_db);
}

int ReadOnlyDatabase::progress(void* self)
{
    auto* database = static_cast<ReadOnlyDatabase*>(self);
    return ++database->m_steps > database->m_budget ? 1 : 0;
}

void ReadOnlyDatabase::noteFailure(int result)
{
    const int primary = result & 0xff;
    const bool damaged = primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_IOERR;
    m_failure = damaged                       ? Failure::Damaged
                : primary == SQLITE_INTERRUPT ? Failure::OverBudget
                : primary == SQLITE_TOOBIG    ? Failure::TooBig
                                              : Failure::Other;
    if (primary == SQLITE_INTERRUPT)
        m_error = QStringLiteral("stopped: the query did more work than a Mac's database needs "
                                 "(over %1 steps)")
                      .arg(m_budget * kProgressPeriod);
    else if (primary == SQLITE_TOOBIG)
        m_error = QStringLiteral("a value is larger than %1 bytes and was not read").arg(kMaxValueBytes);
    else
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
}

QString ReadOnlyDatabase::checkTable(const char* table, const QList<const char*>& columns)
{
    if (!m_db)
        return m_error;
    m_budget = kLookupSteps / kProgressPeriod;
    m_steps = 0;
    // The schema is read with the first statement: a damaged one fails here.
    QString kind;
    bool virtualTable = false;
    const char* const kindSql = "SELECT type, sql LIKE 'create virtual%' FROM sqlite_schema WHERE name = ?1";
    const QString tableName = QString::fromLatin1(table);
    const Found found = findRow(kindSql, tableName, [&](sqlite3_stmt* row) {
        kind = text(row, 0).value_or(QString());
        virtualTable = integer(row, 1).value_or(0) != 0;
    });
    if (found == Found::Failed)
        return m_error;
    if (found == Found::None)
        return QStringLiteral("no table %1").arg(tableName);
    if (kind != QLatin1String("table") || virtualTable)
        return QStringLiteral("%1 is a %2, not a table: not read")
            .arg(tableName, virtualTable ? QStringLiteral("virtual table") : kind);

    QHash<QString, qint64> hidden; // column name (lower case) -> how it is hidden or generated
    const char* const columnsSql = "SELECT name, hidden FROM pragma_table_xinfo(?1)";
    if (!prepare(columnsSql))
        return m_error;
    sqlite3_stmt* statement = m_statements.value(columnsSql);
    const QByteArray name(table);
    sqlite3_bind_text(statement, 1, name.constData(), int(name.size()), SQLITE_STATIC);
    int result;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW)
        hidden.insert(text(statement, 0).value_or(QString()).toLower(), integer(statement, 1).value_or(0));
    sqlite3_reset(statement);
    if (result != SQLITE_DONE) {
        noteFailure(result);
        return m_error;
    }
    for (auto column = hidden.cbegin(); column != hidden.cend(); ++column) {
        if (column.value() != 0)
            return QStringLiteral("column %1 of %2 is computed, not stored: not read")
                .arg(column.key(), tableName);
    }
    for (const char* column : columns) {
        if (!hidden.contains(QString::fromLatin1(column).toLower()))
            return QStringLiteral("no column %1 in %2").arg(QLatin1String(column), tableName);
    }
    return {};
}

bool ReadOnlyDatabase::prepare(const char* sql)
{
    if (!m_db)
        return false;
    if (m_statements.contains(sql))
        return true;
    sqlite3_stmt* statement = nullptr;
    if (const int result = sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr); result != SQLITE_OK) {
        noteFailure(result);
        sqlite3_finalize(statement);
        return false;
    }
    m_statements.insert(sql, statement);
    return true;
}

bool ReadOnlyDatabase::scansTable(const char* sql)
{
    if (!m_db)
        return false;
    const QByteArray explain = QByteArrayLiteral("EXPLAIN QUERY PLAN ") + sql;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, explain.constData(), -1, &statement, nullptr) != SQLITE_OK)
        return false;
    m_budget = kLookupSteps / kProgressPeriod;
    m_steps = 0;
    bool scans = false;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        // "SEARCH t USING INDEX …" or "… INTEGER PRIMARY KEY" where a key leads to its row.
        const auto* detail = reinterpret_cast<const char*>(sqlite3_column_text(statement, 3));
        if (detail && qstrncmp(detail, "SCAN", 4) == 0)
            scans = true;
    }
    sqlite3_finalize(statement);
    return scans;
}

ReadOnlyDatabase::Found ReadOnlyDatabase::findRow(const char* sql, qint64 key,
                                                  const std::function<void(sqlite3_stmt*)>& row)
{
    return findRow(
        sql, [key](sqlite3_stmt* statement) { sqlite3_bind_int64(statement, 1, key); }, row);
}

ReadOnlyDatabase::Found ReadOnlyDatabase::findRow(const char* sql, const QString& key,
                                                  const std::function<void(sqlite3_stmt*)>& row)
{
    const QByteArray text = key.toUtf8();
    return findRow(
        sql,
        [&text](sqlite3_stmt* statement) {
            sqlite3_bind_text(statement, 1, text.constData(), int(text.size()), SQLITE_STATIC);
        },
        row);
}

ReadOnlyDatabase::Found ReadOnlyDatabase::findRow(const char* sql,
                                                  const std::function<void(sqlite3_stmt*)>& bind,
                                                  const std::function<void(sqlite3_stmt*)>& row)
{
    if (!prepare(sql))
        return Found::Failed;
    sqlite3_stmt* statement = m_statements.value(sql);
    bind(statement);
    m_budget = kLookupSteps / kProgressPeriod;
    m_steps = 0;
    const int result = sqlite3_step(statement);
    if (result == SQLITE_ROW)
        row(statement);
    else if (result != SQLITE_DONE)
        noteFailure(result);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return result == SQLITE_ROW ? Found::Row : result == SQLITE_DONE ? Found::None : Found::Failed;
}

bool ReadOnlyDatabase::forEachRow(const char* sql, const std::function<bool(sqlite3_stmt*)>& row)
{
    if (!prepare(sql))
        return false;
    sqlite3_stmt* statement = m_statements.value(sql);
    m_budget = kScanSteps / kProgressPeriod;
    m_steps = 0;
    int result;
    bool more = true;
    while (more && (result = sqlite3_step(statement)) == SQLITE_ROW)
        more = row(statement);
    if (more && result != SQLITE_DONE)
        noteFailure(result);
    sqlite3_reset(statement);
    return !more || result == SQLITE_DONE;
}

std::optional<QString> ReadOnlyDatabase::text(sqlite3_stmt* row, int column)
{
    if (sqlite3_column_type(row, column) != SQLITE_TEXT)
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
    return ValueCap::fromUtf8(QByteArrayView(bytes, sqlite3_column_bytes(row, column)));
}

std::optional<QString> ReadOnlyDatabase::textOrHex(sqlite3_stmt* row, int column)
{
    if (sqlite3_column_type(row, column) != SQLITE_BLOB)
        return text(row, column);
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(row, column));
    const QByteArrayView blob(bytes, sqlite3_column_bytes(row, column));
    const qsizetype shown = std::min(blob.size(), ValueCap::kMaxBytes / 2);
    QString hex = QString::fromLatin1(blob.first(shown).toByteArray().toHex());
    if (shown < blob.size())
        hex += ValueCap::cutMark(blob.size());
    return hex;
}

std::optional<qint64> ReadOnlyDatabase::integer(sqlite3_stmt* row, int column)
{
    if (sqlite3_column_type(row, column) != SQLITE_INTEGER)
        return std::nullopt;
    return sqlite3_column_int64(row, column);
}

std::optional<double> ReadOnlyDatabase::real(sqlite3_stmt* row, int column)
{
    const int type = sqlite3_column_type(row, column);
    if (type != SQLITE_FLOAT && type != SQLITE_INTEGER)
        return std::nullopt;
    return sqlite3_column_double(row, column);
}
