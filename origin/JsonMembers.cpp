#include "origin/JsonMembers.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstring>

void JsonMembers::key(const char* key)
{
    if (!m_text.isEmpty())
        m_text += ',';
    m_text += '"';
    m_text.append(key, qsizetype(std::strlen(key)));
    m_text += "\":";
}

void JsonMembers::appendText(const QString& text)
{
    // Most texts are plain ASCII: copied as they are.
    const qsizetype start = m_text.size();
    m_text.resize(start + text.size() + 2);
    char* out = m_text.data() + start;
    *out++ = '"';
    bool ascii = true;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u >= 0x7F || u == u'"' || u == u'\\') {
            ascii = false;
            break;
        }
        *out++ = char(u);
    }
    if (ascii) {
        *out = '"';
        return;
    }
    m_text.truncate(start);
    const bool plain = QStringView(text).isValidUtf16() &&
                       std::none_of(text.cbegin(), text.cend(), [](QChar c) {
                           return c.unicode() < 0x20 || c.unicode() == 0x7F || c == u'"' || c == u'\\';
                       });
    if (plain) {
        m_text += '"' + text.toUtf8() + '"';
        return;
    }
    // The rest is escaped by QJsonDocument, which only writes arrays: one element, unwrapped.
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    m_text += QByteArrayView(array).sliced(1, array.size() - 2);
}

void JsonMembers::add(const char* name, const QString& text)
{
    key(name);
    appendText(text);
}

void JsonMembers::add(const char* name, qint64 number)
{
    key(name);
    m_text += QByteArray::number(number);
}

void JsonMembers::addBool(const char* name, bool value)
{
    key(name);
    m_text += value ? "true" : "false";
}

void JsonMembers::addNull(const char* name)
{
    key(name);
    m_text += "null";
}

void JsonMembers::add(const char* name, const QStringList& texts)
{
    key(name);
    m_text += '[';
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (i > 0)
            m_text += ',';
        appendText(texts.at(i));
    }
    m_text += ']';
}

void JsonMembers::addPresent(const char* name, const QString& text)
{
    if (!text.isEmpty())
        add(name, text);
}

void JsonMembers::addPresent(const char* name, const std::optional<qint64>& number)
{
    if (number)
        add(name, *number);
}

void JsonMembers::addObject(const char* name, const JsonMembers& members)
{
    key(name);
    m_text += '{';
    m_text += members.m_text;
    m_text += '}';
}

void JsonMembers::addObjects(const char* name, const QList<JsonMembers>& items)
{
    key(name);
    m_text += '[';
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0)
            m_text += ',';
        m_text += '{';
        m_text += items.at(i).m_text;
        m_text += '}';
    }
    m_text += ']';
}
