#pragma once

#include <QString>

// Text for one line of line-oriented output and for messages on a terminal: each C0 control
// character (U+0000 to U+001F) and DEL shown as its visible picture (U+2400 to U+241F,
// U+2421), and each C1 control (U+0080 to U+009F, which terminals also obey: U+009B starts
// an escape sequence), which has no picture, as "<U+0080>" to "<U+009F>". So no value can
// break or hide a line, or command a terminal. Everything else is kept.
QString withControlPictures(const QString& text);
