#include "tools/findapps/AppFinder.h"

#include "core/PathEncoding.h"
#include "core/UniqueFd.h"

#include "tools/findapps/DesktopEntry.h"
#include "tools/findapps/MountTable.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Desktop entries are a few kilobytes; anything this large is not one.
constexpr qsizetype kMaxEntrySize = 4 * 1024 * 1024;
// Procfs reports a size of 0, so this only bounds what is read.
constexpr qsizetype kMaxMountTableSize = 256 * 1024 * 1024;

enum class Kind
{
    Folder,
    File,
    Other,
};

struct Child
{
    QByteArray name;
    Kind kind = Kind::Other;
    quint64 device = 0;
    quint64 inode = 0;
};

QByteArray joined(const QByteArray& folder, const QByteArray& name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// Opens a folder without following a final symbolic link. Paths too long for one
// system call are opened a piece at a time.
int openFolder(const QByteArray& path, bool followLink)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    if (path.size() < PATH_MAX)
        return ::open(path.constData(), flags);
    UniqueFd base;
    qsizetype start = 0;
    while (start < path.size()) {
        qsizetype end = path.size();
        if (end - start >= PATH_MAX)
            end = path.lastIndexOf('/', start + PATH_MAX - 1);
        if (end <= start) {
            errno = ENAMETOOLONG;
            return -1;
        }
        base = UniqueFd(
            ::openat(start == 0 ? AT_FDCWD : base.fd(), path.mid(start, end - start).constData(), flags));
        if (base.fd() < 0)
            return -1;
        start = end + 1;
    }
    return base.release();
}

// The folder's entries sorted by name, folders with their device and inode.
// Empty when the folder cannot be read.
std::vector<Child> listFolder(const QByteArray& path, bool followLink = false)
{
    std::vector<Child> children;
    UniqueFd folder(openFolder(path, followLink));
    DIR* dir = folder.fd() < 0 ? nullptr : ::fdopendir(folder.fd());
    if (!dir)
        return children;
    folder.release(); // the listing owns it now
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        Child child;
        child.name = QByteArray(name);
        const unsigned char type = entry->d_type;
        if (type == DT_DIR || type == DT_UNKNOWN) {
            struct stat st = {};
            if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (S_ISDIR(st.st_mode)) {
                child.kind = Kind::Folder;
                child.device = st.st_dev;
                child.inode = st.st_ino;
            } else if (S_ISREG(st.st_mode)) {
                child.kind = Kind::File;
            }
        } else if (type == DT_REG) {
            child.kind = Kind::File;
        }
        children.push_back(std::move(child));
    }
    ::closedir(dir);
    std::sort(children.begin(), children.end(),
              [](const Child& a, const Child& b) { return a.name < b.name; });
    return children;
}

// Reads at most `limit` bytes of a regular file (a desktop entry may be a symbolic link
// to its file); anything else is refused, and so is a file larger than the limit.
std::optional<QByteArray> readFile(const QByteArray& path, qsizetype limit)
{
    const UniqueFd file(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    const int fd = file.fd();
    if (fd < 0)
        return std::nullopt;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > limit)
        return std::nullopt;
    QByteArray content;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0 || content.size() + n > limit)
            break;
        content.append(buffer, n);
    }
    return content;
}

bool isExecutableFile(const QByteArray& path)
{
    struct stat st = {};
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.constData(), X_OK) == 0;
}

bool isBundleName(const QByteArray& name)
{
    return name.size() > 4 && name.endsWith(".app");
}

bool isAppImageName(const QByteArray& name)
{
    constexpr char kSuffix[] = ".appimage";
    constexpr qsizetype kLength = sizeof kSuffix - 1;
    return name.size() > kLength && name.right(kLength).toLower() == kSuffix;
}

