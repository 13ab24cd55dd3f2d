#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

class TestTree;

// Real Mac databases for tests: SQLite files with the schemas a Mac uses, written with
// libsqlite3, and binary property lists written with libplist.
class MacVolumeFixture
{
public:
    static constexpr char kAliceEvent[] = "2A7B3C4D-1111-4222-8333-944455566677";
    static constexpr char kBobEvent[] = "5E6F7A8B-AAAA-4BBB-8CCC-DDDDEEEEFFFF";
    static QString execPolicyPath(const QString& volume);
    static QString eventsPath(const QString& home);

    // A Mac volume in `tree` at `folder`: ExecPolicy with rows 4242 and 77, the users alice
    // and bob with a quarantine event each, and two files linked to them:
    // Users/alice/Downloads/report.pdf (little-endian key 4242, Safari, two where-froms) and
    // Users/bob/mail.txt (big-endian key 77, Mail, in Samba's form, id in lower case).
    // Returns an empty text, or what failed.
    static QString populate(TestTree& tree, const QString& folder);
    // A file at `relative` with the attributes of the populated volume "mac"'s report.pdf.
    static QString copyReport(TestTree& tree, const QString& relative);
    // A volume at `folder` whose ExecPolicy is not a database, with alice's events database
    // and Users/alice/Downloads/report.pdf copied from "mac".
    static QString brokenVolume(TestTree& tree, const QString& folder);

    // An 11-byte provenance value whose last 8 bytes are `key`, little- or big-endian.
    static QByteArray provenanceValue(qint64 key, bool littleEndian = true);
    // A binary property list holding `strings` as an array.
    static QByteArray whereFromsPlist(const QStringList& strings);

    // Creates `path` with table LSQuarantineEvent and one row per entry of `rows`, each the
    // eleven columns in schema order (null QVariants become NULL). Empty text on success.
    static QString writeQuarantineEvents(const QString& path, const QList<QVariantList>& rows);
    // A JSON line without the file's plain values, times, sources and attribute list: what is
    // left is the origin.
    static QString withoutPlainFields(const QString& line);
    // Runs `sql` (statements separated by ";") on a new or existing database at `path`.
    static QString execute(const QString& path, const QString& sql);
};
