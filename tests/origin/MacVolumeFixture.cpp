#include "tests/origin/MacVolumeFixture.h"

#include "tests/support/TestTree.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QtEndian>

#include <plist/plist.h>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace {

// Creates `table` with `columns` in the database at `path`, with `rows` (null values: NULL).
QString createTable(const QString& path, const QString& table, const QString& columns,
                    const QList<QVariantList>& rows)
{
    QStringList values;
    for (const QVariantList& row : rows) {
        QStringList literals;
        for (const QVariant& value : row) {
            if (value.isNull())
                literals << u"NULL"_s;
            else if (value.typeId() == QMetaType::QByteArray)
                literals << u"X'%1'"_s.arg(QString::fromLatin1(value.toByteArray().toHex()));
            else if (value.typeId() == QMetaType::QString)
                literals << u"'%1'"_s.arg(value.toString().replace(u'\'', u"''"_s));
            else
                literals << QString::number(value.toDouble(), 'g', 17);
        }
        values << QLatin1Char('(') + literals.join(QLatin1Char(',')) + QLatin1Char(')');
    }
    const QString insert = u"INSERT INTO %1 VALUES %2"_s.arg(table, values.join(u','));
    return MacVolumeFixture::execute(path, u"CREATE TABLE %1 (%2);"_s.arg(table, columns) +
                                               (values.isEmpty() ? QString() : insert));
}

} // namespace

QByteArray MacVolumeFixture::provenanceValue(qint64 key, bool littleEndian)
{
    const qint64 stored = littleEndian ? qToLittleEndian(key) : qToBigEndian(key);
    return QByteArray("\x01\x02\x00", 3) + QByteArray(reinterpret_cast<const char*>(&stored), 8);
}

QByteArray MacVolumeFixture::whereFromsPlist(const QStringList& strings)
{
    plist_t array = plist_new_array();
    for (const QString& text : strings)
        plist_array_append_item(array, plist_new_string(text.toUtf8().constData()));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(array, &bytes, &length);
    const QByteArray result(bytes, qsizetype(length));
    plist_to_bin_free(bytes);
    plist_free(array);
    return result;
}

QString MacVolumeFixture::copyReport(TestTree& tree, const QString& relative)
{
    const QString copy = tree.file(relative);
    const int status =
        QProcess::execute(u"cp"_s, {u"-a"_s, u"--attributes-only"_s,
                                    tree.path(u"mac/Users/alice/Downloads/report.pdf"_s), copy});
    return status == 0 ? QString() : u"cp --attributes-only failed for %1"_s.arg(copy);
}

QString MacVolumeFixture::brokenVolume(TestTree& tree, const QString& folder)
{
    const QString volume = tree.folder(folder), events = eventsPath(volume + u"/Users/alice"_s);
    tree.file(folder + u"/private/var/db/SystemPolicyConfiguration/ExecPolicy"_s, QByteArray(2048, 'Z'));
    QDir().mkpath(QFileInfo(events).path());
    if (!QFile::copy(eventsPath(tree.path(u"mac/Users/alice"_s)), events))
        return u"cannot copy %1"_s.arg(events);
    return copyReport(tree, folder + u"/Users/alice/Downloads/report.pdf"_s);
}

QString MacVolumeFixture::execute(const QString& path, const QString& sql)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    sqlite3* db = nullptr;
    QString error;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK ||
        sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        error = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_close(db);
    return error;
}

QString MacVolumeFixture::writeQuarantineEvents(const QString& path, const QList<QVariantList>& rows)
{
    return createTable(
        path, u"LSQuarantineEvent"_s,
        QStringLiteral("LSQuarantineEventIdentifier TEXT PRIMARY KEY NOT NULL, LSQuarantineTimeStamp REAL, "
                       "LSQuarantineAgentBundleIdentifier TEXT, LSQuarantineAgentName TEXT, "
                       "LSQuarantineDataURLString TEXT, LSQuarantineSenderName TEXT, "
                       "LSQuarantineSenderAddress TEXT, LSQuarantineTypeNumber INTEGER, "
                       "LSQuarantineOriginTitle TEXT, LSQuarantineOriginURLString TEXT, "
                       "LSQuarantineOriginAlias BLOB"),
        rows);
}

