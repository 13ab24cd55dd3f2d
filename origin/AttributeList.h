#pragma once

#include <QByteArray>
#include <QList>
#include <QString>


class AppleDouble;
class XattrSnapshot;

// Every extended attribute an item carries, named as the Mac names it (without a Linux
// "user.", "osx." or Samba stream form), for the details pane and JSON lines: analysts want
// to see what else is attached (com.apple.macl, com.apple.lastuseddate#PS, …). Values are
// kept up to kShownBytes; the size is the whole value's.
class AttributeList
{
public:
    static constexpr qsizetype kShownBytes = 4096;

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

    // The attributes of one item, read once.
    static QList<Entry> of(const XattrSnapshot& snapshot);
    // The attributes an AppleDouble file holds.
    static QList<Entry> of(const AppleDouble& sidecar);

    // The Mac's name of a Linux attribute name; empty for the kernel's own namespaces
    // (security., system., trusted.), which no Mac wrote.
    static QString macName(const QByteArray& linuxName);

private:
    static Entry entry(const QByteArray& linuxName, QString name, QByteArray value);
};
