#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <sys/types.h>

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
        // Sized first: the kernel sets aside as much as a call offers to take.
        const QByteArray names = fetch([&calls](char* buffer, size_t size) { return calls.list(buffer, size); });
        QList<Entry> entries;
        for (const QByteArray& name : names.split('\0')) {
            if (name.isEmpty() || macName(name).isEmpty())
                continue;
            const QByteArray value =
                fetch([&](char* buffer, size_t size) { return calls.get(name.constData(), buffer, size); });
            if (!value.isNull())
                entries.append(entry(name, value));
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
    // What `call` (listxattr or getxattr semantics) gives, at most kReadBytes; a null array
    // when it fails.
    template<typename Call> static QByteArray fetch(Call call)
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            const ssize_t size = call(nullptr, 0);
            if (size < 0)
                return {};
            QByteArray bytes(std::min<qsizetype>(size, kReadBytes), Qt::Uninitialized);
            const ssize_t got = bytes.isEmpty() ? 0 : call(bytes.data(), size_t(bytes.size()));
            if (got >= 0) {
                bytes.truncate(got);
                return bytes.isNull() ? QByteArray("", 0) : bytes;
            }
            if (errno != ERANGE)
                return {};
        }
        return {};
    }
};
