#include "image/ApfsVolumeSuperblock.h"

#include <QtEndian>

namespace {

// Offsets in apfs_superblock_t, after its 32-byte object header.
constexpr qsizetype kMagicOffset = 32;
constexpr qsizetype kFlagsOffset = 264;
constexpr qsizetype kNameOffset = 704;
constexpr qsizetype kNameSize = 256;
constexpr qsizetype kRoleOffset = 964;
constexpr quint64 kUnencrypted = 0x1;

// Roles from 0x40 on are numbers, not bits.
QString roleName(quint16 role)
{
    switch (role) {
    case 0x0000:
        return {};
    case 0x0001:
        return QStringLiteral("System");
    case 0x0002:
        return QStringLiteral("User");
    case 0x0004:
        return QStringLiteral("Recovery");
    case 0x0008:
        return QStringLiteral("VM");
    case 0x0010:
        return QStringLiteral("Preboot");
    case 0x0020:
        return QStringLiteral("Installer");
    case 0x0040:
        return QStringLiteral("Data");
    case 0x0080:
        return QStringLiteral("Baseband");
    case 0x00C0:
        return QStringLiteral("Update");
    case 0x0100:
        return QStringLiteral("xART");
    case 0x0140:
        return QStringLiteral("Hardware");
    case 0x0180:
        return QStringLiteral("Backup");
    case 0x0200:
        return QStringLiteral("Enterprise");
    case 0x0280:
        return QStringLiteral("Prelogin");
    default:
        return QStringLiteral("0x%1").arg(role, 4, 16, QLatin1Char('0'));
    }
}

} // namespace

std::optional<ApfsVolumeSuperblock> ApfsVolumeSuperblock::parse(QByteArrayView bytes)
{
    if (bytes.size() < kSize || bytes.sliced(kMagicOffset, 4) != QByteArrayView("APSB"))
        return std::nullopt;
    const auto* data = reinterpret_cast<const uchar*>(bytes.data());
    ApfsVolumeSuperblock superblock;
    superblock.role = roleName(qFromLittleEndian<quint16>(data + kRoleOffset));
    superblock.encrypted = !(qFromLittleEndian<quint64>(data + kFlagsOffset) & kUnencrypted);
    // A name that fills its field has no NUL: it ends with the field.
    QByteArrayView name = bytes.sliced(kNameOffset, kNameSize);
    if (const qsizetype end = name.indexOf('\0'); end >= 0)
        name.truncate(end);
    superblock.name = QString::fromUtf8(name);
    return superblock;
}
