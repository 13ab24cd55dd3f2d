#include "origin/JsonMembers.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

// Characters QJsonDocument writes as escapes: left to it.
bool escaped(char16_t u)
{
    return u < 0x20 || u == 0x7F || u == u'"' || u == u'\\';
}

// UTF-16 as UTF-8 into `out`, which has room for three bytes a unit; false at an escaped
// character or a lone surrogate, where `out` holds a part.
bool encoded(QStringView text, char*& out)
{
    const char16_t* it = text.utf16();
    const char16_t* const end = it + text.size();
    while (it != end) {
        const char16_t u = *it++;
        if (u < 0x80) {
            if (escaped(u))
                return false;
            *out++ = char(u);
        } else if (u < 0x800) {
            *out++ = char(0xC0 | (u >> 6));
            *out++ = char(0x80 | (u & 0x3F));
        } else if (!QChar::isSurrogate(u)) {
            *out++ = char(0xE0 | (u >> 12));
            *out++ = char(0x80 | ((u >> 6) & 0x3F));
            *out++ = char(0x80 | (u & 0x3F));
        } else {
            if (!QChar::isHighSurrogate(u) || it == end || !QChar::isLowSurrogate(*it))
                return false;
            const char32_t c = QChar::surrogateToUcs4(u, *it++);
            *out++ = char(0xF0 | (c >> 18));
            *out++ = char(0x80 | ((c >> 12) & 0x3F));
            *out++ = char(0x80 | ((c >> 6) & 0x3F));
            *out++ = char(0x80 | (c & 0x3F));
        }
    }
    return true;
}

} // namespace

char* JsonMembers::extend(qsizetype count)
{
    const qsizetype size = m_out.size();
    if (m_out.capacity() - size < count)
        m_out.reserve(std::max(2 * m_out.capacity(), size + count + 256));
    m_out.resize(size + count);
    return m_out.data() + size;
}

void JsonMembers::key(const char* key)
{
    const size_t length = std::strlen(key);
    const bool comma = !std::exchange(m_first, false);
    char* out = extend(qsizetype(length) + 3 + comma);
    if (comma)
        *out++ = ',';
    *out++ = '"';
    out = std::copy_n(key, length, out);
    *out++ = '"';
    *out = ':';
}

void JsonMembers::appendText(const QString& text)
{
    const qsizetype start = m_out.size();
    char* const begin = extend(3 * text.size() + 2);
    char* out = begin;
    *out++ = '"';
    if (encoded(text, out)) {
        *out++ = '"';
        m_out.truncate(start + (out - begin));
        return;
    }
    // The rest is escaped by QJsonDocument, which only writes arrays: one element, unwrapped.
    m_out.truncate(start);
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    m_out += QByteArrayView(array).sliced(1, array.size() - 2);
}

void JsonMembers::appendRaw(QByteArrayView bytes)
{
    std::copy_n(bytes.data(), bytes.size(), extend(bytes.size()));
}

bool JsonMembers::addBytes(const char* name, const QByteArray& bytes)
{
    // Printable ASCII as it is; anything else through a text, which may lose bytes.
    const bool plain = std::all_of(bytes.cbegin(), bytes.cend(), [](char c) {
        return uchar(c) >= 0x20 && uchar(c) < 0x7F && c != '"' && c != '\\';
    });
    if (plain) {
        addAscii(name, bytes);
        return true;
    }
    key(name);
    const QString text = QString::fromUtf8(bytes);
    appendText(text);
    return text.toUtf8() == bytes;
}

void JsonMembers::addAscii(const char* name, QByteArrayView ascii)
{
    key(name);
    char* out = extend(ascii.size() + 2);
    *out++ = '"';
    out = std::copy_n(ascii.data(), ascii.size(), out);
    *out = '"';
}

void JsonMembers::add(const char* name, const QString& text)
{
    key(name);
    appendText(text);
}

void JsonMembers::add(const char* name, qint64 number)
{
    key(name);
    char digits[24];
    const auto end = std::to_chars(std::begin(digits), std::end(digits), number).ptr;
    appendRaw(QByteArrayView(digits, end - digits));
}

void JsonMembers::addBool(const char* name, bool value)
{
    key(name);
    appendRaw(value ? "true" : "false");
}

void JsonMembers::addNull(const char* name)
{
    key(name);
    appendRaw("null");
}

void JsonMembers::add(const char* name, const QStringList& texts)
{
    key(name);
    *extend(1) = '[';
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (i > 0)
            *extend(1) = ',';
        appendText(texts.at(i));
    }
    *extend(1) = ']';
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
