#include "protocol/display_text.h"

namespace vmx {

namespace {

constexpr char16_t kControlPictures = 0x2400; // U+2400 SYMBOL FOR NULL .. U+241F
constexpr char16_t kDeletePicture = 0x2421;   // U+2421 SYMBOL FOR DELETE
constexpr char16_t kDelete = 0x7F;

bool isControl(char16_t c) {
    return c < 0x20 || c == kDelete;
}

QString shownText(QByteArrayView item, bool keepLineBreaks) {
    QString text = QString::fromLatin1(item);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (keepLineBreaks && c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            ++i; // the pair stays a line break
            continue;
        }
        if (isControl(c))
            text[i] = QChar(c == kDelete ? kDeletePicture : char16_t(kControlPictures + c));
    }
    return text;
}

} // namespace

QString displayText(QByteArrayView item) {
    return shownText(item, true);
}

QString singleLineText(QByteArrayView item) {
    return shownText(item, false);
}

QString receivedCharacters(QStringView shown) {
    QString text = shown.toString();
    for (QChar& ch : text) {
        const char16_t c = ch.unicode();
        if (c >= kControlPictures && c < kControlPictures + 0x20)
            ch = QChar(char16_t(c - kControlPictures));
        else if (c == kDeletePicture)
            ch = QChar(kDelete);
    }
    return text;
}

} // namespace vmx
