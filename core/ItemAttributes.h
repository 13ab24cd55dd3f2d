#pragma once

#include "core/HostAttributeName.h"
#include "core/PosixResult.h"

#include <QByteArray>

#include <cerrno>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The presence test and the read of one file's attributes, over two system calls
// that a Calls type binds to the file (by path, or relative to a directory):
//   ssize_t list(char* buffer, size_t size);            // listxattr semantics
//   ssize_t get(const char* name, void* buffer, size_t size); // getxattr semantics
// The names are listed once per item, so an item without attributes costs one call.
template<typename Calls> class ItemAttributes
{
public:
    explicit ItemAttributes(Calls calls) : m_calls(std::move(calls)) {}

    // True when the attribute holds at least one byte, false when it is empty;
    // ENODATA when no form of it exists, or the errno of a failed call.
    PosixResult<bool> hasValue(const std::vector<HostAttributeName>& forms)
    {
        const auto found = resolve(forms);
        if (!found)
            return found.error();
        const HostAttributeName* form = *found;
        if (form->trailingNul) {
            auto value = read(forms);
            if (!value)
                return value.error();
            return !value->isEmpty();
        }
        const ssize_t size = m_calls.get(form->name.c_str(), nullptr, 0);
        if (size < 0)
            return posixError(errno);
        if (size == 1 && form->mayAppendNul) {
            auto value = read(forms);
            if (!value)
                return value.error();
            return !value->isEmpty();
        }
        return size > 0;
    }

    // The whole value. A value that shrank between the size query and the read
    // keeps only the bytes read; one that grew is read again, a few times at most.
    // `readForm`, when given, is set to the form the value was read from.
    PosixResult<QByteArray> read(const std::vector<HostAttributeName>& forms,
                                 const HostAttributeName** readForm = nullptr)
    {
        const auto found = resolve(forms);
        if (!found)
            return found.error();
        const HostAttributeName* form = *found;
        if (readForm)
            *readForm = form;
        int error = 0;
        for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
            const ssize_t size = m_calls.get(form->name.c_str(), nullptr, 0);
            if (size < 0)
                return posixError(errno);
            QByteArray value(qsizetype(size), '\0');
            if (size == 0)
                return value;
            const ssize_t got = m_calls.get(form->name.c_str(), value.data(), size_t(value.size()));
            if (got >= 0) {
                value.truncate(qsizetype(got));
                const bool onlyNul = value.size() == 1 && value.at(0) == '\0';
                if ((form->trailingNul && value.endsWith('\0')) || (form->mayAppendNul && onlyNul))
                    value.chop(1);
                return value;
            }
            error = errno;
            if (error != ERANGE)
                break;
        }
        return posixError(error);
    }

    static constexpr int kReadAttempts = 4;

private:
    PosixResult<const HostAttributeName*> resolve(const std::vector<HostAttributeName>& forms)
    {
        if (!m_listed) {
            if (int error = list(); error != 0)
                return posixError(error);
        }
        if (const HostAttributeName* form = HostAttributeName::firstListed(forms, m_names))
            return form;
        return posixError(ENODATA);
    }

    int list()
    {
        char stackBuffer[1024];
        ssize_t size = m_calls.list(stackBuffer, sizeof stackBuffer);
        if (size >= 0) {
            m_names.assign(stackBuffer, size_t(size));
        } else {
            // Many or long names: ask for the size and grow until it fits.
            for (int attempt = 0; size < 0; ++attempt) {
                if (errno != ERANGE || attempt == kReadAttempts)
                    return errno;
                const ssize_t needed = m_calls.list(nullptr, 0);
                if (needed < 0)
                    return errno;
                m_names.resize(size_t(needed));
                size = m_calls.list(m_names.data(), m_names.size());
            }
            m_names.resize(size_t(size));
        }
        m_listed = true;
        return 0;
    }

    Calls m_calls;
    std::string m_names;
    bool m_listed = false;
};
