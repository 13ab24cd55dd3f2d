#pragma once

#include <string_view>
#include <sys/types.h>

// The attribute system calls for one entry of an open directory, as the Calls type of
// ItemAttributes: relative to the directory descriptor, so a path of any length works,
// and never following a symbolic link. On Linux 6.13 and later these are listxattrat and
// getxattrat; older kernels go through /proc/self/fd/<directory>/<name>; macOS opens the
// entry and uses flistxattr/fgetxattr.
//
// Each name list and the last few values are fetched once and kept in the thread's Scratch,
// so the size query and the read of ItemAttributes cost one system call, the walk can filter
// on the listed names before evaluating, and a listed entry's snapshot reads again none of
// the values its evaluation read.
class EntryXattrCalls
{
public:
    enum class Strategy
    {
        At,     // listxattrat / getxattrat
        ProcFd, // l*xattr through /proc/self/fd
        OpenFd  // open the entry, f*xattr
    };

    // Buffers of one walking thread; valid for one entry at a time.
    struct Scratch
    {
        char names[1024];
        ssize_t namesSize = -1;
        int namesError = 0;
        struct Value
        {
            char name[256]; // empty when the slot holds nothing for this entry
            char bytes[4096];
            ssize_t size = -1;
        };
        Value values[3];
        int nextValue = 0; // the slot taken next, round the ring
        char procPath[64 + 256];
    };

    EntryXattrCalls(int directoryFd, const char* name, Scratch& scratch);

    // Lists the names once: their total size, or -1 with errno set.
    ssize_t fetchNames();
    std::string_view names() const;

    ssize_t list(char* buffer, size_t size);
    ssize_t get(const char* attribute, void* buffer, size_t size);

    // The strategy in use; decided on first use from what the kernel offers.
    static Strategy strategy();
    // For tests and measurements: use this strategy from now on.
    static void setStrategy(Strategy strategy);

    // For tests: called on the walking thread with the entry's name before each of its
    // attribute calls, to make the file system slow or hold the walk at an entry.
    using CallHook = void (*)(const char* name);
    static void setCallHook(CallHook hook);

private:
    ssize_t rawList(char* buffer, size_t size);
    ssize_t rawGet(const char* attribute, void* buffer, size_t size);
    // Runs the call the current strategy asks for: `at(dirfd, name)`, `path(procPath)` or
    // `fd(entryFd)`.
    template<typename At, typename Path, typename Fd> ssize_t dispatch(At at, Path path, Fd fd);
    const char* procPath();

    int m_directoryFd;
    const char* m_name;
    Scratch* m_scratch;
};
