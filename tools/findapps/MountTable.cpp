#include "tools/findapps/MountTable.h"

#include <QSet>

#include <algorithm>
#include <array>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 32> kSkippedTypes{"proc",        "sysfs",
                                                         "cgroup",      "cgroup2",
                                                         "devtmpfs",    "devpts",
                                                         "mqueue",      "debugfs",
                                                         "tracefs",     "securityfs",
                                                         "pstore",      "bpf",
                                                         "configfs",    "fusectl",
                                                         "hugetlbfs",   "autofs",
                                                         "binfmt_misc", "efivarfs",
                                                         "nsfs",        "rpc_pipefs",
                                                         "selinuxfs",   "fuse.gvfsd-fuse",
                                                         "fuse.portal", "fuse.sshfs",
                                                         "nfs",         "nfs4",
                                                         "nfsd",        "cifs",
                                                         "smb3",        "smbfs",
                                                         "ceph",        "afs"};

bool isBelow(const QByteArray& path, const char* folder)
{
    const QByteArray prefix(folder);
    return path == prefix || (path.startsWith(prefix) && path.at(prefix.size()) == '/');
}

bool skipped(const QByteArray& type, const QByteArray& mountPoint)
{
    const std::string_view name(type.constData(), size_t(type.size()));
    if (std::find(kSkippedTypes.begin(), kSkippedTypes.end(), name) != kSkippedTypes.end())
        return true;
    if (isBelow(mountPoint, "/proc") || isBelow(mountPoint, "/sys") || isBelow(mountPoint, "/dev"))
        return true;
    return (type == "tmpfs" || type == "ramfs") && isBelow(mountPoint, "/run");
}

bool isOctal(char c)
{
    return c >= '0' && c <= '7';
}

// Undoes the octal escapes (\040 for a blank, ...) of a mountinfo field.
QByteArray unescapedField(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size() && isOctal(field.at(i + 1)) &&
            isOctal(field.at(i + 2)) && isOctal(field.at(i + 3))) {
            out.append(char(((field.at(i + 1) - '0') << 6) | ((field.at(i + 2) - '0') << 3) |
                            (field.at(i + 3) - '0')));
            i += 3;
        } else {
            out.append(field.at(i));
        }
    }
    return out;
}

} // namespace

QByteArrayList MountTable::volumeMountPoints(const QByteArray& mountinfo)
{
    QByteArrayList points;
    QSet<QByteArray> seen;
    for (const QByteArray& line : mountinfo.split('\n')) {
        // id parent major:minor root mount-point options [optional...] - type source super-options
        const QByteArrayList fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() < 5 || separator < 6 || separator + 1 >= fields.size())
            continue;
        const QByteArray mountPoint = unescapedField(fields.at(4));
        if (!mountPoint.startsWith('/') || skipped(fields.at(separator + 1), mountPoint))
            continue;
        if (!seen.contains(mountPoint)) {
            seen.insert(mountPoint);
            points.append(mountPoint);
        }
    }
    return points;
}
