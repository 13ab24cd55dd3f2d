#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A JSON object written in the order its members are added (QJsonObject sorts them), straight
// into a growing buffer: a crawl writes one per listed file, so no document per value and no
// copy per nested object. Texts are escaped as QJsonDocument escapes them, so the bytes are the
// same.
class JsonMembers
{
public:
    // An object of its own, taken with object().
    JsonMembers() : JsonMembers(m_own) { m_own.reserve(512); }
    // An object appended to `out`: "{" now, "}" at close().
    explicit JsonMembers(QByteArray& out) : m_out(out) { *extend(1) = '{'; }
    JsonMembers(const JsonMembers&) = delete;
    JsonMembers& operator=(const JsonMembers&) = delete;

    void add(const char* key, const QString& text);
    void add(const char* key, qint64 number);
    void addBool(const char* key, bool value);
    void addNull(const char* key);
    void add(const char* key, const QStringList& texts); // an array of texts
    // Bytes that may not be UTF-8 as a text (lossy); false when it was, so that the caller can
    // give them whole too.
    bool addBytes(const char* key, const QByteArray& bytes);
    // Printable ASCII that needs no escape (times, hex), as a text.
    void addAscii(const char* key, QByteArrayView ascii);
    // Empty texts stand for fields the source did not have, and are left out.
    void addPresent(const char* key, const QString& text);
    void addPresent(const char* key, const std::optional<qint64>& number);
    // A nested object, filled by `fill(JsonMembers&)`.
    template<typename Fill> void addObject(const char* name, Fill&& fill)
    {
        key(name);
        JsonMembers inner(m_out);
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
            JsonMembers inner(m_out);
            fill(inner, item);
            inner.close();
        }
        *extend(1) = ']';
    }

    // Ends the object; nothing is added after.
    void close() { *extend(1) = '}'; }
    // The object of its own, closed.
    QByteArray object()
    {
        close();
        return std::move(m_own);
    }

private:
    void key(const char* key);
    void appendText(const QString& text);
    // Room for `count` more bytes at the end of the buffer, which grows by doubling: one call
    // per member, not one per character.
    char* extend(qsizetype count);
    void appendRaw(QByteArrayView bytes);

    QByteArray m_own;
    QByteArray& m_out;
    bool m_first = true;
};
