#pragma once

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/types.h>
#include <utility>

// An item's extended attributes read once — the names, and each value up to kReadBytes —
// then served from memory through the list and get calls ItemAttributes takes (listxattr and
// getxattr semantics). The details list every attribute and decode a few: one pass of
// system calls serves both.
class XattrSnapshot
{
public:
    // Linux values are at most 64 KiB.
    static constexpr qsizetype kReadBytes = 64 * 1024;

    struct Value
    {
        QByteArray name; // as the host lists it
        QByteArray bytes;
        int error = 0; // why it could not be read
    };

    // Reads the item behind `calls` (see PathXattrCalls).
    template<typename Calls> static XattrSnapshot of(Calls& calls)
    {
        XattrSnapshot snapshot;
        // Sized first: the kernel sets aside as much as a call offers to take.
        snapshot.m_names = fetch([&calls](char* buffer, size_t size) { return calls.list(buffer, size); },
                                 &snapshot.m_listError);
        const QByteArrayView names = snapshot.m_names;
        for (qsizetype at = 0, end; at < names.size(); at = end + 1) {
            end = names.indexOf('\0', at);
            if (end < 0)
                end = names.size();
            if (end == at)
                continue;
            const QByteArray name = names.sliced(at, end - at).toByteArray();
            Value value{name, {}, 0};
            value.bytes = fetch([&](char* buffer, size_t size) { return calls.get(name.constData(), buffer, size); },
                                &value.error);
            snapshot.m_values.append(std::move(value));
        }
        return snapshot;
    }

    const QList<Value>& values() const { return m_values; }

    ssize_t list(char* buffer, size_t size) const
    {
        if (m_listError != 0)
            return fail(m_listError);
        return copy(m_names, buffer, size);
    }

    ssize_t get(const char* name, void* buffer, size_t size) const
    {
        const auto found = std::find_if(m_values.cbegin(), m_values.cend(),
                                        [name](const Value& value) { return value.name == name; });
        if (found == m_values.cend())
            return fail(m_listError != 0 ? m_listError : ENODATA);
        if (found->error != 0)
            return fail(found->error);
        return copy(found->bytes, buffer, size);
    }

private:
    static ssize_t fail(int error)
    {
        errno = error;
        return -1;
    }

    static ssize_t copy(const QByteArray& bytes, void* buffer, size_t size)
    {
        if (size == 0)
            return ssize_t(bytes.size());
        if (size < size_t(bytes.size()))
            return fail(ERANGE);
        std::memcpy(buffer, bytes.constData(), size_t(bytes.size()));
        return ssize_t(bytes.size());
    }

    // What `call` gives, sized by asking first; `*error` set when it fails.
    template<typename Call> static QByteArray fetch(Call call, int* error)
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            const ssize_t size = call(nullptr, 0);
            if (size < 0)
                break;
            QByteArray bytes(std::min<qsizetype>(size, kReadBytes), Qt::Uninitialized);
            const ssize_t got = bytes.isEmpty() ? 0 : call(bytes.data(), size_t(bytes.size()));
            if (got >= 0) {
                bytes.truncate(got);
                return bytes;
            }
            if (errno != ERANGE)
                break;
        }
        *error = errno;
        return {};
    }

    QByteArray m_names;
    int m_listError = 0;
    QList<Value> m_values;
};
