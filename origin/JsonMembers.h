#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

// A JSON object written in the order its members are added (QJsonObject sorts them), into a
// buffer of its own that nested objects share, handed over whole at close(): a crawl writes
// one per listed file, so no document per value, no copy per nested object and no call into
// QByteArray per piece. Texts are escaped as QJsonDocument escapes them, so the bytes are the
// same.
class JsonMembers
{
public:
    // An object of its own, taken with object().
    JsonMembers() : JsonMembers(m_own) {}
    // An object appended to `out` at close().
    explicit JsonMembers(QByteArray& out) : m_out(&out), m_buffer(takeSpare()), m_text(&m_buffer)
    {
        *extend(1) = '{';
    }
    JsonMembers(const JsonMembers&) = delete;
    JsonMembers& operator=(const JsonMembers&) = delete;

    // Inline, like key(): a literal key's length is then known where it is written.
    void add(const char* name, const QString& text)
    {
        key(name);
        appendText(text);
    }
    void add(const char* key, qint64 number);
    void addBool(const char* key, bool value);
    void addNull(const char* key);
    void add(const char* key, const QStringList& texts); // an array of texts
    // Printable ASCII that needs no escape (times, hex), as a text.
    void addAscii(const char* name, QByteArrayView ascii)
    {
        key(name);
        char* out = extend(size_t(ascii.size()) + 2);
        *out++ = '"';
        out = std::copy_n(ascii.data(), ascii.size(), out);
        *out = '"';
    }
    // Bytes that may not be UTF-8 as a text (lossy); false when it was, so that the caller can
    // give them whole too.
    bool addBytes(const char* key, const QByteArray& bytes);
    // Empty texts stand for fields the source did not have, and are left out.
    void addPresent(const char* name, const QString& text)
    {
        if (!text.isEmpty())
            add(name, text);
    }
    void addPresent(const char* key, const std::optional<qint64>& number);
    // A nested object, filled by `fill(JsonMembers&)`.
    template<typename Fill> void addObject(const char* name, Fill&& fill)
    {
        key(name);
        JsonMembers inner(*m_text);
        fill(inner);
        inner.close();
    }
    // An array of objects, one per item of `items`, each filled by `fill(JsonMembers&, item)`.
    template<typename Items, typename Fill> void addObjects(const char* name, const Items& items, Fill&& fill)
    {
        key(name);
        *extend(1) = '[';
        bool first = true;
        for (const auto& item : items) {
            if (!std::exchange(first, false))
                *extend(1) = ',';
            JsonMembers inner(*m_text);
            fill(inner, item);
            inner.close();
        }
        *extend(1) = ']';
    }

    // Ends the object; nothing is added after.
    void close()
    {
        *extend(1) = '}';
        if (m_out) {
            m_out->append(m_text->data.get(), qsizetype(m_text->size));
            keepSpare(std::move(m_buffer));
        }
    }
    // The object of its own, closed.
    QByteArray object()
    {
        close();
        return std::move(m_own);
    }

private:
    // Grows by doubling; written through pointers, so each piece costs a few instructions.
    struct Buffer
    {
        std::unique_ptr<char[]> data;
        size_t size = 0;
        size_t capacity = 0;
    };

    // The thread's buffer of the last object closed, so that one line after another reuses it.
    static Buffer takeSpare();
    static void keepSpare(Buffer&& buffer);
    static thread_local Buffer s_spare;

    // A nested object, written into its parent's buffer.
    explicit JsonMembers(Buffer& text) : m_text(&text) { *extend(1) = '{'; }

    // Room for `count` more bytes at the end of the text.
    char* extend(size_t count)
    {
        Buffer& text = *m_text;
        if (text.capacity - text.size < count)
            grow(count);
        char* at = text.data.get() + text.size;
        text.size += count;
        return at;
    }
    void grow(size_t count);
    void key(const char* key)
    {
        const size_t length = std::strlen(key);
        const bool comma = !std::exchange(m_first, false);
        char* out = extend(length + 3 + comma);
        if (comma)
            *out++ = ',';
        *out++ = '"';
        std::memcpy(out, key, length);
        out += length;
        *out++ = '"';
        *out = ':';
    }
    void appendText(const QString& text);
    void appendRaw(const char* bytes, size_t count) { std::memcpy(extend(count), bytes, count); }

    QByteArray m_own;
    QByteArray* m_out = nullptr; // where the whole object goes at close(); none for a nested one
    Buffer m_buffer;
    Buffer* m_text;
    bool m_first = true;
};
