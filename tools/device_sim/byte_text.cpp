#include "device_sim/byte_text.h"

#include "protocol/hex_text.h"

#include <QByteArray>

namespace vmx::sim {

QString hexBytes(QByteArrayView bytes) {
    return hexText(bytes, kHexPairs);
}

QString printableBytes(QByteArrayView bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (value >= 0x20 && value < 0x7F && value != '\\') {
            text.append(QLatin1Char(byte));
        } else {
            text.append(QLatin1String("\\x"));
            text.append(hexText(QByteArrayView(&byte, 1), kHexPairs));
        }
    }
    return text;
}

} // namespace vmx::sim
