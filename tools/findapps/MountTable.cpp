#include "tools/findapps/MountTable.h"

#include <QSet>

#include <libmount/libmount.h>

#include <algorithm>
#include <array>
#include <cstdio>
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

} // namespace

QByteArrayList MountTable::volumeMountPoints(const QByteArray& mountinfo)
{
    QByteArrayList points;
    // libmount reads a stream; fmemopen only reads here, despite its non-const buffer.
    FILE* stream = mountinfo.isEmpty() ? nullptr
                                       : ::fmemopen(const_cast<char*>(mountinfo.constData()),
                                                    size_t(mountinfo.size()), "r");
    if (!stream)
        return points;
    libmnt_table* table = ::mnt_new_table();
    ::mnt_table_parse_stream(table, stream, "mountinfo"); // lines it cannot read are left out
    std::fclose(stream);
    libmnt_iter* iterator = ::mnt_new_iter(MNT_ITER_FORWARD);
    QSet<QByteArray> seen;
    for (libmnt_fs* fs = nullptr; ::mnt_table_next_fs(table, iterator, &fs) == 0;) {
        const QByteArray mountPoint(::mnt_fs_get_target(fs));
        if (mountPoint.startsWith('/') && !skipped(QByteArray(::mnt_fs_get_fstype(fs)), mountPoint) &&
            !seen.contains(mountPoint)) {
            seen.insert(mountPoint);
            points.append(mountPoint);
        }
    }
    ::mnt_free_iter(iterator);
    ::mnt_unref_table(table);
    return points;
}
