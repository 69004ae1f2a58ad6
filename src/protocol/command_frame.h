#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>

namespace vmx {

inline constexpr std::uint8_t kStartByte = 7;
inline constexpr std::uint8_t kEndByte = 3;
inline constexpr int kCommandSlots = 18;

// The fields of one command frame. A slot holding 0 is not sent.
struct CommandFrame {
    std::int16_t checkSum = 0;
    std::uint8_t startByte = 0;
    std::uint8_t addressTens = 0;
    std::uint8_t addressUnits = 0;
    std::uint8_t checkHigh = 0;
    std::uint8_t checkLow = 0;
    std::uint8_t endByte = 0;
    std::array<std::uint8_t, kCommandSlots> commandSlots{};
};

enum class FrameError {
    None,
    AddressNotANumber,     // empty, blank or not a decimal number
    AddressOutOfRange,     // tens value outside 0..255, or a tens byte above 255
    EmptyCommand,          // nothing to put into the first command slot
    CharacterNotSingleByte // a sent command character does not fit in 0 to 255
};

// Builds the frame in place, step by step, so that a failure leaves behind exactly what the steps
// before it wrote: an address that is not a usable number fails before commandLength is touched;
// an empty command or a character beyond Latin-1 fails after commandLength has been set.
// commandLength counts every character of the command, also those after the 18th, which are
// neither sent nor summed.
FrameError buildCommandFrame(QStringView addressText, QStringView commandText, CommandFrame& frame,
                             float& commandLength);

// The frame bytes in the order they go out on either link: start byte, address tens, address
// units, slot 1, every later slot that is not 0, check high, check low, end byte.
QByteArray sendingOrder(const CommandFrame& frame);

// Each sent byte in uppercase hexadecimal without leading zeros, one blank between bytes:
// "7 30 32 52 44 46 46 3".
QString echoText(const CommandFrame& frame);

} // namespace vmx
