#include "tests/support/TestTree.h"

#include "tests/support/ToolRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

void writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return;
        done += n;
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
    const qsizetype slash = full.lastIndexOf('/');
    QDir().mkpath(QFile::decodeName(full.left(slash)));
    const int fd = ::open(full.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        writeAll(fd, content);
        ::close(fd);
    }
    return full;
}

QString TestTree::folder(const QString& relative)
{
    const QString full = path(relative);
    QDir().mkpath(full);
    return full;
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
    int fd = ::open(rawPath(relative).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < levels && fd >= 0; ++i) {
        ::mkdirat(fd, level.constData(), 0755);
        const int below = ::openat(fd, level.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = below;
    }
    const int file = fd < 0 ? -1 : ::openat(fd, name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (file < 0 || ::fsetxattr(file, "user.com.apple.provenance", value.constData(), size_t(value.size()), 0) != 0)
        qWarning("cannot make %s %d levels deep: %s", name.constData(), levels, std::strerror(errno));
    if (file >= 0)
        ::close(file);
    if (fd >= 0)
        ::close(fd);
    return relative + '/' + (level + '/').repeated(levels) + name;
}

void TestTree::setRawAttribute(const QByteArray& rawPathOfItem, const QByteArray& name,
                               const QByteArray& value)
{
    if (::setxattr(rawPathOfItem.constData(), name.constData(), value.constData(), size_t(value.size()), 0) != 0)
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

void TestTree::openToOthers()
{
    // The temporary folder itself and every folder on the way to it must be searchable.
    QString dir = root();
    while (!dir.isEmpty() && dir != QLatin1String("/")) {
        struct stat st
        {};
        if (::stat(QFile::encodeName(dir).constData(), &st) == 0)
            ::chmod(QFile::encodeName(dir).constData(), st.st_mode | S_IXOTH | S_IROTH);
        dir = QFileInfo(dir).path();
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