QString MacVolumeFixture::execPolicyPath(const QString& volume)
{
    return volume + u"/private/var/db/SystemPolicyConfiguration/ExecPolicy"_s;
}

QString MacVolumeFixture::eventsPath(const QString& home)
{
    return home + u"/Library/Preferences/com.apple.LaunchServices.QuarantineEventsV2"_s;
}

QString MacVolumeFixture::populate(TestTree& tree, const QString& folder)
{
    const QString volume = tree.folder(folder);
    const QByteArray cdhash = QByteArray::fromHex("5f3e0d1c2b3a49586776859403a2b1c0d9e8f7a6");
    QString error = createTable(
        execPolicyPath(volume), u"provenance_tracking"_s,
        u"pk INTEGER PRIMARY KEY, url TEXT NOT NULL, bundle_id TEXT, cdhash TEXT, team_identifier TEXT, "
        "signing_identifier TEXT, flags INTEGER, timestamp INTEGER NOT NULL, link_pk INTEGER"_s,
        {{4242, u"file:///Applications/Tool.app/"_s, u"com.example.tool"_s, cdhash, u"ABCDE12345"_s,
          u"com.example.tool"_s, 2, 1699999999, QVariant()},
         {77, u"file:///Applications/Other.app/"_s, QVariant(), u"text-hash"_s, QVariant(), QVariant(),
          QVariant(), 1700000000, 4242}});
    if (error.isEmpty())
        error = writeQuarantineEvents(
            eventsPath(volume + u"/Users/alice"_s),
            {{QString::fromLatin1(kAliceEvent), 726842767.25, u"com.apple.Safari"_s, u"Safari"_s,
              u"https://example.org/files/report.pdf"_s, QVariant(), QVariant(), 0, u"Downloads"_s,
              u"https://example.org/downloads"_s, QVariant()}});
    if (error.isEmpty())
        error = writeQuarantineEvents(
            eventsPath(volume + u"/Users/bob"_s),
            {{QString::fromLatin1(kBobEvent), 700000000.0, u"com.apple.mail"_s, u"Mail"_s, QVariant(),
              u"Carol"_s, u"carol@example.org"_s, 2, QVariant(), QVariant(), QByteArray("alias")}});
    if (!error.isEmpty())
        return error;

    const QString report = tree.file(folder + u"/Users/alice/Downloads/report.pdf"_s, "%PDF");
    tree.setProvenance(report, provenanceValue(4242));
    tree.setQuarantine(report, QByteArray("00c1;65a1b2c3;Safari;") + kAliceEvent);
    tree.setRawAttribute(
        QFile::encodeName(report), "user.com.apple.metadata:kMDItemWhereFroms",
        whereFromsPlist({u"https://example.org/files/report.pdf"_s, u"https://example.org/downloads"_s}));
    const QString mail = tree.file(folder + u"/Users/bob/mail.txt"_s);
    // As a Samba share stores them: another name, one NUL more.
    tree.setRawAttribute(QFile::encodeName(mail), "user.DosStream.com.apple.provenance:$DATA",
                         provenanceValue(77, false) + '\0');
    tree.setRawAttribute(QFile::encodeName(mail), "user.DosStream.com.apple.quarantine:$DATA",
                         "0082;65a1b2c3;Mail;" + QByteArray(kBobEvent).toLower() + '\0');
    return {};
}

QString MacVolumeFixture::withoutPlainFields(const QString& line)
{
    static const QRegularExpression plain(QStringLiteral(
        R"re(,"(fileName|filePath|fileNameBase64|filePathBase64|provenance|provenanceApp|quarantineAgent|size|)re"
        R"re(inode|modified|changed|accessed|born)":("([^"\\]|\\.)*"|[^,}]*)|,"attributes":\[(\{[^{}]*\},?)*\])re"
        R"re(|,"source":\{[^{}]*\})re"));
    return QString(line).remove(plain);
}
