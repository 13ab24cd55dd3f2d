// The mount-table parser over arbitrary bytes: absolute, distinct mount points outside the
// pseudo file systems; and every point it gives, written back with its escapes, reads back
// as itself.
#include "tools/findapps/MountTable.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool below(const QByteArray& path, const QByteArray& folder)
{
    return path == folder || path.startsWith(folder + '/');
}

QByteArray escaped(const QByteArray& field)
{
    QByteArray out;
    for (const char c : field) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\')
            out += '\\' + QByteArray::number(uchar(c), 8).rightJustified(3, '0');
        else
            out += c;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray table(reinterpret_cast<const char*>(data), qsizetype(size));
    const QByteArrayList points = MountTable::volumeMountPoints(table);
    for (qsizetype i = 0; i < points.size(); ++i) {
        const QByteArray& point = points.at(i);
        if (!point.startsWith('/') || points.indexOf(point) != i || below(point, "/proc") ||
            below(point, "/sys") || below(point, "/dev"))
            std::abort();
        const QByteArray line =
            "36 35 98:0 / " + escaped(point) + " rw,noatime master:1 - ext4 /dev/vda rw\n";
        if (MountTable::volumeMountPoints(line) != QByteArrayList{point})
            std::abort();
    }
    return 0;
}
