#include "protocol/hex_text.h"

#include <cstdint>

namespace vmx {

QString hexText(QByteArrayView bytes, HexStyle style) {
    // Every SEND writes its echo through here: digits from a table, one allocation.
    static constexpr char kUpper[] = "0123456789ABCDEF";
    static constexpr char kLower[] = "0123456789abcdef";
    const char* digits = style.letters == HexCase::Upper ? kUpper : kLower;
    QString text;
    text.reserve(bytes.size() * 3);
    for (qsizetype k = 0; k < bytes.size(); ++k) {
        const auto value = std::uint8_t(bytes[k]);
        if (k > 0 && style.separator != '\0')
            text += QLatin1Char(style.separator);
        if (value >= 16 || style.width == HexWidth::TwoDigits)
            text += QLatin1Char(digits[value >> 4]);
        text += QLatin1Char(digits[value & 15]);
    }
    return text;
}

} // namespace vmx
