#include "core/RawText.h"

#include "core/ControlPictures.h"

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isContinuation(uchar byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at `at` (RFC 3629: no overlong forms, no
// surrogates, nothing past U+10FFFF), or 0.
qsizetype sequenceLength(QByteArrayView bytes, qsizetype at, char32_t* codePoint)
{
    const uchar lead = uchar(bytes[at]);
    qsizetype length;
    char32_t value;
    char32_t minimum;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (qsizetype i = 1; i < length; ++i) {
        const uchar next = uchar(bytes[at + i]);
        if (!isContinuation(next))
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

enum class Piece
{
    Character,     // a character, or a surrogate pair
    EscapedByte,   // a byte that was not UTF-8
    LoneSurrogate, // one that stands for no byte
};

// Calls visit(kind, piece) for each piece of `text`, in order.
template<typename Visit> void forEachPiece(const QString& text, Visit visit)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            visit(Piece::Character, QStringView(text).mid(i, 2));
            ++i;
        } else if (c.unicode() >= kEscapeBase + 0x80 && c.unicode() <= kEscapeBase + 0xFF) {
            visit(Piece::EscapedByte, QStringView(text).mid(i, 1));
        } else {
            visit(c.isSurrogate() ? Piece::LoneSurrogate : Piece::Character, QStringView(text).mid(i, 1));
        }
    }
}

} // namespace

QString RawText::fromBytes(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (qsizetype at = 0; at < bytes.size();) {
        char32_t codePoint = 0;
        if (const qsizetype length = sequenceLength(bytes, at, &codePoint)) {
            text += QChar::fromUcs4(codePoint);
            at += length;
        } else {
            text += QChar(char16_t(kEscapeBase + uchar(bytes[at])));
            ++at;
        }
    }
    return text;
}

QByteArray RawText::toBytes(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    forEachPiece(text, [&bytes](Piece kind, QStringView piece) {
        if (kind == Piece::EscapedByte)
            bytes += char(piece.at(0).unicode() - kEscapeBase);
        else
            bytes += (kind == Piece::Character ? piece : QStringView(u"\uFFFD")).toUtf8();
    });
    return bytes;
}

QString RawText::display(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    forEachPiece(text, [&shown](Piece kind, QStringView piece) {
        shown += kind == Piece::Character ? piece : QStringView(u"\uFFFD");
    });
    return withControlPictures(shown);
}
