#include "tests/support/TestTree.h"

#include "core/UniqueFd.h"
#include "tests/support/ToolRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

void writeAll(int fd, const QByteArray& bytes)
{
    for (ssize_t done = 0, n = 0; done < bytes.size(); done += n) {
        if ((n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done))) <= 0)
            return;
    }
}

void removeItem(int parent, const char* name)
{
    struct stat st = {};
    if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        ::fchmodat(parent, name, 0700, 0);
        const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr) {
            while (const dirent* entry = ::readdir(dir)) {
                if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                    removeItem(fd, entry->d_name);
            }
            ::closedir(dir);
        }
    }
    ::unlinkat(parent, name, S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0);
}

} // namespace

TestTree::TestTree()
{
    if (!m_dir.isValid()) {
        m_problem = QStringLiteral("cannot create a temporary folder: ") + m_dir.errorString();
        return;
    }
    const QByteArray probe = rawFile("xattr-probe");
    if (::setxattr(probe.constData(), "user.quellmark.probe", "1", 1, 0) != 0) {
        m_problem = QStringLiteral("the temporary folder %1 does not support user extended attributes (%2)")
                        .arg(root(), QString::fromLocal8Bit(std::strerror(errno)));
    }
    ::unlink(probe.constData());
}

TestTree::~TestTree()
{
    // QTemporaryDir walks the tree as text: it cannot remove names that are not UTF-8, paths
    // past PATH_MAX or closed folders.
    if (m_dir.isValid())
        removeItem(AT_FDCWD, QFile::encodeName(root()).constData());
}

QString TestTree::path(const QString& relative) const
{
    return relative.isEmpty() ? root() : root() + QLatin1Char('/') + relative;
}

QByteArray TestTree::rawPath(const QByteArray& relative) const
{
    return QFile::encodeName(root()) + '/' + relative;
}

QString TestTree::file(const QString& relative, const QByteArray& content)
{
    return QFile::decodeName(rawFile(QFile::encodeName(relative), content));
}

QByteArray TestTree::rawFile(const QByteArray& relative, const QByteArray& content)
{
    const QByteArray full = rawPath(relative);
    QDir().mkpath(QFile::decodeName(full.left(full.lastIndexOf('/'))));
    const UniqueFd fd(::open(full.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    writeAll(fd.fd(), content);
    return full;
}

QString TestTree::folder(const QString& relative)
{
    QDir().mkpath(path(relative));
    return path(relative);
}

QString TestTree::symlink(const QString& target, const QString& relative)
{
    const QString full = path(relative);
    QDir().mkpath(QFileInfo(full).absolutePath());
    QFile::link(target, full);
    return full;
}

QByteArray TestTree::deepFile(const QByteArray& relative, int levels, const QByteArray& level,
                              const QByteArray& name, const QByteArray& value)
{
    QDir().mkpath(QFile::decodeName(rawPath(relative)));
    UniqueFd fd(::open(rawPath(relative).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int i = 0; i < levels && fd.fd() >= 0; ++i) {
        ::mkdirat(fd.fd(), level.constData(), 0755);
        fd = UniqueFd(::openat(fd.fd(), level.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    const UniqueFd file(
        fd.fd() < 0 ? -1 : ::openat(fd.fd(), name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (file.fd() < 0 ||
        ::fsetxattr(file.fd(), "user.com.apple.provenance", value.constData(), size_t(value.size()), 0) != 0)
        qWarning("cannot make %s %d levels deep: %s", name.constData(), levels, std::strerror(errno));
    return relative + '/' + (level + '/').repeated(levels) + name;
}

void TestTree::setRawAttribute(const QByteArray& rawPathOfItem, const QByteArray& name,
                               const QByteArray& value)
{
    if (::setxattr(rawPathOfItem.constData(), name.constData(), value.constData(), size_t(value.size()), 0) !=
        0)
        qWarning("setxattr %s on %s failed: %s", name.constData(), rawPathOfItem.constData(),
                 std::strerror(errno));
}

void TestTree::setProvenance(const QString& path, const QByteArray& value)
{
    setRawAttribute(QFile::encodeName(path), "user.com.apple.provenance", value);
}

void TestTree::setQuarantine(const QString& path, const QByteArray& value)
{
    setRawAttribute(QFile::encodeName(path), "user.com.apple.quarantine", value);
}

QList<QByteArray> TestTree::walkOrder(const QString& root)
{
    QList<QByteArray> order = ToolRun{"/usr/bin/find",
                                      {QFile::encodeName(root), "-mindepth", "1", "-type", "d", "-printf",
                                       "%P/\\0", "-o", "!", "-type", "l", "-printf", "%P\\0"}}
                                  .run()
                                  .out.split('\0');
    order.removeLast();
    return order;
}

void TestTree::openToOthers()
{
    // The temporary folder itself and every folder on the way to it must be searchable.
    for (QString dir = root(); !dir.isEmpty() && dir != QLatin1String("/"); dir = QFileInfo(dir).path()) {
        struct stat st = {};
        if (::stat(QFile::encodeName(dir).constData(), &st) == 0)
            ::chmod(QFile::encodeName(dir).constData(), st.st_mode | S_IXOTH | S_IROTH);
    }
}

QByteArray TestTree::asUnprivileged(const std::function<QByteArray()>& work, bool* ok)
{
    int fds[2];
    const pid_t pid = ::pipe(fds) == 0 ? ::fork() : -1;
    if (pid == 0) {
        ::close(fds[0]);
        if (!ToolRun::becomeNobody())
            ::_exit(3);
        writeAll(fds[1], work());
        ::_exit(0);
    }
    int status = -1;
    QByteArray result;
    if (pid > 0) {
        ::close(fds[1]);
        result = ToolRun::drain(fds[0]);
        ::waitpid(pid, &status, 0);
    }
    if (ok)
        *ok = pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}
