#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace vmx {

// An answer's item as the operator reads it: one character per received byte (Latin-1). A CR LF
// pair stays a line break; every other control character (0x00..0x1F) and DEL is shown as its
// control picture (U+2400 + code, U+2421 for DEL), so that a NUL, ESC, backspace or lone CR
// can neither vanish nor hide or move text. No received byte maps to a picture by itself, so
// the shown text can be turned back into the bytes exactly.
QString displayText(QByteArrayView item);

// The same on one line, for a line of a record or a log: a CR LF pair is shown as its two
// pictures too, so every received byte stays on the line of its answer.
QString singleLineText(QByteArrayView item);

// The bytes that displayText() showed: pictures back to their control characters.
QString receivedCharacters(QStringView shown);

} // namespace vmx
