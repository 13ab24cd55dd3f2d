#pragma once

#include "origin/ReadOnlyDatabase.h"

#include <QList>

#include <variant>

// The fields of a record read from a table of a Mac database, in the order they are shown:
// each with its column (none for what is worked out when the row is linked), its JSON key
// (none where only the details pane shows it) and its label in the pane (none: not shown).
// The table is looked up by `keyColumn`; the statements are made once from this list.
template <typename Record>
class RowReader
{
public:
    struct Field
    {
        using Member = std::variant<qint64 Record::*, QString Record::*, std::optional<qint64> Record::*,
                                    std::optional<double> Record::*>;
        // hexBytes: a text column that may hold bytes, read as lowercase hex.
        Field(const char* column, Member member, const char* key = nullptr, const char* label = nullptr,
              bool hexBytes = false)
            : column(column), member(member), key(key), label(label), hexBytes(hexBytes)
        {
        }
        const char* column;
        Member member;
        const char* key;
        const char* label;
        bool hexBytes;
    };
    using Shown = std::variant<QString, std::optional<qint64>>;

    RowReader(const char* table, const char* keyColumn, const QList<Field>& fields) : m_table(table)
    {
        QByteArray names = keyColumn;
        m_columns.append(keyColumn);
        for (const Field& field : fields) {
            if (field.column) {
                names += ", " + QByteArray(field.column);
                m_columns.append(field.column);
            }
        }
        m_fields = fields;
        const QByteArray from = " FROM " + QByteArray(table);
        m_select = "SELECT " + names + from + " WHERE " + keyColumn + " = ?1";
        // Without an index, which may be missing or damaged: by the table's own rowid.
        m_selectKeys = "SELECT rowid, " + QByteArray(keyColumn) + from + " NOT INDEXED";
        m_selectAt = "SELECT " + names + from + " NOT INDEXED WHERE rowid = ?1";
    }

    // Whether `database` has the table and columns: an empty text, or why not.
    QString check(ReadOnlyDatabase& database) const
    {
        const QString problem = database.checkTable(m_table, m_columns);
        if (!problem.isEmpty())
            return problem;
        return database.prepare(m_select.constData()) ? QString() : database.error();
    }
    bool needsScan(ReadOnlyDatabase& database) const { return database.scansTable(m_select.constData()); }
    template <typename Key>
    ReadOnlyDatabase::Found find(ReadOnlyDatabase& database, const Key& key, std::optional<Record>& record) const
    {
        return database.findRow(m_select.constData(), key, [&](sqlite3_stmt* row) { record = read(row); });
    }
    // Each row's rowid and the hash `hash` makes of its key column (none: the row has no key).
    bool readKeys(ReadOnlyDatabase& database, const std::function<std::optional<quint64>(sqlite3_stmt*)>& hash,
                  const std::function<bool(qint64, quint64)>& row) const
    {
        return database.forEachRow(m_selectKeys.constData(), [&](sqlite3_stmt* statement) {
            const std::optional<quint64> key = hash(statement);
            return !key || row(ReadOnlyDatabase::integer(statement, 0).value_or(0), *key);
        });
    }
    // The row at `rowid`, if its key column (column 0) `matches` the key looked for.
    ReadOnlyDatabase::Found findAt(ReadOnlyDatabase& database, qint64 rowid,
                                   const std::function<bool(sqlite3_stmt*)>& matches,
                                   std::optional<Record>& record) const
    {
        return database.findRow(m_selectAt.constData(), rowid, [&](sqlite3_stmt* row) {
            if (matches(row))
                record = read(row);
        });
    }

    // Hands each labelled field of `record` and its value to `show`, in order.
    void forEachShown(const Record& record, const std::function<void(const Field&, const Shown&)>& show) const
    {
        for (const Field& field : m_fields) {
            if (!field.label)
                continue;
            if (const auto member = std::get_if<QString Record::*>(&field.member))
                show(field, record.**member);
            else if (const auto member = std::get_if<std::optional<qint64> Record::*>(&field.member))
                show(field, record.**member);
            else if (const auto member = std::get_if<qint64 Record::*>(&field.member))
                show(field, std::optional<qint64>(record.**member));
        }
    }

private:
    // NULL, or a value of another kind, leaves a field empty.
    Record read(sqlite3_stmt* row) const
    {
        Record record;
        int index = 0;
        for (const Field& field : m_fields) {
            if (!field.column)
                continue;
            ++index;
            if (const auto member = std::get_if<qint64 Record::*>(&field.member))
                record.**member = ReadOnlyDatabase::integer(row, index).value_or(0);
            else if (const auto member = std::get_if<QString Record::*>(&field.member))
                record.**member = (field.hexBytes ? ReadOnlyDatabase::textOrHex(row, index)
                                                  : ReadOnlyDatabase::text(row, index))
                                      .value_or(QString());
            else if (const auto member = std::get_if<std::optional<qint64> Record::*>(&field.member))
                record.**member = ReadOnlyDatabase::integer(row, index);
            else if (const auto member = std::get_if<std::optional<double> Record::*>(&field.member))
                record.**member = ReadOnlyDatabase::real(row, index);
        }
        return record;
    }

    const char* m_table;
    QList<Field> m_fields;
    QList<const char*> m_columns;
    QByteArray m_select;
    QByteArray m_selectKeys;
    QByteArray m_selectAt;
};
