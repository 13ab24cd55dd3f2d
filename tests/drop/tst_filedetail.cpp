#include "drop/FileDetail.h"

#include <QCborValue>
#include <QJsonDocument>
#include <QtTest>

class TestFileDetail : public QObject
{
    Q_OBJECT

private slots:
    void defaults();
    void exportText_data();
    void exportText();
    void cborRoundTrip();
    void jsonRoundTrip();
    void keysInOrder();
    void cborFailures_data();
    void cborFailures();
    void jsonFailures_data();
    void jsonFailures();
    void nullUuidIsStillAUuid();

private:
    static FileDetail sample();
};

FileDetail TestFileDetail::sample()
{
    FileDetail detail;
    detail.name = QStringLiteral("Résumé | final.pdf");
    detail.path = QStringLiteral("/home/ada/R%C3%A9sum%C3%A9%20%7C%20final.pdf");
    detail.provenanceID = QStringLiteral("❓ 0x01020304");
    detail.quarantineApp = QStringLiteral("🔸 \"Safari\"");
    return detail;
}

void TestFileDetail::defaults()
{
    const FileDetail first;
    const FileDetail second;
    QVERIFY(!first.id.isNull());
    QCOMPARE(first.id.version(), QUuid::Random);
    QVERIFY(first.id != second.id);
    QVERIFY(first.name.isEmpty());
    QVERIFY(first.path.isEmpty());
    QVERIFY(first.provenanceID.isEmpty());
    QVERIFY(first.quarantineApp.isEmpty());
    QCOMPARE(first.exportText(), QStringLiteral(" |  |  | "));
}

void TestFileDetail::exportText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("provenance");
    QTest::addColumn<QString>("quarantine");
    QTest::addColumn<QString>("expected");

    QTest::newRow("neither value") << QStringLiteral("a.txt") << QStringLiteral("/tmp/a.txt") << QString()
                                   << QString() << QStringLiteral("a.txt | /tmp/a.txt |  | ");
    QTest::newRow("both values") << QStringLiteral("a b") << QStringLiteral("/x/a%20b")
                                 << QStringLiteral("✅ /Applications/Foo.app") << QStringLiteral("🔸 Safari")
                                 << QStringLiteral("a b | /x/a%20b | ✅ /Applications/Foo.app | 🔸 Safari");
    QTest::newRow("quarantine only") << QStringLiteral("f") << QStringLiteral("/f") << QString()
                                     << QStringLiteral("🔸 unknown")
                                     << QStringLiteral("f | /f |  | 🔸 unknown");
    QTest::newRow("provenance only") << QStringLiteral("f") << QStringLiteral("/f")
                                     << QStringLiteral("❓ 0xff") << QString()
                                     << QStringLiteral("f | /f | ❓ 0xff | ");
}

void TestFileDetail::exportText()
{
    QFETCH(QString, name);
    QFETCH(QString, path);
    QFETCH(QString, provenance);
    QFETCH(QString, quarantine);
    QFETCH(QString, expected);
    FileDetail detail;
    detail.name = name;
    detail.path = path;
    detail.provenanceID = provenance;
    detail.quarantineApp = quarantine;
    QCOMPARE(detail.exportText(), expected);
    QVERIFY(!detail.exportText().contains(QLatin1Char('\n')));
}

void TestFileDetail::cborRoundTrip()
{
    const FileDetail original = sample();
    // Through the encoded bytes, not just the in-memory map.
    const QByteArray bytes = QCborValue(original.toCborMap()).toCbor();
    QString error;
    const auto decoded = FileDetail::fromCborMap(QCborValue::fromCbor(bytes).toMap(), &error);
    QVERIFY2(decoded, qPrintable(error));
    QCOMPARE(*decoded, original);
    QVERIFY(error.isEmpty());

    const FileDetail empty;
    QCOMPARE(FileDetail::fromCborMap(empty.toCborMap()), std::optional<FileDetail>(empty));
}

void TestFileDetail::jsonRoundTrip()
{
    const FileDetail original = sample();
    QString error;
    const auto decoded = FileDetail::fromJson(original.toJson(), &error);
    QVERIFY2(decoded, qPrintable(error));
    QCOMPARE(*decoded, original);

    // The text is ordinary JSON that any reader takes.
    const QJsonDocument document = QJsonDocument::fromJson(original.toJson());
    QVERIFY(document.isObject());
    QCOMPARE(document.object().value(QStringLiteral("id")).toString(),
             original.id.toString(QUuid::WithoutBraces));
    QCOMPARE(document.object().value(QStringLiteral("name")).toString(), original.name);
    QCOMPARE(FileDetail::fromJsonObject(document.object()), std::optional<FileDetail>(original));
}

void TestFileDetail::keysInOrder()
{
    const QStringList keys{QStringLiteral("id"), QStringLiteral("name"), QStringLiteral("path"),
                           QStringLiteral("provenanceID"), QStringLiteral("quarantineApp")};
    const FileDetail detail = sample();

    QStringList cborKeys;
    const QCborMap map = QCborValue::fromCbor(QCborValue(detail.toCborMap()).toCbor()).toMap();
    for (const QCborValue& key : map.keys())
        cborKeys << key.toString();
    QCOMPARE(cborKeys, keys);
    QVERIFY(map.value(QStringLiteral("id")).isUuid());

    const QByteArray json = detail.toJson();
    qsizetype previous = -1;
    for (const QString& key : keys) {
        const qsizetype at = json.indexOf('"' + key.toUtf8() + "\":");
        QVERIFY2(at > previous, qPrintable(key));
        previous = at;
    }
}

