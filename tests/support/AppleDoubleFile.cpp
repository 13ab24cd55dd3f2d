#include "tests/support/AppleDoubleFile.h"

#include <QtEndian>

#include <algorithm>
#include <utility>

namespace {

constexpr qsizetype kFinderInfoLength = 3760;
constexpr qsizetype kResourceForkLength = 286;

// Offset, length, flags and name length take 11 bytes, then the name and its NUL, to a multiple of 4.
qsizetype entrySize(const QByteArray& name)
{
    return (11 + name.size() + 1 + 3) & ~qsizetype(3);
}

// Big-endian 32-bit words from `at` on.
void putWords(QByteArray& bytes, qsizetype at, std::initializer_list<qsizetype> words)
{
    for (const qsizetype word : words)
        AppleDoubleFile::put32(bytes, std::exchange(at, at + 4), quint32(word));
}

} // namespace

AppleDoubleFile& AppleDoubleFile::add(const QByteArray& name, const QByteArray& value)
{
    m_attributes.append({name, value});
    return *this;
}

void AppleDoubleFile::put32(QByteArray& bytes, qsizetype at, quint32 value)
{
    qToBigEndian(value, bytes.data() + at);
}

void AppleDoubleFile::put16(QByteArray& bytes, qsizetype at, quint16 value)
{
    qToBigEndian(value, bytes.data() + at);
}

qsizetype AppleDoubleFile::attrEntry(int index) const
{
    qsizetype at = kFirstAttr;
    for (int i = 0; i < index; ++i)
        at += entrySize(m_attributes.at(i).first);
    return at;
}

QByteArray AppleDoubleFile::bytes() const
{
    const qsizetype dataStart = attrEntry(int(m_attributes.size()));
    qsizetype dataEnd = dataStart;
    for (const auto& attribute : m_attributes)
        dataEnd += attribute.second.size();
    const qsizetype finderInfoLength = std::max(kFinderInfoLength, dataEnd - 50);
    const qsizetype resourceFork = 50 + finderInfoLength;

    QByteArray file(resourceFork + kResourceForkLength, '\0');
    file.replace(8, 16, "Mac OS X        ");
    file.replace(kAttrHeader, 4, "ATTR");
    putWords(file, 0, {0x00051607, 0x00020000}); // magic, version
    // Entries 9 (Finder Info) and 2 (resource fork): id, offset, length.
    putWords(file, kFinderInfoEntry, {9, 50, finderInfoLength, 2, resourceFork, kResourceForkLength});
    // ATTR's debug tag, total size, where the values start and their length.
    putWords(file, kAttrHeader + 4, {0x12345678, dataEnd, dataStart, dataEnd - dataStart});
    put16(file, kEntryCount, 2);
    put16(file, kAttrCount, quint16(m_attributes.size()));
    qsizetype value = dataStart;
    for (int i = 0; i < m_attributes.size(); ++i) {
        const auto& [name, content] = m_attributes.at(i);
        const qsizetype at = attrEntry(i);
        putWords(file, at, {value, content.size()});
        file[at + 10] = char(name.size() + 1);
        file.replace(at + 11, name.size(), name);
        file.replace(value, content.size(), content);
        value += content.size();
    }
    file.replace(resourceFork + 16, 43, "This resource fork intentionally left blank");
    return file;
}
