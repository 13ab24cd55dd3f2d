// Arguments as raw bytes through text: the round trip is exact, and the text a message shows
// holds no control character.
#include "core/ControlPictures.h"
#include "core/RawText.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = RawText::fromBytes(raw);
    if (RawText::toBytes(text) != raw)
        std::abort();
    // Valid UTF-8 is its own text.
    if (raw.isValidUtf8() && text != QString::fromUtf8(raw))
        std::abort();
    const QString shown = RawText::display(text);
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QChar c = shown.at(i);
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            std::abort();
        if (c.isSurrogate() &&
            !(c.isHighSurrogate() && i + 1 < shown.size() && shown.at(i + 1).isLowSurrogate()) &&
            !(c.isLowSurrogate() && i > 0 && shown.at(i - 1).isHighSurrogate()))
            std::abort();
    }
    const QString line = withControlPictures(QString::fromUtf8(raw));
    if (line.size() != QString::fromUtf8(raw).size() || line.contains(u'\n') || line.contains(u'\r'))
        std::abort();
    return 0;
}
