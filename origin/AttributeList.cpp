#include "origin/AttributeList.h"

#include "core/AppleDouble.h"
#include "origin/XattrSnapshot.h"

#include <algorithm>

namespace {

const QByteArray kStream = QByteArrayLiteral("user.DosStream.");
const QByteArray kStreamType = QByteArrayLiteral(":$DATA");

bool isPrintable(const QString& text)
{
    return std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || (u >= 0x7F && u <= 0x9F) ||
               u == 0xFFFD;
    });
}

} // namespace

QString AttributeList::macName(const QByteArray& linuxName)
{
    for (const char* kernel : {"security.", "system.", "trusted."}) {
        if (linuxName.startsWith(kernel))
            return {};
    }
    QByteArrayView name = linuxName;
    if (name.startsWith(kStream)) {
        name = name.sliced(kStream.size());
        if (name.endsWith(kStreamType))
            name.chop(kStreamType.size());
    } else if (name.startsWith("user.")) {
        name = name.sliced(5);
    } else if (name.startsWith("osx.")) {
        name = name.sliced(4);
    }
    return QString::fromUtf8(name);
}

AttributeList::Entry AttributeList::entry(const QByteArray& linuxName, QString name, QByteArray value)
{
    // Samba stores a stream with one NUL more than the Mac wrote.
    if (linuxName.startsWith(kStream) && value.endsWith('\0'))
        value.chop(1);
    Entry entry{std::move(name), value.size(), value.left(kShownBytes), false};
    return entry;
}

QList<AttributeList::Entry> AttributeList::of(const XattrSnapshot& snapshot)
{
    QList<Entry> entries;
    entries.reserve(snapshot.values().size());
    for (const XattrSnapshot::Value& value : snapshot.values()) {
        if (QString name = macName(value.name); value.error == 0 && !name.isEmpty())
            entries.append(entry(value.name, std::move(name), value.bytes));
    }
    // The kernel lists them in no set order.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

QList<AttributeList::Entry> AttributeList::of(const AppleDouble& sidecar)
{
    QList<Entry> entries;
    for (const AppleDouble::Attribute& attribute : sidecar.attributes()) {
        const QByteArray name(attribute.name.data(), qsizetype(attribute.name.size()));
        entries.append({QString::fromUtf8(name), attribute.value.size(),
                        attribute.value.first(std::min(attribute.value.size(), kShownBytes)).toByteArray(), true});
    }
    return entries;
}

QString AttributeList::Entry::text(QString* encoding) const
{
    const bool cut = size > value.size();
    // A cut may end inside a character: the text stops before it.
    QByteArrayView bytes(value);
    for (int i = 0; cut && i < 3 && !bytes.isValidUtf8(); ++i)
        bytes.chop(1);
    const QString utf8 = QString::fromUtf8(bytes);
    const bool printable = bytes.isValidUtf8() && isPrintable(utf8);
    *encoding = printable ? QStringLiteral("utf-8") : QStringLiteral("hex");
    const QString shown = printable ? utf8 : QString::fromLatin1(value.toHex());
    return cut ? shown + QStringLiteral(" …") : shown;
}
