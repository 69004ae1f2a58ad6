#include "protocol/hex_text.h"

#include <cstdint>

namespace vmx {

QString hexText(QByteArrayView bytes, HexStyle style) {
    // Every SEND writes its echo through here: digits from a table, written in place into
    // one allocation.
    static constexpr char kUpper[] = "0123456789ABCDEF";
    static constexpr char kLower[] = "0123456789abcdef";
    const char* digits = style.letters == HexCase::Upper ? kUpper : kLower;
    QString text(bytes.size() * 3, Qt::Uninitialized);
    char16_t* const begin = reinterpret_cast<char16_t*>(text.data());
    char16_t* at = begin;
    for (qsizetype k = 0; k < bytes.size(); ++k) {
        const auto value = std::uint8_t(bytes[k]);
        if (k > 0 && style.separator != '\0')
            *at++ = char16_t(style.separator);
        if (value >= 16 || style.width == HexWidth::TwoDigits)
            *at++ = char16_t(digits[value >> 4]);
        *at++ = char16_t(digits[value & 15]);
    }
    text.truncate(at - begin);
    return text;
}

} // namespace vmx