void TestFileDetail::cborFailures_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QCborValue>("value"); // undefined: remove the key
    QTest::addColumn<QString>("expectedError");

    const auto missing = QStringLiteral("FileDetail: key \"%1\" is missing");
    const auto wrong = QStringLiteral("FileDetail: key \"%1\" does not hold %2");
    for (const char* key : {"id", "name", "path", "provenanceID", "quarantineApp"}) {
        const QString k = QString::fromLatin1(key);
        QTest::addRow("%s missing", key) << k << QCborValue(QCborValue::Undefined) << missing.arg(k);
    }
    QTest::newRow("id as text") << QStringLiteral("id")
                                << QCborValue(QUuid::createUuid().toString(QUuid::WithoutBraces))
                                << wrong.arg(QStringLiteral("id"), QStringLiteral("a UUID"));
    QTest::newRow("id as bytes") << QStringLiteral("id") << QCborValue(QByteArray(16, 'x'))
                                 << wrong.arg(QStringLiteral("id"), QStringLiteral("a UUID"));
    QTest::newRow("name as integer") << QStringLiteral("name") << QCborValue(7)
                                     << wrong.arg(QStringLiteral("name"), QStringLiteral("a text"));
    QTest::newRow("path as null") << QStringLiteral("path") << QCborValue(nullptr)
                                  << wrong.arg(QStringLiteral("path"), QStringLiteral("a text"));
    QTest::newRow("provenanceID as bytes")
        << QStringLiteral("provenanceID") << QCborValue(QByteArray("\x01\x02"))
        << wrong.arg(QStringLiteral("provenanceID"), QStringLiteral("a text"));
    QTest::newRow("quarantineApp as bool")
        << QStringLiteral("quarantineApp") << QCborValue(true)
        << wrong.arg(QStringLiteral("quarantineApp"), QStringLiteral("a text"));
}

void TestFileDetail::cborFailures()
{
    QFETCH(QString, key);
    QFETCH(QCborValue, value);
    QFETCH(QString, expectedError);
    QCborMap map = sample().toCborMap();
    if (value.isUndefined())
        map.remove(key);
    else
        map.insert(key, value);
    QString error;
    QCOMPARE(FileDetail::fromCborMap(map, &error), std::nullopt);
    QCOMPARE(error, expectedError);
}

void TestFileDetail::jsonFailures_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expectedError");

    const FileDetail detail = sample();
    const QJsonObject object = QJsonDocument::fromJson(detail.toJson()).object();
    auto without = [&](const char* key) {
        QJsonObject o = object;
        o.remove(QString::fromLatin1(key));
        return QJsonDocument(o).toJson();
    };
    auto with = [&](const char* key, const QJsonValue& value) {
        QJsonObject o = object;
        o.insert(QString::fromLatin1(key), value);
        return QJsonDocument(o).toJson();
    };
    for (const char* key : {"id", "name", "path", "provenanceID", "quarantineApp"})
        QTest::addRow("%s missing", key)
            << without(key) << QStringLiteral("FileDetail: key \"%1\" is missing").arg(QLatin1String(key));
    const QString notUuid = QStringLiteral("FileDetail: key \"id\" does not hold a UUID");
    QTest::newRow("id not a UUID text") << with("id", QStringLiteral("not-a-uuid")) << notUuid;
    QTest::newRow("id as number") << with("id", 42) << notUuid;
    QTest::newRow("id empty") << with("id", QString()) << notUuid;
    QTest::newRow("name as number") << with("name", 1.5)
                                    << QStringLiteral("FileDetail: key \"name\" does not hold a text");
    QTest::newRow("path as array") << with("path", QJsonArray{QStringLiteral("/a")})
                                   << QStringLiteral("FileDetail: key \"path\" does not hold a text");
    QTest::newRow("quarantineApp null")
        << with("quarantineApp", QJsonValue::Null)
        << QStringLiteral("FileDetail: key \"quarantineApp\" does not hold a text");
    QTest::newRow("array") << QByteArray("[1,2]") << QStringLiteral("FileDetail: not a JSON object");
}

void TestFileDetail::jsonFailures()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, expectedError);
    QString error;
    QCOMPARE(FileDetail::fromJson(json, &error), std::nullopt);
    QCOMPARE(error, expectedError);
}

void TestFileDetail::nullUuidIsStillAUuid()
{
    FileDetail detail = sample();
    detail.id = QUuid();
    QCOMPARE(FileDetail::fromJson(detail.toJson()), std::optional<FileDetail>(detail));
    QCOMPARE(FileDetail::fromCborMap(detail.toCborMap()), std::optional<FileDetail>(detail));

    QString error;
    QCOMPARE(FileDetail::fromJson("{\"id\": ", &error), std::nullopt);
    QVERIFY2(error.startsWith(QStringLiteral("FileDetail: not JSON: ")), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestFileDetail)
#include "tst_filedetail.moc"
