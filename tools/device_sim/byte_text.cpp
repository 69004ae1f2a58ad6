#include "device_sim/byte_text.h"

#include <QByteArray>

namespace vmx::sim {

QString hexBytes(QByteArrayView bytes) {
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

QString printableBytes(QByteArrayView bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (value >= 0x20 && value < 0x7F && value != '\\') {
            text.append(QLatin1Char(byte));
        } else {
            text.append(QLatin1String("\\x"));
            text.append(QLatin1Char(kDigits[value >> 4]));
            text.append(QLatin1Char(kDigits[value & 0x0F]));
        }
    }
    return text;
}

} // namespace vmx::sim
