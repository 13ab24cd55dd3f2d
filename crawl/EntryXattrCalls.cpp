#include "crawl/EntryXattrCalls.h"

#include "core/UniqueFd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/syscall.h>
#ifndef SYS_getxattrat
#define SYS_getxattrat 464
#endif
#ifndef SYS_listxattrat
#define SYS_listxattrat 465
#endif
#endif

namespace {

#ifdef __linux__
// The kernel's struct xattr_args (linux/xattr.h, 6.13 and later).
struct XattrArgs
{
    std::uint64_t value;
    std::uint32_t size;
    std::uint32_t flags;
};

ssize_t listAt(int directoryFd, const char* name, char* buffer, size_t size)
{
    return ::syscall(SYS_listxattrat, directoryFd, name, AT_SYMLINK_NOFOLLOW, buffer, size);
}

ssize_t getAt(int directoryFd, const char* name, const char* attribute, void* buffer, size_t size)
{
    XattrArgs args{std::uint64_t(reinterpret_cast<std::uintptr_t>(buffer)), std::uint32_t(size), 0};
    return ::syscall(SYS_getxattrat, directoryFd, name, AT_SYMLINK_NOFOLLOW, attribute, &args, sizeof args);
}

EntryXattrCalls::Strategy detectStrategy()
{
    // A seccomp filter may answer an unknown system call with EPERM instead of ENOSYS, so
    // probe on the root folder, whose names are always listable.
    char buffer[1024];
    if (listAt(AT_FDCWD, "/", buffer, sizeof buffer) >= 0 || errno == ERANGE)
        return EntryXattrCalls::Strategy::At;
    if (::access("/proc/self/fd", X_OK) == 0)
        return EntryXattrCalls::Strategy::ProcFd;
    return EntryXattrCalls::Strategy::OpenFd;
}

ssize_t listPath(const char* path, char* buffer, size_t size)
{
    return ::llistxattr(path, buffer, size);
}

ssize_t getPath(const char* path, const char* attribute, void* buffer, size_t size)
{
    return ::lgetxattr(path, attribute, buffer, size);
}

ssize_t listFd(int fd, char* buffer, size_t size)
{
    return ::flistxattr(fd, buffer, size);
}

ssize_t getFd(int fd, const char* attribute, void* buffer, size_t size)
{
    return ::fgetxattr(fd, attribute, buffer, size);
}
#else
// Only the open-the-entry strategy exists here; the others are never chosen.
EntryXattrCalls::Strategy detectStrategy()
{
    return EntryXattrCalls::Strategy::OpenFd;
}

ssize_t unsupported()
{
    errno = ENOTSUP;
    return -1;
}

ssize_t listAt(int, const char*, char*, size_t)
{
    return unsupported();
}
ssize_t getAt(int, const char*, const char*, void*, size_t)
{
    return unsupported();
}
ssize_t listPath(const char*, char*, size_t)
{
    return unsupported();
}
ssize_t getPath(const char*, const char*, void*, size_t)
{
    return unsupported();
}

ssize_t listFd(int fd, char* buffer, size_t size)
{
    return ::flistxattr(fd, buffer, size, 0);
}

ssize_t getFd(int fd, const char* attribute, void* buffer, size_t size)
{
    return ::fgetxattr(fd, attribute, buffer, size, 0, 0);
}
#endif

std::atomic<EntryXattrCalls::Strategy>& chosenStrategy()
{
    static std::atomic<EntryXattrCalls::Strategy> strategy{detectStrategy()};
    return strategy;
}

std::atomic<EntryXattrCalls::CallHook>& callHook()
{
    static std::atomic<EntryXattrCalls::CallHook> hook{nullptr};
    return hook;
}

} // namespace

EntryXattrCalls::EntryXattrCalls(int directoryFd, const char* name, Scratch& scratch)
    : m_directoryFd(directoryFd), m_name(name), m_scratch(&scratch)
{
    scratch.namesSize = -1;
    scratch.namesError = 0;
    for (Scratch::Value& value : scratch.values)
        value.name[0] = '\0';
}

EntryXattrCalls::Strategy EntryXattrCalls::strategy()
{
    return chosenStrategy().load(std::memory_order_relaxed);
}

void EntryXattrCalls::setStrategy(Strategy strategy)
{
    chosenStrategy().store(strategy, std::memory_order_relaxed);
}

void EntryXattrCalls::setCallHook(CallHook hook)
{
    callHook().store(hook, std::memory_order_relaxed);
}

