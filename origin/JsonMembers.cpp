#include "origin/JsonMembers.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace {

// ASCII that goes into a text as it is; QJsonDocument writes the rest as escapes, left to it.
constexpr std::array<bool, 0x80> kPlainAscii = [] {
    std::array<bool, 0x80> plain{};
    for (char16_t u = 0x20; u < 0x7F; ++u)
        plain[u] = u != u'"' && u != u'\\';
    return plain;
}();

// UTF-16 as UTF-8 into `out`, which has room for three bytes a unit; false at an escaped
// character or a lone surrogate, where `out` holds a part.
bool encoded(QStringView text, char*& out)
{
    const char16_t* it = text.utf16();
    const char16_t* const end = it + text.size();
    while (it != end) {
        const char16_t u = *it++;
        if (u < 0x80) {
            if (!kPlainAscii[u])
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

thread_local JsonMembers::Buffer JsonMembers::s_spare;

JsonMembers::Buffer JsonMembers::takeSpare()
{
    Buffer buffer = std::move(s_spare);
    buffer.size = 0;
    s_spare.capacity = 0;
    return buffer;
}

void JsonMembers::keepSpare(Buffer&& buffer)
{
    if (buffer.capacity > s_spare.capacity)
        s_spare = std::move(buffer);
}

void JsonMembers::grow(size_t count)
{
    Buffer& text = *m_text;
    const size_t capacity = std::max(2 * text.capacity, text.size + count + 1024);
    std::unique_ptr<char[]> data(new char[capacity]); // not zeroed: written before read
    if (text.size > 0)
        std::memcpy(data.get(), text.data.get(), text.size);
    text.data = std::move(data);
    text.capacity = capacity;
}

void JsonMembers::appendText(const QString& text)
{
    const size_t start = m_text->size;
    char* const begin = extend(3 * size_t(text.size()) + 2);
    char* out = begin;
    *out++ = '"';
    if (encoded(text, out)) {
        *out++ = '"';
        m_text->size = start + size_t(out - begin);
        return;
    }
    // The rest is escaped by QJsonDocument, which only writes arrays: one element, unwrapped.
    m_text->size = start;
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    appendRaw(array.constData() + 1, size_t(array.size()) - 2);
}

bool JsonMembers::addBytes(const char* name, const QByteArray& bytes)
{
    // Printable ASCII as it is; anything else through a text, which may lose bytes.
    const bool plain = std::all_of(bytes.cbegin(), bytes.cend(),
                                   [](char c) { return uchar(c) < 0x80 && kPlainAscii[uchar(c)]; });
    if (plain) {
        addAscii(name, bytes);
        return true;
    }
    key(name);
    const QString text = QString::fromUtf8(bytes);
    appendText(text);
    return text.toUtf8() == bytes;
}

void JsonMembers::add(const char* name, qint64 number)
{
    key(name);
    char digits[24];
    const auto end = std::to_chars(std::begin(digits), std::end(digits), number).ptr;
    appendRaw(digits, size_t(end - digits));
}

void JsonMembers::addBool(const char* name, bool value)
{
    key(name);
    if (value)
        appendRaw("true", 4);
    else
        appendRaw("false", 5);
}

void JsonMembers::addNull(const char* name)
{
    key(name);
    appendRaw("null", 4);
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

void JsonMembers::addPresent(const char* name, const std::optional<qint64>& number)
{
    if (number)
        add(name, *number);
}
