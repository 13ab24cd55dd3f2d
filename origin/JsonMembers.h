#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A JSON object written in the order its members are added (QJsonObject sorts them), into
// one growing buffer: a crawl writes one per listed file, so no document per value.
// Texts are escaped as QJsonDocument escapes them, so the bytes are the same.
class JsonMembers
{
public:
    JsonMembers() { m_text.reserve(512); }

    void add(const char* key, const QString& text);
    void add(const char* key, qint64 number);
    void addBool(const char* key, bool value);
    void addNull(const char* key);
    void add(const char* key, const QStringList& texts); // an array of texts
    // Empty texts stand for fields the source did not have, and are left out.
    void addPresent(const char* key, const QString& text);
    void addPresent(const char* key, const std::optional<qint64>& number);
    void addObject(const char* key, const JsonMembers& members);
    void addObjects(const char* key, const QList<JsonMembers>& items);

    QByteArray object() const { return '{' + m_text + '}'; }

private:
    void key(const char* key);
    void appendText(const QString& text);

    QByteArray m_text;
};
