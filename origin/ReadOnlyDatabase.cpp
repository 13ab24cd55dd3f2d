#include "origin/ReadOnlyDatabase.h"

#include <sqlite3.h>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <mutex>

namespace {

// SQLite's unix VFS opens files itself; this replacement of its open() keeps the access
// times of the evidence as they were.
int openWithoutAtime(const char* path, int flags, int mode)
{
#ifdef O_NOATIME
    if ((flags & O_ACCMODE) == O_RDONLY) {
        const int fd = ::open(path, flags | O_NOATIME, mode);
        if (fd >= 0 || errno != EPERM)
            return fd;
    }
#endif
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
    const int result =
        sqlite3_open_v2(uriFor(rawPath).constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    if (result != SQLITE_OK) {
        m_error = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(result));
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    // Each page is read from the file at most once per crawl: the cache keeps what was read.
    sqlite3_exec(m_db, "PRAGMA cache_size = -65536", nullptr, nullptr, nullptr);
}

ReadOnlyDatabase::~ReadOnlyDatabase()
{
    for (sqlite3_stmt* statement : std::as_const(m_statements))
        sqlite3_finalize(statement);
    sqlite3_close(m_db);
}

bool ReadOnlyDatabase::prepare(const char* sql)
{
    if (!m_db)
        return false;
    if (m_statements.contains(sql))
        return true;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_finalize(statement);
        return false;
    }
    m_statements.insert(sql, statement);
    return true;
}

bool ReadOnlyDatabase::findRow(const char* sql, qint64 key, const std::function<void(sqlite3_stmt*)>& row)
{
    return findRow(
        sql, [key](sqlite3_stmt* statement) { sqlite3_bind_int64(statement, 1, key); }, row);
}

bool ReadOnlyDatabase::findRow(const char* sql, const QString& key,
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

bool ReadOnlyDatabase::findRow(const char* sql, const std::function<void(sqlite3_stmt*)>& bind,
                               const std::function<void(sqlite3_stmt*)>& row)
{
    if (!prepare(sql))
        return false;
    sqlite3_stmt* statement = m_statements.value(sql);
    bind(statement);
    const int result = sqlite3_step(statement);
    if (result == SQLITE_ROW)
        row(statement);
    else if (result != SQLITE_DONE)
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return result == SQLITE_ROW;
}

std::optional<QString> ReadOnlyDatabase::text(sqlite3_stmt* row, int column)
{
    if (sqlite3_column_type(row, column) != SQLITE_TEXT)
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
    return QString::fromUtf8(bytes, sqlite3_column_bytes(row, column));
}

std::optional<QString> ReadOnlyDatabase::textOrHex(sqlite3_stmt* row, int column)
{
    if (sqlite3_column_type(row, column) != SQLITE_BLOB)
        return text(row, column);
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(row, column));
    return QString::fromLatin1(QByteArray(bytes, sqlite3_column_bytes(row, column)).toHex());
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
