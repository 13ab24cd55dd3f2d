#pragma once

#include <QByteArray>
#include <QCborMap>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

// One dropped file: its name, its percent-encoded path and the two decorated
// display values. A plain value; every field has a default.
struct FileDetail
{
    QUuid id = QUuid::createUuid();
    QString name;
    QString path;
    QString provenanceID;
    QString quarantineApp;

    // "name | path | provenanceID | quarantineApp", separators written around empty fields too;
    // one line: control characters are shown as their pictures.
    QString exportText() const;

    // Keyed coding with the keys "id", "name", "path", "provenanceID", "quarantineApp" in that
    // order. The CBOR map keeps that order and codes `id` as a CBOR UUID; the JSON text keeps it
    // too (a QJsonObject would sort the keys) and codes `id` as its text without braces.
    QCborMap toCborMap() const;
    QByteArray toJson() const;

    // The record coded in `map` or `object`, or nothing, with `error` naming the key that is
    // missing or holds a value of the wrong type.
    static std::optional<FileDetail> fromCborMap(const QCborMap& map, QString* error = nullptr);
    static std::optional<FileDetail> fromJsonObject(const QJsonObject& object, QString* error = nullptr);
    // Same, from JSON text; text that is not a JSON object fails as well.
    static std::optional<FileDetail> fromJson(const QByteArray& json, QString* error = nullptr);

    friend bool operator==(const FileDetail&, const FileDetail&) = default;
};