QByteArray absolute(const QByteArray& path)
{
    if (path.startsWith('/'))
        return withoutTrailingSlashes(path);
    QByteArray cwd(PATH_MAX, '\0');
    if (!::getcwd(cwd.data(), size_t(cwd.size())))
        return {};
    cwd.truncate(qsizetype(qstrlen(cwd.constData())));
    QByteArray relative = path;
    while (relative.startsWith("./"))
        relative.remove(0, 2);
    if (relative.isEmpty() || relative == ".")
        return cwd;
    return withoutTrailingSlashes(joined(cwd, relative));
}

// The value of an environment variable, or nullopt when it is not set.
std::optional<QByteArray> variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::optional<QByteArray>(QByteArray(value)) : std::nullopt;
}

QByteArray home()
{
    if (const std::optional<QByteArray> value = variable("HOME"); value && value->startsWith('/'))
        return withoutTrailingSlashes(*value);
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir && user->pw_dir[0] == '/')
        return withoutTrailingSlashes(QByteArray(user->pw_dir));
    return {};
}

QByteArrayList volumeRoots()
{
    const std::optional<QByteArray> given = variable("QUELLMARK_MOUNTINFO");
    const std::optional<QByteArray> table = readFile(
        given && !given->isEmpty() ? *given : QByteArray("/proc/self/mountinfo"), kMaxMountTableSize);
    if (!table)
        return {QByteArrayLiteral("/")};
    return MountTable::volumeMountPoints(*table);
}

using Visited = QSet<std::pair<quint64, quint64>>;

// False when the folder was walked already.
bool firstVisit(Visited& visited, quint64 device, quint64 inode)
{
    const qsizetype before = visited.size();
    visited.insert({device, inode});
    return visited.size() != before;
}

// Hands `visit` every entry below `folder` with its path, depth first in name order,
// entering each folder once. An explicit stack: bundles can nest deeply and a walk
// must not exhaust the call stack.
void walk(const QByteArray& folder, bool followLink, Visited& visited,
          const std::function<void(const QByteArray& path, const Child& child)>& visit)
{
    std::vector<QByteArray> pending{folder};
    bool first = true;
    while (!pending.empty()) {
        const QByteArray current = std::move(pending.back());
        pending.pop_back();
        const std::vector<Child> children = listFolder(current, first && followLink);
        first = false;
        const size_t mark = pending.size();
        for (const Child& child : children) {
            if (child.kind == Kind::Folder && !firstVisit(visited, child.device, child.inode))
                continue;
            const QByteArray path = joined(current, child.name);
            visit(path, child);
            if (child.kind == Kind::Folder)
                pending.push_back(path);
        }
        std::reverse(pending.begin() + qsizetype(mark), pending.end());
    }
}

} // namespace

QByteArrayList AppFinder::find()
{
    m_found.clear();
    m_printed.clear();
    m_visited.clear();

    const std::optional<QByteArray> givenRoots = variable("QUELLMARK_APP_ROOTS");
    if (givenRoots && !givenRoots->isEmpty()) {
        for (const QByteArray& root : givenRoots->split(':')) {
            if (!root.isEmpty())
                searchRoot(absolute(root), true);
        }
        return m_found;
    }

    for (const QByteArray& root : volumeRoots())
        searchRoot(root, false);
    const QByteArray homeFolder = home();
    if (!homeFolder.isEmpty()) {
        const QByteArray applications = joined(homeFolder, "Applications");
        searchApplicationsFolder(applications, true);
        searchAppImages(applications);
    }
    searchDesktopEntries();
    return m_found;
}

void AppFinder::searchRoot(const QByteArray& root, bool wholeFolderWhenBare)
{
    if (root.isEmpty())
        return;
    bool any = searchApplicationsFolder(joined(root, "Applications"), false);
    any = searchApplicationsFolder(joined(root, "System/Applications"), false) || any;
    const QByteArray users = joined(root, "Users");
    for (const Child& user : listFolder(users)) {
        if (user.kind == Kind::Folder)
            any = searchApplicationsFolder(joined(joined(users, user.name), "Applications"), false) || any;
    }
    if (!any && wholeFolderWhenBare)
        searchApplicationsFolder(root, true);
}

