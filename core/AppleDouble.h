#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>
#include <string_view>
#include <vector>

// The extended attributes a Mac keeps in an AppleDouble file ("._name") where the file system
// or archive has none. Big-endian throughout: a header (magic 00 05 16 07, version
// 00 02 00 00, 16 filler bytes, an entry count) and entries of (id, offset, length); entry 9,
// Finder Info, holds 32 bytes of Finder info, 2 of padding and then an "ATTR" block, whose
// entries (offset, length, flags, name length, NUL-terminated name padded to 4 bytes) point
// at the values inside that entry.
class AppleDouble
{
public:
    struct Attribute
    {
        std::string_view name;
        QByteArrayView value;
    };

    // The attributes in `bytes`, the first bytes of a file of `fileSize` bytes. Nothing when
    // they are not a well-formed AppleDouble file: another magic or version, an entry or
    // value that lies beyond the file or its Finder Info entry, a count that runs off the
    // end, a name without its NUL, or a Finder Info entry that `bytes` does not hold whole.
    // A file without the "ATTR" block is well formed and carries no attribute.
    // Never reads outside `bytes`.
    static std::optional<AppleDouble> parse(QByteArray bytes, quint64 fileSize);

    // How many leading bytes parse() needs from a file of `fileSize` bytes that begins with
    // `head`: up to the end of the entry table and of the Finder Info entry. 0 when `head`
    // is not the start of an AppleDouble file.
    static quint64 extentNeeded(QByteArrayView head, quint64 fileSize);

    // The value stored under the macOS name `name` (the first, if stored twice).
    std::optional<QByteArrayView> value(std::string_view name) const;

    // Every attribute, in stored order; views into this object.
    std::vector<Attribute> attributes() const;

private:
    struct Entry
    {
        quint32 nameOffset;
        quint32 nameLength; // without the NUL
        quint32 valueOffset;
        quint32 valueLength;
    };

    Attribute attribute(const Entry& entry) const;

    QByteArray m_bytes;
    std::vector<Entry> m_entries;
};
