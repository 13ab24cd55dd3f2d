#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <sys/types.h>

// An entry's own size, owner, mode and times, as statx(2) gives them without following a
// link: what a timeline needs of it. Times are Unix seconds and nanoseconds; the birth time
// only where the file system keeps one.
struct FileStatus
{
    struct Time
    {
        qint64 seconds = 0;
        qint64 nanoseconds = 0;
        friend bool operator==(const Time&, const Time&) = default;
    };

    qint64 size = 0;
    quint64 inode = 0;
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    Time modified;
    Time changed;
    Time accessed;
    std::optional<Time> born;

    // The entry at `rawPath` (any length); nothing when it cannot be reached.
    static std::optional<FileStatus> of(const QByteArray& rawPath);
    // The entry `name` of the folder open as `folderFd` (or AT_FDCWD).
    static std::optional<FileStatus> at(int folderFd, const char* name);
    // A time as UTC ISO 8601, with its fraction only when there is one.
    static QString text(const Time& time);
    // The same into `text`: its length, 0 when the time has no text.
    static qsizetype write(const Time& time, char (&text)[32]);
    // The mode as ls shows it, with the type first ("-rw-r--r--", "drwxr-xr-x").
    static QString modeText(mode_t mode);
};
