#include "core/ControlPictures.h"

#include <algorithm>

QString withControlPictures(const QString& text)
{
    const auto isControl = [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; };
    if (std::none_of(text.cbegin(), text.cend(), isControl))
        return text;
    QString shown = text;
    for (QChar& c : shown) {
        if (c.unicode() < 0x20)
            c = QChar(char16_t(0x2400 + c.unicode()));
        else if (c.unicode() == 0x7F)
            c = QChar(char16_t(0x2421));
    }
    return shown;
}