const char* EntryXattrCalls::procPath()
{
    // Put together by hand: snprintf cost as much as the system call it names.
    static constexpr char kPrefix[] = "/proc/self/fd/";
    char* const buffer = m_scratch->procPath;
    char* const end = buffer + sizeof m_scratch->procPath;
    char* out = std::copy_n(kPrefix, sizeof kPrefix - 1, buffer);
    out = std::to_chars(out, end, m_directoryFd).ptr;
    const size_t length = std::strlen(m_name);
    if (size_t(end - out) < length + 2)
        return nullptr; // a name longer than a directory entry's
    *out++ = '/';
    std::memcpy(out, m_name, length + 1);
    return buffer;
}

template<typename At, typename Path, typename Fd> ssize_t EntryXattrCalls::dispatch(At at, Path path, Fd fd)
{
    if (const CallHook hook = callHook().load(std::memory_order_relaxed))
        hook(m_name);
    switch (strategy()) {
    case Strategy::At:
        return at(m_directoryFd, m_name);
    case Strategy::ProcFd:
        if (const char* const entryPath = procPath())
            return path(entryPath);
        errno = ENAMETOOLONG;
        return -1;
    case Strategy::OpenFd: {
        const UniqueFd entry(UniqueFd::openEvidence(m_directoryFd, m_name));
        return entry.fd() < 0 ? -1 : fd(entry.fd());
    }
    }
    errno = ENOTSUP;
    return -1;
}

ssize_t EntryXattrCalls::rawList(char* buffer, size_t size)
{
    return dispatch([&](int dir, const char* name) { return listAt(dir, name, buffer, size); },
                    [&](const char* path) { return listPath(path, buffer, size); },
                    [&](int fd) { return listFd(fd, buffer, size); });
}

ssize_t EntryXattrCalls::rawGet(const char* attribute, void* buffer, size_t size)
{
    return dispatch([&](int dir, const char* name) { return getAt(dir, name, attribute, buffer, size); },
                    [&](const char* path) { return getPath(path, attribute, buffer, size); },
                    [&](int fd) { return getFd(fd, attribute, buffer, size); });
}

ssize_t EntryXattrCalls::fetchNames()
{
    Scratch& s = *m_scratch;
    if (s.namesSize < 0 && s.namesError == 0) {
        s.namesSize = rawList(s.names, sizeof s.names);
        if (s.namesSize < 0)
            s.namesError = errno;
    }
    if (s.namesSize < 0)
        errno = s.namesError;
    return s.namesSize;
}

std::string_view EntryXattrCalls::names() const
{
    const Scratch& s = *m_scratch;
    return s.namesSize > 0 ? std::string_view(s.names, size_t(s.namesSize)) : std::string_view();
}

ssize_t EntryXattrCalls::list(char* buffer, size_t size)
{
    const ssize_t listed = fetchNames();
    if (listed < 0) {
        // A list longer than the scratch buffer: ask the kernel with the caller's buffer.
        if (m_scratch->namesError == ERANGE)
            return rawList(buffer, size);
        return -1;
    }
    if (size == 0)
        return listed;
    if (size_t(listed) > size) {
        errno = ERANGE;
        return -1;
    }
    std::memcpy(buffer, m_scratch->names, size_t(listed));
    return listed;
}

ssize_t EntryXattrCalls::get(const char* attribute, void* buffer, size_t size)
{
    Scratch& s = *m_scratch;
    Scratch::Value* value =
        std::find_if(std::begin(s.values), std::end(s.values), [attribute](const auto& slot) {
            return slot.name[0] != '\0' && std::strcmp(slot.name, attribute) == 0;
        });
    if (value == std::end(s.values)) {
        const size_t nameLength = std::strlen(attribute);
        value = &s.values[s.nextValue];
        value->name[0] = '\0';
        const ssize_t got = rawGet(attribute, value->bytes, sizeof value->bytes);
        if (got < 0 || nameLength >= sizeof value->name) {
            // Larger than a slot (or failed): no caching, plain calls.
            return got >= 0 || errno == ERANGE ? rawGet(attribute, buffer, size) : -1;
        }
        std::memcpy(value->name, attribute, nameLength + 1);
        value->size = got;
        s.nextValue = (s.nextValue + 1) % int(std::size(s.values));
    }
    if (size == 0)
        return value->size;
    if (size_t(value->size) > size) {
        errno = ERANGE;
        return -1;
    }
    std::memcpy(buffer, value->bytes, size_t(value->size));
    return value->size;
}
