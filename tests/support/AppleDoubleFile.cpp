#include "tests/support/AppleDoubleFile.h"

#include <algorithm>

namespace {

constexpr qsizetype kFinderInfoLength = 3760;
constexpr qsizetype kResourceForkLength = 286;

qsizetype padded(qsizetype size)
{
    return (size + 3) & ~qsizetype(3);
}

qsizetype entrySize(const QByteArray& name)
{
    return padded(11 + name.size() + 1);
}

} // namespace

AppleDoubleFile& AppleDoubleFile::add(const QByteArray& name, const QByteArray& value)
{
    m_attributes.append({name, value});
    return *this;
}

void AppleDoubleFile::put32(QByteArray& bytes, qsizetype at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(value >> (24 - 8 * i));
}

void AppleDoubleFile::put16(QByteArray& bytes, qsizetype at, quint16 value)
{
    bytes[at] = char(value >> 8);
    bytes[at + 1] = char(value);
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
    put32(file, 0, 0x00051607);
    put32(file, 4, 0x00020000);
    file.replace(8, 16, "Mac OS X        ");
    put16(file, kEntryCount, 2);
    put32(file, kFinderInfoEntry, 9);
    put32(file, kFinderInfoEntry + 4, 50);
    put32(file, kFinderInfoEntry + 8, quint32(finderInfoLength));
    put32(file, kFinderInfoEntry + 12, 2);
    put32(file, kFinderInfoEntry + 16, quint32(resourceFork));
    put32(file, kFinderInfoEntry + 20, kResourceForkLength);

    file.replace(kAttrHeader, 4, "ATTR");
    put32(file, kAttrHeader + 4, 0x12345678); // debug tag
    put32(file, kAttrHeader + 8, quint32(dataEnd));
    put32(file, kAttrHeader + 12, quint32(dataStart));
    put32(file, kAttrHeader + 16, quint32(dataEnd - dataStart));
    put16(file, kAttrCount, quint16(m_attributes.size()));
    qsizetype value = dataStart;
    for (int i = 0; i < m_attributes.size(); ++i) {
        const auto& [name, content] = m_attributes.at(i);
        const qsizetype at = attrEntry(i);
        put32(file, at, quint32(value));
        put32(file, at + 4, quint32(content.size()));
        file[at + 10] = char(name.size() + 1);
        file.replace(at + 11, name.size(), name);
        file.replace(value, content.size(), content);
        value += content.size();
    }
    file.replace(resourceFork + 16, 43, "This resource fork intentionally left blank");
    return file;
}
