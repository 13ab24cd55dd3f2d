#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// Builds an AppleDouble file as the Finder writes one, from the published format: a header
// with two entries (Finder Info, then the resource fork), 32 bytes of Finder info, 2 of
// padding, the "ATTR" block with its entries and the values, the Finder Info entry padded to
// 3760 bytes, and a 286-byte resource fork. Tests damage the result at the offsets below.
class AppleDoubleFile
{
public:
    // Adds an attribute; names are stored with their NUL.
    AppleDoubleFile& add(const QByteArray& name, const QByteArray& value);

    QByteArray bytes() const;

    // Offsets into bytes().
    static constexpr qsizetype kEntryCount = 24;      // the header's entry count, 2 bytes
    static constexpr qsizetype kFinderInfoEntry = 26; // id, offset, length of entry 9
    static constexpr qsizetype kAttrHeader = 84;      // "ATTR"
    static constexpr qsizetype kAttrCount = kAttrHeader + 34;
    static constexpr qsizetype kFirstAttr = kAttrHeader + 36;
    // Where attribute `index` (offset, length, flags, name length, name) begins.
    qsizetype attrEntry(int index) const;

    // A big-endian number written into `bytes` at `at`.
    static void put32(QByteArray& bytes, qsizetype at, quint32 value);
    static void put16(QByteArray& bytes, qsizetype at, quint16 value);

private:
    QList<QPair<QByteArray, QByteArray>> m_attributes;
};
