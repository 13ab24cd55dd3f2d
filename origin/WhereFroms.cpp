#include "origin/WhereFroms.h"

#include "origin/ValueCap.h"

#include <QtEndian>

namespace {

// A binary property list ("bplist00"): objects, then a table of their offsets, then a
// 32-byte trailer saying where that table is and how wide its numbers are.
class BinaryPlist
{
public:
    explicit BinaryPlist(QByteArrayView bytes) : m_bytes(bytes) {}

    QString open()
    {
        if (m_bytes.size() < 8 + 32 || !m_bytes.startsWith("bplist00"))
            return QStringLiteral("not a binary property list");
        const QByteArrayView trailer = m_bytes.last(32);
        m_offsetSize = uchar(trailer[6]);
        m_refSize = uchar(trailer[7]);
        m_count = qFromBigEndian<quint64>(trailer.data() + 8);
        m_top = qFromBigEndian<quint64>(trailer.data() + 16);
        m_table = qFromBigEndian<quint64>(trailer.data() + 24);
        const auto end = quint64(m_bytes.size() - 32);
        if (!isWidth(m_offsetSize) || !isWidth(m_refSize) || m_count == 0 || m_top >= m_count ||
            m_table < 9 || m_table > end || m_count > (end - m_table) / m_offsetSize)
            return QStringLiteral("its trailer points outside it");
        return {};
    }

    // The offset of object `ref`, or 0 when the table holds no valid one.
    quint64 offsetOf(quint64 ref) const
    {
        if (ref >= m_count)
            return 0;
        const quint64 offset = number(m_table + ref * m_offsetSize, m_offsetSize);
        return offset >= 8 && offset < m_table ? offset : 0;
    }
    quint64 top() const { return m_top; }
    unsigned refSize() const { return m_refSize; }

    // An object's marker, and its length: the low four bits, or (0xF) the integer after it.
    // Sets `start` to the first byte of the object's contents; false when it does not fit.
    bool header(quint64 offset, uchar& marker, quint64& length, quint64& start) const
    {
        marker = uchar(m_bytes[qsizetype(offset)]);
        length = marker & 0x0F;
        start = offset + 1;
        if (length == 0x0F) {
            if (start >= m_table)
                return false;
            const uchar intMarker = uchar(m_bytes[qsizetype(start)]);
            const unsigned width = 1u << (intMarker & 0x0F);
            if ((intMarker & 0xF0) != 0x10 || width > 8 || start + 1 + width > m_table)
                return false;
            length = number(start + 1, width);
            start += 1 + width;
        }
        return true;
    }

    // Whether `size` bytes from `start` lie before the offset table.
    bool fits(quint64 start, quint64 size) const { return start <= m_table && size <= m_table - start; }

    quint64 number(quint64 at, unsigned width) const
    {
        quint64 value = 0;
        for (unsigned i = 0; i < width; ++i)
            value = value << 8 | uchar(m_bytes[qsizetype(at + i)]);
        return value;
    }
    const char* at(quint64 offset) const { return m_bytes.data() + offset; }

private:
    static bool isWidth(unsigned width) { return width == 1 || width == 2 || width == 4 || width == 8; }

    QByteArrayView m_bytes;
    unsigned m_offsetSize = 0;
    unsigned m_refSize = 0;
    quint64 m_count = 0;
    quint64 m_top = 0;
    quint64 m_table = 0;
};

constexpr uchar kAsciiString = 0x50;
constexpr uchar kUtf16String = 0x60;
constexpr uchar kUtf8String = 0x70;
constexpr uchar kArray = 0xA0;

} // namespace

std::optional<QStringList> WhereFroms::parse(QByteArrayView bytes, QString* problem)
{
    const auto fail = [problem](const QString& why) {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    BinaryPlist plist(bytes);
    if (const QString why = plist.open(); !why.isEmpty())
        return fail(why);
    uchar marker = 0;
    quint64 count = 0, refs = 0;
    const quint64 top = plist.offsetOf(plist.top());
    if (top == 0 || !plist.header(top, marker, count, refs) || (marker & 0xF0) != kArray)
        return fail(QStringLiteral("not a list"));
    if (count > quint64(bytes.size()) || !plist.fits(refs, count * plist.refSize()))
        return fail(QStringLiteral("its list runs past its end"));

    QStringList strings;
    strings.reserve(qsizetype(count));
    quint64 expanded = 0;
    for (quint64 i = 0; i < count; ++i) {
        const quint64 offset = plist.offsetOf(plist.number(refs + i * plist.refSize(), plist.refSize()));
        quint64 length = 0, start = 0;
        if (offset == 0 || !plist.header(offset, marker, length, start))
            return fail(QStringLiteral("element %1 is damaged").arg(i));
        const uchar type = marker & 0xF0;
        if (type != kAsciiString && type != kUtf16String && type != kUtf8String)
            return fail(QStringLiteral("element %1 is not a text").arg(i));
        const quint64 size = type == kUtf16String ? length * 2 : length;
        if (length > quint64(bytes.size()) || !plist.fits(start, size))
            return fail(QStringLiteral("element %1 runs past the end").arg(i));
        // The same string may be referenced any number of times: count what it expands to.
        expanded += size;
        if (expanded > quint64(kMaxTextBytes))
            return fail(QStringLiteral("its texts add up to more than %1 bytes").arg(kMaxTextBytes));
        if (type == kUtf16String) {
            QList<char16_t> units(static_cast<qsizetype>(length));
            for (quint64 u = 0; u < length; ++u)
                units[qsizetype(u)] = qFromBigEndian<quint16>(plist.at(start + 2 * u));
            strings.append(ValueCap::fromUtf16(units.constData(), units.size()));
        } else {
            // ASCII strings hold 7-bit text; a byte past that is taken as Latin-1, as written.
            const QByteArrayView text(plist.at(start), qsizetype(size));
            strings.append(type == kAsciiString ? ValueCap::fromUtf8(QString::fromLatin1(text).toUtf8())
                                                : ValueCap::fromUtf8(text));
        }
    }
    return strings;
}
