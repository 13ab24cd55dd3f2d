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
    return binaryPlist(array);
}

QByteArray MacVolumeFixture::binaryPlist(void* plist)
{
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(plist, &bytes, &length);
    const QByteArray result(bytes, qsizetype(length));
    plist_to_bin_free(bytes);
    plist_free(plist);
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

QString MacVolumeFixture::brokenVolume(TestTree& tree, const QString& folder, bool withEvents)
{
    const QString volume = tree.folder(folder);
    if (const QString error = copyReport(tree, folder + QStringLiteral("/Users/alice/Downloads/report.pdf"));
        !error.isEmpty())
        return error;
    QDir().mkpath(QFileInfo(execPolicyPath(volume)).path());
    QFile garbage(execPolicyPath(volume));
    if (!garbage.open(QIODevice::WriteOnly) || garbage.write(QByteArray(2048, '\x5a')) != 2048)
        return garbage.errorString();
    garbage.close();
    if (!withEvents)
        return {};
    const QString events = eventsPath(volume + QStringLiteral("/Users/alice"));
    QDir().mkpath(QFileInfo(events).path());
    if (!QFile::copy(eventsPath(tree.path(QStringLiteral("mac/Users/alice"))), events))
        return QStringLiteral("cannot copy %1").arg(events);
    return {};
}

QString MacVolumeFixture::execute(const QString& path, const QString& sql, const QList<QVariantList>& rows)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK)
        return QString::fromUtf8(sqlite3_errmsg(db));
    QString error;
    sqlite3_stmt* statement = nullptr;
    const QByteArray text = sql.toUtf8();
    if (rows.isEmpty()) {
        if (sqlite3_exec(db, text.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
            error = QString::fromUtf8(sqlite3_errmsg(db));
    } else if (sqlite3_prepare_v2(db, text.constData(), -1, &statement, nullptr) != SQLITE_OK) {
        error = QString::fromUtf8(sqlite3_errmsg(db));
    } else {
        for (const QVariantList& row : rows) {
            sqlite3_reset(statement);
            for (int i = 0; i < row.size(); ++i) {
                const QVariant& value = row.at(i);
                if (value.isNull())
                    sqlite3_bind_null(statement, i + 1);
                else if (value.typeId() == QMetaType::QByteArray)
                    sqlite3_bind_blob(statement, i + 1, value.toByteArray().constData(),
                                      int(value.toByteArray().size()), SQLITE_TRANSIENT);
                else if (value.typeId() == QMetaType::Double)
                    sqlite3_bind_double(statement, i + 1, value.toDouble());
                else if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int)
                    sqlite3_bind_int64(statement, i + 1, value.toLongLong());
                else
                    sqlite3_bind_text(statement, i + 1, value.toString().toUtf8().constData(), -1,
                                      SQLITE_TRANSIENT);
            }
            if (sqlite3_step(statement) != SQLITE_DONE) {
                error = QString::fromUtf8(sqlite3_errmsg(db));
                break;
            }
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return error;
}

QString MacVolumeFixture::writeQuarantineEvents(const QString& path, const QList<QVariantList>& rows)
{
    const QString error = execute(
        path, QStringLiteral(
                  "CREATE TABLE LSQuarantineEvent (LSQuarantineEventIdentifier TEXT PRIMARY KEY NOT NULL, "
                  "LSQuarantineTimeStamp REAL, LSQuarantineAgentBundleIdentifier TEXT, "
                  "LSQuarantineAgentName TEXT, LSQuarantineDataURLString TEXT, "
                  "LSQuarantineSenderName TEXT, LSQuarantineSenderAddress TEXT, "
                  "LSQuarantineTypeNumber INTEGER, LSQuarantineOriginTitle TEXT, "
                  "LSQuarantineOriginURLString TEXT, LSQuarantineOriginAlias BLOB)"));
    if (!error.isEmpty() || rows.isEmpty())
        return error;
    return execute(path, QStringLiteral("INSERT INTO LSQuarantineEvent VALUES (?,?,?,?,?,?,?,?,?,?,?)"),
                   rows);
}

QString MacVolumeFixture::writeExecPolicy(const QString& path, const QList<QVariantList>& rows)
{
    const QString error = execute(
        path, QStringLiteral("CREATE TABLE provenance_tracking (pk INTEGER PRIMARY KEY, url TEXT NOT NULL, "
                             "bundle_id TEXT, cdhash TEXT, team_identifier TEXT, signing_identifier TEXT, "
                             "flags INTEGER, timestamp INTEGER NOT NULL, link_pk INTEGER)"));
    if (!error.isEmpty() || rows.isEmpty())
        return error;
    return execute(path, QStringLiteral("INSERT INTO provenance_tracking VALUES (?,?,?,?,?,?,?,?,?)"), rows);
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
        R"re(inode|modified|changed|accessed|born)":("([^"\\]|\\.)*"|[^,}]*))re"));
    static const QRegularExpression attributes(QStringLiteral(R"re(,"attributes":\[(\{[^{}]*\},?)*\])re"));
    static const QRegularExpression source(QStringLiteral(R"re(,"source":\{[^{}]*\})re"));
    return QString(line).remove(plain).remove(attributes).remove(source);
}
