#pragma once

#include <cerrno>
#include <sys/types.h>
#include <utility>

// Attribute calls (see ItemAttributes) that note the first failure which means the item
// could not be examined: any error but a missing attribute, a file system without
// attributes, and a buffer too small (which the reader answers by asking again).
template<typename Calls> class FailureNotingCalls
{
public:
    FailureNotingCalls(Calls calls, int* failure) : m_calls(std::move(calls)), m_failure(failure) {}

    ssize_t list(char* buffer, size_t size) { return noted(m_calls.list(buffer, size)); }
    ssize_t get(const char* name, void* buffer, size_t size)
    {
        return noted(m_calls.get(name, buffer, size));
    }

    static bool isFailure(int error)
    {
#ifdef ENOATTR
        if (error == ENOATTR)
            return false;
#endif
        return error != ENODATA && error != ENOTSUP && error != EOPNOTSUPP && error != ERANGE;
    }

private:
    ssize_t noted(ssize_t result)
    {
        if (result < 0 && *m_failure == 0 && isFailure(errno))
            *m_failure = errno;
        return result;
    }

    Calls m_calls;
    int* m_failure;
};
