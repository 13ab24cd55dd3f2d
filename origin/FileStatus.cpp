#include "origin/FileStatus.h"

#include "core/PathEncoding.h"
#include "core/SidecarReader.h"
#include "core/UniqueFd.h"
#include "origin/UtcTime.h"

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>

std::optional<FileStatus> FileStatus::of(const QByteArray& rawPath)
{
    const QByteArray path = withoutTrailingSlashes(rawPath);
    if (path.size() < PATH_MAX)
        return at(AT_FDCWD, path.constData());
    // Past PATH_MAX: from its folder, opened a folder at a time.
    const qsizetype slash = path.lastIndexOf('/');
    const UniqueFd folder(SidecarReader::openFolder(path.left(slash), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd() < 0)
        return std::nullopt;
    return at(folder.fd(), path.mid(slash + 1).constData());
}

std::optional<FileStatus> FileStatus::at(int folderFd, const char* name)
{
    struct statx st;
    if (::statx(folderFd, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &st) != 0)
        return std::nullopt;
    const auto time = [](const statx_timestamp& t) { return Time{t.tv_sec, t.tv_nsec}; };
    FileStatus status;
    status.size = qint64(st.stx_size);
    status.inode = st.stx_ino;
    status.mode = st.stx_mode;
    status.uid = st.stx_uid;
    status.gid = st.stx_gid;
    status.modified = time(st.stx_mtime);
    status.changed = time(st.stx_ctime);
    status.accessed = time(st.stx_atime);
    if (st.stx_mask & STATX_BTIME)
        status.born = time(st.stx_btime);
    return status;
}

QString FileStatus::text(const Time& time)
{
    char text[32];
    return QString::fromLatin1(text, write(time, text));
}

qsizetype FileStatus::write(const Time& time, char (&text)[32])
{
    if (!UtcTime::write(time.seconds, text))
        return 0;
    if (time.nanoseconds == 0)
        return 20;
    // ".nnnnnnnnn" without its trailing zeros, before the "Z".
    text[19] = '.';
    qint64 rest = time.nanoseconds;
    for (int i = 9; i >= 1; --i, rest /= 10)
        text[19 + i] = char('0' + rest % 10);
    int end = 29;
    while (text[end - 1] == '0')
        --end;
    text[end] = 'Z';
    return end + 1;
}

QString FileStatus::modeText(mode_t mode)
{
    const char type = S_ISDIR(mode)    ? 'd'
                      : S_ISLNK(mode)  ? 'l'
                      : S_ISCHR(mode)  ? 'c'
                      : S_ISBLK(mode)  ? 'b'
                      : S_ISFIFO(mode) ? 'p'
                      : S_ISSOCK(mode) ? 's'
                                       : '-';
    QString text(1, QLatin1Char(type));
    const char* const letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (mode & (0400 >> bit)) ? QLatin1Char(letters[bit]) : QLatin1Char('-');
    return text;
}
