#pragma once

#include <QString>

// Text for one line of line-oriented output: each C0 control character (U+0000 to
// U+001F) and DEL shown as its visible picture (U+2400 to U+241F, U+2421), so that no
// value can break or hide a line. Everything else is kept.
QString withControlPictures(const QString& text);
