#include "drop/FileDetail.h"

#include "core/ControlPictures.h"
#include "origin/JsonMembers.h"

#include <QCborValue>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <array>

namespace {

const QString kId = QStringLiteral("id");
const QString kName = QStringLiteral("name");
const QString kPath = QStringLiteral("path");
const QString kProvenanceID = QStringLiteral("provenanceID");
const QString kQuarantineApp = QStringLiteral("quarantineApp");

QString missingKey(const QString& key)
{
    return QStringLiteral("FileDetail: key \"%1\" is missing").arg(key);
}

QString wrongType(const QString& key, const QString& expected)
{
    return QStringLiteral("FileDetail: key \"%1\" does not hold %2").arg(key, expected);
}

std::optional<FileDetail> fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return std::nullopt;
}

bool isNullUuidText(const QString& text)
{
    const QString lower = text.toLower();
    return lower == QUuid().toString(QUuid::WithoutBraces) || lower == QUuid().toString(QUuid::WithBraces);
}

// The four text fields in coding order, for the loops below.
std::array<std::pair<const QString*, QString FileDetail::*>, 4> textFields()
{
    return {{{&kName, &FileDetail::name},
             {&kPath, &FileDetail::path},
             {&kProvenanceID, &FileDetail::provenanceID},
             {&kQuarantineApp, &FileDetail::quarantineApp}}};
}

} // namespace

QString FileDetail::exportText() const
{
    const QString separator = QStringLiteral(" | ");
    return withControlPictures(name + separator + path + separator + provenanceID + separator +
                               quarantineApp);
}

QCborMap FileDetail::toCborMap() const
{
    QCborMap map;
    map.insert(kId, QCborValue(id));
    for (const auto& [key, field] : textFields())
        map.insert(*key, this->*field);
    return map;
}

QByteArray FileDetail::toJson() const
{
    JsonMembers object;
    object.add(kId.toLatin1().constData(), id.toString(QUuid::WithoutBraces));
    for (const auto& [key, field] : textFields())
        object.add(key->toLatin1().constData(), this->*field);
    return object.object();
}

std::optional<FileDetail> FileDetail::fromCborMap(const QCborMap& map, QString* error)
{
    FileDetail detail;
    if (!map.contains(kId))
        return fail(error, missingKey(kId));
    const QCborValue id = map.value(kId);
    if (!id.isUuid())
        return fail(error, wrongType(kId, QStringLiteral("a UUID")));
    detail.id = id.toUuid();
    for (const auto& [key, field] : textFields()) {
        if (!map.contains(*key))
            return fail(error, missingKey(*key));
        const QCborValue value = map.value(*key);
        if (!value.isString())
            return fail(error, wrongType(*key, QStringLiteral("a text")));
        detail.*field = value.toString();
    }
    return detail;
}

std::optional<FileDetail> FileDetail::fromJsonObject(const QJsonObject& object, QString* error)
{
    FileDetail detail;
    if (!object.contains(kId))
        return fail(error, missingKey(kId));
    const QJsonValue id = object.value(kId);
    const QUuid parsed = id.isString() ? QUuid::fromString(id.toString()) : QUuid();
    // QUuid gives the null UUID for text it cannot parse, so only the null UUID's own text may give it.
    if (parsed.isNull() && !isNullUuidText(id.toString()))
        return fail(error, wrongType(kId, QStringLiteral("a UUID")));
    detail.id = parsed;
    for (const auto& [key, field] : textFields()) {
        if (!object.contains(*key))
            return fail(error, missingKey(*key));
        const QJsonValue value = object.value(*key);
        if (!value.isString())
            return fail(error, wrongType(*key, QStringLiteral("a text")));
        detail.*field = value.toString();
    }
    return detail;
}

std::optional<FileDetail> FileDetail::fromJson(const QByteArray& json, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(error, QStringLiteral("FileDetail: not JSON: ") + parseError.errorString());
    if (!document.isObject())
        return fail(error, QStringLiteral("FileDetail: not a JSON object"));
    return fromJsonObject(document.object(), error);
}