bool AppFinder::searchApplicationsFolder(const QByteArray& folder, bool followLink)
{
    struct stat st = {};
    const int status = followLink ? ::stat(folder.constData(), &st) : ::lstat(folder.constData(), &st);
    if (status != 0 || !S_ISDIR(st.st_mode))
        return false;
    if (firstVisit(m_visited, st.st_dev, st.st_ino)) {
        walk(folder, followLink, m_visited, [this](const QByteArray& path, const Child& child) {
            if (child.kind == Kind::Folder && isBundleName(child.name))
                add(path);
        });
    }
    return true;
}

void AppFinder::searchAppImages(const QByteArray& folder)
{
    for (const Child& child : listFolder(folder, true)) {
        if (child.kind == Kind::File && isAppImageName(child.name))
            add(joined(folder, child.name));
    }
}

void AppFinder::searchDesktopEntries()
{
    QByteArrayList bases;
    const std::optional<QByteArray> dataHome = variable("XDG_DATA_HOME");
    if (dataHome && dataHome->startsWith('/'))
        bases.append(*dataHome);
    else if (const QByteArray homeFolder = home(); !homeFolder.isEmpty())
        bases.append(joined(homeFolder, ".local/share"));
    std::optional<QByteArray> dataDirs = variable("XDG_DATA_DIRS");
    if (!dataDirs || dataDirs->isEmpty())
        dataDirs = QByteArray("/usr/local/share:/usr/share");
    for (const QByteArray& base : dataDirs->split(':')) {
        // Relative entries are invalid and ignored.
        if (base.startsWith('/'))
            bases.append(base);
    }

    QSet<QByteArray> claimedIds;
    Visited visited;
    for (const QByteArray& base : bases) {
        const QByteArray applications = joined(base, "applications");
        walk(applications, true, visited, [&](const QByteArray& path, const Child& child) {
            // The id is the path below applications/ with '-' for '/'.
            const QByteArray id = path.mid(applications.size() + 1).replace('/', '-');
            if (child.kind == Kind::Folder || !child.name.endsWith(".desktop") || claimedIds.contains(id))
                return;
            const std::optional<QByteArray> content = readFile(path, kMaxEntrySize);
            if (!content)
                return;
            // The first file with an id decides for it, even when it hides the entry.
            claimedIds.insert(id);
            const DesktopEntry entry = DesktopEntry::parse(*content);
            if (entry.isApplication() && !entry.isHidden())
                addProgram(entry.program());
        });
    }
}

void AppFinder::addProgram(const QByteArray& word)
{
    if (word.startsWith('/')) {
        if (isExecutableFile(word))
            add(word);
        return;
    }
    // Only bare names are looked up; a relative path has no meaning here.
    if (word.isEmpty() || word.contains('/'))
        return;
    std::optional<QByteArray> searchPath = variable("PATH");
    if (!searchPath) {
        const size_t size = ::confstr(_CS_PATH, nullptr, 0);
        QByteArray standard(qsizetype(size), '\0');
        if (size > 0 && ::confstr(_CS_PATH, standard.data(), size) > 0)
            searchPath = QByteArray(standard.constData());
    }
    if (!searchPath)
        return;
    for (const QByteArray& folder : searchPath->split(':')) {
        if (!folder.startsWith('/'))
            continue;
        const QByteArray candidate = joined(folder, word);
        if (isExecutableFile(candidate)) {
            add(candidate);
            return;
        }
    }
}

void AppFinder::add(const QByteArray& path)
{
    // A line feed in a name cannot be told apart from the end of the line: such a
    // path would be read as two wrong ones.
    if (path.contains('\n') || m_printed.contains(path))
        return;
    m_printed.insert(path);
    m_found.append(path);
}
