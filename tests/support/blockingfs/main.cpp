// quellmark-blocking-fs LOG MOUNTPOINT: a read-only FUSE file system whose regular files
// can be listed and stat'ed at once but whose reads never return, like /proc/kmsg or a file
// on a hung network share. Every open is appended to LOG, so a test can tell whether
// anything tried to read. SIGUSR1 lets the waiting reads fail with EIO; SIGTERM unmounts.
// Every entry carries one attribute, user.com.apple.provenance = 01, so that a crawl over
// the mount shows whether it went in.
#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <fuse_lowlevel.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr std::string_view kFiles[] = {"/blocked", "/blocked.csv"};
constexpr off_t kFileSize = 4096;

std::atomic_bool g_released{false};
const char* g_log = nullptr;

bool isFile(const char* path)
{
    return kFiles[0] == path || kFiles[1] == path;
}

int getAttributes(const char* path, struct stat* st, fuse_file_info*)
{
    std::memset(st, 0, sizeof *st);
    const bool root = std::strcmp(path, "/") == 0;
    st->st_mode = root ? S_IFDIR | 0555 : S_IFREG | 0444;
    st->st_nlink = root ? 2 : 1;
    st->st_size = root ? 0 : kFileSize;
    return root || isFile(path) ? 0 : -ENOENT;
}

constexpr char kAttribute[] = "user.com.apple.provenance"; // the list of names holds it with its NUL

int getAttribute(const char* path, const char* name, char* value, size_t size)
{
    if (std::strcmp(path, "/") != 0 && !isFile(path))
        return -ENOENT;
    if (std::strcmp(name, kAttribute) != 0)
        return -ENODATA;
    if (size > 0)
        value[0] = '\x01';
    return 1;
}

int listAttributes(const char* path, char* list, size_t size)
{
    if (std::strcmp(path, "/") != 0 && !isFile(path))
        return -ENOENT;
    if (size > 0 && size < sizeof kAttribute)
        return -ERANGE;
    if (size > 0)
        std::memcpy(list, kAttribute, sizeof kAttribute);
    return sizeof kAttribute;
}

int readDirectory(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                  fuse_readdir_flags)
{
    if (std::strcmp(path, "/") != 0)
        return -ENOENT;
    for (const char* name : {".", "..", kFiles[0].data() + 1, kFiles[1].data() + 1})
        fill(buffer, name, nullptr, 0, fuse_fill_dir_flags(0));
    return 0;
}

int openFile(const char* path, fuse_file_info* info)
{
    if (!isFile(path))
        return -ENOENT;
    if (FILE* log = std::fopen(g_log, "a")) {
        std::fprintf(log, "%s\n", path);
        std::fclose(log);
    }
    if ((info->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    info->direct_io = 1; // every read reaches us, none is served from the page cache
    return 0;
}

int readFile(const char*, char*, size_t, off_t, fuse_file_info*)
{
    fuse_session* session = fuse_get_session(fuse_get_context()->fuse);
    while (!g_released.load() && !fuse_session_exited(session))
        usleep(20 * 1000);
    return -EIO;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s LOG MOUNTPOINT\n", argv[0]);
        return 2;
    }
    g_log = argv[1];
    std::signal(SIGUSR1, [](int) { g_released.store(true); });
    // A test that dies leaves no mount behind: we get SIGTERM, and unmount.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);

    fuse_operations operations{};
    operations.getattr = getAttributes;
    operations.readdir = readDirectory;
    operations.open = openFile;
    operations.read = readFile;
    operations.getxattr = getAttribute;
    operations.listxattr = listAttributes;

    // Foreground, several threads (a waiting read must not hold up stat), read-only.
    char foreground[] = "-f";
    char options[] = "-oro,fsname=quellmark-blocking-fs";
    char* fuseArgs[] = {argv[0], foreground, options, argv[2], nullptr};
    return fuse_main(4, fuseArgs, &operations, nullptr);
}
