#include "protocol/command_frame.h"

#include <array>

#include "protocol/decimal_text.h"
#include "protocol/hex_text.h"

#include <cmath>

namespace vmx {

namespace {

// The first kCommandSlots characters of a command as whole code points (a surrogate pair is one
// character), and the count of all of them.
struct CommandCharacters {
    std::array<char32_t, kCommandSlots> leading{};
    qsizetype count = 0;
};

CommandCharacters readCommand(QStringView text) {
    CommandCharacters result;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        char32_t code = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < size && text[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (result.count < kCommandSlots)
            result.leading[std::size_t(result.count)] = code;
        ++result.count;
    }
    return result;
}

std::uint8_t hexDigitCode(int nibble) {
    int code = 48 + nibble;
    if (code > 57)
        code += 7;
    return std::uint8_t(code);
}

} // namespace

FrameError buildCommandFrame(QStringView addressText, QStringView commandText, CommandFrame& frame,
                             float& commandLength) {
    frame.startByte = kStartByte;

    const std::optional<double> number = parseDecimal(addressText);
    if (!number)
        return FrameError::AddressNotANumber;
    const double tens = std::floor(*number / 10.0);
    if (!(tens >= 0.0 && tens <= 255.0))
        return FrameError::AddressOutOfRange;
    const double units = roundHalfEven(*number - 10.0 * tens);

    frame.commandSlots.fill(0);

    const CommandCharacters command = readCommand(commandText);
    commandLength = float(command.count);

    if (command.count == 0)
        return FrameError::EmptyCommand;
    for (int k = 1; k <= kCommandSlots; ++k) {
        // The first slot is always filled; later ones only while the command reaches them.
        if (k > 1 && !(commandLength > float(k - 1)))
            continue;
        if (k > command.count)
            break; // never read past the characters that were kept
        const char32_t code = command.leading[std::size_t(k - 1)];
        if (code > 255)
            return FrameError::CharacterNotSingleByte;
        frame.commandSlots[std::size_t(k - 1)] = std::uint8_t(code);
    }

    const double tensByte = 48.0 + tens;
    const double unitsByte = 48.0 + units;
    if (tensByte > 255.0)
        return FrameError::AddressOutOfRange;
    frame.addressTens = std::uint8_t(tensByte);
    if (!(unitsByte >= 0.0 && unitsByte <= 255.0))
        return FrameError::AddressOutOfRange;
    frame.addressUnits = std::uint8_t(unitsByte);

    int sum = frame.startByte + frame.addressTens + frame.addressUnits;
    for (const std::uint8_t slot : frame.commandSlots)
        sum += slot;
    frame.checkSum = std::int16_t(sum);
    const int low = frame.checkSum % 256;
    const int highNibble = low / 16;
    frame.checkHigh = hexDigitCode(highNibble);
    frame.checkLow = hexDigitCode(low - 16 * highNibble);
    frame.endByte = kEndByte;
    return FrameError::None;
}

QByteArray sendingOrder(const CommandFrame& frame) {
    // Gathered on the stack and copied once: SEND asks for these bytes several times.
    std::array<char, 6 + kCommandSlots> bytes{};
    std::size_t size = 0;
    bytes[size++] = char(frame.startByte);
    bytes[size++] = char(frame.addressTens);
    bytes[size++] = char(frame.addressUnits);
    bytes[size++] = char(frame.commandSlots[0]);
    for (std::size_t k = 1; k < frame.commandSlots.size(); ++k) {
        if (frame.commandSlots[k] != 0)
            bytes[size++] = char(frame.commandSlots[k]);
    }
    bytes[size++] = char(frame.checkHigh);
    bytes[size++] = char(frame.checkLow);
    bytes[size++] = char(frame.endByte);
    return QByteArray(bytes.data(), qsizetype(size));
}

QString echoText(const CommandFrame& frame) {
    return hexText(sendingOrder(frame), kHexEcho);
}

} // namespace vmx
