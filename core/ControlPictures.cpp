#include "core/ControlPictures.h"

#include <algorithm>

namespace {

bool isControl(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

} // namespace

QString withControlPictures(const QString& text)
{
    if (std::none_of(text.cbegin(), text.cend(), isControl))
        return text;
    QString shown;
    shown.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20)
            shown += QChar(char16_t(0x2400 + u));
        else if (u == 0x7F)
            shown += QChar(char16_t(0x2421));
        else if (u >= 0x80 && u <= 0x9F)
            shown += QStringLiteral("<U+%1>").arg(QString::number(u, 16).toUpper().rightJustified(4, u'0'));
        else
            shown += c;
    }
    return shown;
}
