#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// What `volumes` shows of an APFS volume from its superblock's own bytes: the role, the name
// and whether it is encrypted. Evidence may hold anything there, so every byte is checked.
struct ApfsVolumeSuperblock
{
    QString role; // "System", "Data", ...; "0x…" for a role we do not know; empty for none
    QString name; // up to its first NUL; bytes that are not UTF-8 become U+FFFD
    bool encrypted = false;

    // The bytes needed from the start of the superblock's block.
    static constexpr qsizetype kSize = 966;

    // None when the bytes are too few or are no volume superblock (no "APSB" magic).
    static std::optional<ApfsVolumeSuperblock> parse(QByteArrayView bytes);
};
