#include "tests/origin/MacVolumeFixture.h"

#include "tests/support/TestTree.h"

#include <QDir>
#include <QRegularExpression>
#include <QFileInfo>
#include <QProcess>
#include <QtEndian>

#include <plist/plist.h>
#include <sqlite3.h>

QByteArray MacVolumeFixture::provenanceValue(qint64 key, bool littleEndian)
{
    QByteArray value("\x01\x02\x00", 3);
    char bytes[8];
    if (littleEndian)
        qToLittleEndian(key, bytes);
    else
        qToBigEndian(key, bytes);
    return value + QByteArray(bytes, 8);
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
    const int status = QProcess::execute(
        QStringLiteral("cp"), {QStringLiteral("-a"), QStringLiteral("--attributes-only"),
                               tree.path(QStringLiteral("mac/Users/alice/Downloads/report.pdf")), copy});
    return status == 0 ? QString() : QStringLiteral("cp --attributes-only failed for %1").arg(copy);
}

QString MacVolumeFixture::brokenVolume(TestTree& tree, const QString& folder)
{
    const QString volume = tree.folder(folder), events = eventsPath(volume + QStringLiteral("/Users/alice"));
    tree.file(folder + QStringLiteral("/private/var/db/SystemPolicyConfiguration/ExecPolicy"), QByteArray(2048, 'Z'));
    QDir().mkpath(QFileInfo(events).path());
    if (!QFile::copy(eventsPath(tree.path(QStringLiteral("mac/Users/alice"))), events))
        return QStringLiteral("cannot copy %1").arg(events);
    return copyReport(tree, folder + QStringLiteral("/Users/alice/Downloads/report.pdf"));
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

QString MacVolumeFixture::createTable(const QString& path, const QString& table, const QString& columns,
                                      const QList<QVariantList>& rows)
{
    QStringList values;
    for (const QVariantList& row : rows) {
        QStringList literals;
        for (const QVariant& value : row) {
            if (value.isNull())
                literals << QStringLiteral("NULL");
            else if (value.typeId() == QMetaType::QByteArray)
                literals << QStringLiteral("X'%1'").arg(QString::fromLatin1(value.toByteArray().toHex()));
            else if (value.typeId() == QMetaType::QString)
                literals << QLatin1Char('\'') + value.toString().replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
            else
                literals << QString::number(value.toDouble(), 'g', 17);
        }
        values << QLatin1Char('(') + literals.join(QLatin1Char(',')) + QLatin1Char(')');
    }
    return execute(path, QStringLiteral("CREATE TABLE %1 (%2);").arg(table, columns) +
                             (values.isEmpty() ? QString() : QStringLiteral("INSERT INTO %1 VALUES %2").arg(table, values.join(QLatin1Char(',')))));
}

QString MacVolumeFixture::writeQuarantineEvents(const QString& path, const QList<QVariantList>& rows)
{
    return createTable(path, QStringLiteral("LSQuarantineEvent"),
                       QStringLiteral("LSQuarantineEventIdentifier TEXT PRIMARY KEY NOT NULL, LSQuarantineTimeStamp REAL, "
                                      "LSQuarantineAgentBundleIdentifier TEXT, LSQuarantineAgentName TEXT, "
                                      "LSQuarantineDataURLString TEXT, LSQuarantineSenderName TEXT, "
                                      "LSQuarantineSenderAddress TEXT, LSQuarantineTypeNumber INTEGER, "
                                      "LSQuarantineOriginTitle TEXT, LSQuarantineOriginURLString TEXT, "
                                      "LSQuarantineOriginAlias BLOB"),
                       rows);
}

QString MacVolumeFixture::writeExecPolicy(const QString& path, const QList<QVariantList>& rows)
{
    return createTable(path, QStringLiteral("provenance_tracking"),
                       QStringLiteral("pk INTEGER PRIMARY KEY, url TEXT NOT NULL, bundle_id TEXT, cdhash TEXT, "
                                      "team_identifier TEXT, signing_identifier TEXT, flags INTEGER, "
                                      "timestamp INTEGER NOT NULL, link_pk INTEGER"),
                       rows);
}

QString MacVolumeFixture::execPolicyPath(const QString& volume)
{
    return volume + QStringLiteral("/private/var/db/SystemPolicyConfiguration/ExecPolicy");
}

QString MacVolumeFixture::eventsPath(const QString& home)
{
    return home + QStringLiteral("/Library/Preferences/com.apple.LaunchServices.QuarantineEventsV2");
}

QString MacVolumeFixture::populate(TestTree& tree, const QString& folder)
{
    const QString volume = tree.folder(folder);
    const QByteArray cdhash = QByteArray::fromHex("5f3e0d1c2b3a49586776859403a2b1c0d9e8f7a6");
    QString error = writeExecPolicy(
        execPolicyPath(volume),
        {{4242, QStringLiteral("file:///Applications/Tool.app/"), QStringLiteral("com.example.tool"), cdhash,
          QStringLiteral("ABCDE12345"), QStringLiteral("com.example.tool"), 2, 1699999999, QVariant()},
         {77, QStringLiteral("file:///Applications/Other.app/"), QVariant(), QStringLiteral("text-hash"),
          QVariant(), QVariant(), QVariant(), 1700000000, 4242}});
    if (error.isEmpty())
        error = writeQuarantineEvents(
            eventsPath(volume + QStringLiteral("/Users/alice")),
            {{QString::fromLatin1(kAliceEvent), 726842767.25, QStringLiteral("com.apple.Safari"),
              QStringLiteral("Safari"), QStringLiteral("https://example.org/files/report.pdf"), QVariant(),
              QVariant(), 0, QStringLiteral("Downloads"), QStringLiteral("https://example.org/downloads"),
              QVariant()}});
    if (error.isEmpty())
        error = writeQuarantineEvents(
            eventsPath(volume + QStringLiteral("/Users/bob")),
            {{QString::fromLatin1(kBobEvent), 700000000.0, QStringLiteral("com.apple.mail"),
              QStringLiteral("Mail"), QVariant(), QStringLiteral("Carol"),
              QStringLiteral("carol@example.org"), 2, QVariant(), QVariant(), QByteArray("alias")}});
    if (!error.isEmpty())
        return error;

    const QString report = tree.file(folder + QStringLiteral("/Users/alice/Downloads/report.pdf"), "%PDF");
    tree.setProvenance(report, provenanceValue(4242));
    tree.setQuarantine(report, QByteArray("00c1;65a1b2c3;Safari;") + kAliceEvent);
    tree.setRawAttribute(QFile::encodeName(report), "user.com.apple.metadata:kMDItemWhereFroms",
                         whereFromsPlist({QStringLiteral("https://example.org/files/report.pdf"),
                                          QStringLiteral("https://example.org/downloads")}));
    const QString mail = tree.file(folder + QStringLiteral("/Users/bob/mail.txt"));
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
