#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <algorithm>

class AppleDouble;

// Every extended attribute an item carries, named as the Mac names it (without a Linux
// "user.", "osx." or Samba stream form), for the details pane and JSON lines: analysts want
// to see what else is attached (com.apple.macl, com.apple.lastuseddate#PS, …). Values are
// kept up to kShownBytes; the size is the whole value's.
class AttributeList
{
public:
    static constexpr qsizetype kShownBytes = 4096;
    // The most read of one value: Linux values are at most 64 KiB.
    static constexpr qsizetype kReadBytes = 64 * 1024;

    struct Entry
    {
        QString name;
        qsizetype size = 0;
        QByteArray value;         // the first kShownBytes
        bool fromSidecar = false; // read from the item's AppleDouble file

        // The value as text where it is printable UTF-8 ("utf-8"), else as hex ("hex"),
        // ending in " …" when only its start is kept.
        QString text(QString* encoding) const;
        friend bool operator==(const Entry&, const Entry&) = default;
    };

    // The attributes behind the calls `list` and `get` (see PathXattrCalls) of one item.
    template<typename Calls> static QList<Entry> of(Calls& calls)
    {
        QByteArray names(kReadBytes, Qt::Uninitialized);
        const ssize_t length = calls.list(names.data(), size_t(names.size()));
        if (length <= 0)
            return {};
        names.truncate(length);
        QList<Entry> entries;
        for (const QByteArray& name : names.split('\0')) {
            if (name.isEmpty() || macName(name).isEmpty())
                continue;
            QByteArray value(kReadBytes, Qt::Uninitialized);
            const ssize_t size = calls.get(name.constData(), value.data(), size_t(value.size()));
            if (size >= 0)
                entries.append(entry(name, value.left(size)));
        }
        // The kernel lists them in no set order.
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.name < b.name; });
        return entries;
    }
    // The attributes an AppleDouble file holds.
    static QList<Entry> of(const AppleDouble& sidecar);

    // The Mac's name of a Linux attribute name; empty for the kernel's own namespaces
    // (security., system., trusted.), which no Mac wrote.
    static QString macName(const QByteArray& linuxName);

private:
    static Entry entry(const QByteArray& linuxName, QByteArray value);
};
