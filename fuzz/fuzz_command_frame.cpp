// Address parsing and frame building against a small model written here from the frame's rules:
// which address texts are numbers, the address digits (tens: the largest whole number not above
// address / 10, within 0..207 for a byte; units: the rest, nearest whole number, halves to even),
// the command bytes (the first 18 characters, a surrogate pair counting as one; later slots
// holding 0 are not sent), the check characters ((7 + both address bytes + the command bytes)
// modulo 256 as two uppercase hex digits) and the echo. The model reads numbers with strtod and
// rounds with nearbyint, so it shares no code with the program.
//
// Input: byte 0 'U' takes the rest as UTF-16LE text, anything else as Latin-1; the address
// runs to the first line feed, the command is everything after it.
#include "protocol/command_frame.h"
#include "protocol/decimal_text.h"

#include <cfenv>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

// ---- the model ------------------------------------------------------------------------------

bool blank(char16_t c) {
    return c == u' ' || c == u'\t';
}
bool digit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// The address as a number: blanks around, a sign, digits with an optional period (one digit at
// least), an optional exponent with digits. Values too large for a double are no number.
std::optional<double> modelNumber(const std::u16string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    std::size_t i = begin;
    if (i < end && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    std::size_t mantissaDigits = 0;
    while (i < end && digit(text[i]))
        ++i, ++mantissaDigits;
    if (i < end && text[i] == u'.') {
        ++i;
        while (i < end && digit(text[i]))
            ++i, ++mantissaDigits;
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (i < end && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < end && (text[i] == u'+' || text[i] == u'-'))
            ++i;
        std::size_t exponentDigits = 0;
        while (i < end && digit(text[i]))
            ++i, ++exponentDigits;
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != end)
        return std::nullopt;
    const std::string ascii(text.begin() + std::ptrdiff_t(begin),
                            text.begin() + std::ptrdiff_t(end));
    const double value = std::strtod(ascii.c_str(), nullptr);
    if (std::isinf(value))
        return std::nullopt;
    return value;
}

struct ModelFrame {
    vmx::FrameError error = vmx::FrameError::None;
    bool lengthSet = false;
    float commandLength = 0;
    QByteArray bytes;
    QString echo;
};

ModelFrame modelFrame(const std::u16string& address, const std::u16string& command) {
    ModelFrame model;
    const auto number = modelNumber(address);
    if (!number) {
        model.error = vmx::FrameError::AddressNotANumber;
        return model;
    }
    const double tens = std::floor(*number / 10.0);
    if (tens < 0 || tens > 255) {
        model.error = vmx::FrameError::AddressOutOfRange;
        return model;
    }
    const double units = std::nearbyint(*number - 10.0 * tens); // ties to even

    std::vector<char32_t> characters;
    for (std::size_t i = 0; i < command.size(); ++i) {
        char32_t c = command[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < command.size() && command[i + 1] >= 0xDC00 &&
            command[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (command[i + 1] - 0xDC00);
            ++i;
        }
        characters.push_back(c);
    }
    model.lengthSet = true;
    model.commandLength = float(characters.size());
    if (characters.empty()) {
        model.error = vmx::FrameError::EmptyCommand;
        return model;
    }
    const std::size_t sent = std::min<std::size_t>(characters.size(), 18);
    for (std::size_t k = 0; k < sent; ++k) {
        if (characters[k] > 255) {
            model.error = vmx::FrameError::CharacterNotSingleByte;
            return model;
        }
    }
    if (48 + tens > 255) {
        model.error = vmx::FrameError::AddressOutOfRange;
        return model;
    }

    std::vector<unsigned> bytes{7, unsigned(48 + tens), unsigned(48 + units)};
    unsigned sum = 7 + bytes[1] + bytes[2];
    for (std::size_t k = 0; k < sent; ++k) {
        sum += unsigned(characters[k]);
        if (k == 0 || characters[k] != 0)
            bytes.push_back(unsigned(characters[k]));
    }
    char check[3];
    std::snprintf(check, sizeof check, "%02X", sum % 256);
    bytes.push_back(unsigned(check[0]));
    bytes.push_back(unsigned(check[1]));
    bytes.push_back(3);
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        char hex[8];
        std::snprintf(hex, sizeof hex, k + 1 < bytes.size() ? "%X " : "%X", bytes[k]);
        model.echo += QLatin1String(hex);
        model.bytes.append(char(bytes[k]));
    }
    return model;
}

// ---- the check ------------------------------------------------------------------------------

[[noreturn]] void fail(const char* what, const std::u16string& address,
                       const std::u16string& command) {
    std::fprintf(stderr, "command frame: %s\naddress:", what);
    for (const char16_t c : address)
        std::fprintf(stderr, " %04x", unsigned(c));
    std::fprintf(stderr, "\ncommand:");
    for (const char16_t c : command)
        std::fprintf(stderr, " %04x", unsigned(c));
    std::fprintf(stderr, "\n");
    std::abort();
}

std::u16string decode(const std::uint8_t* data, std::size_t size, bool utf16) {
    std::u16string text;
    if (utf16) {
        for (std::size_t i = 0; i + 1 < size; i += 2)
            text.push_back(char16_t(data[i] | (data[i + 1] << 8)));
    } else {
        for (std::size_t i = 0; i < size; ++i)
            text.push_back(char16_t(data[i]));
    }
    return text;
}

QStringView view(const std::u16string& text) {
    return QStringView(text.data(), qsizetype(text.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const bool utf16 = data[0] == 'U';
    const std::u16string text = decode(data + 1, size - 1, utf16);
    const std::size_t split = text.find(u'\n');
    const std::u16string address = text.substr(0, split);
    const std::u16string command = split == std::u16string::npos ? u"" : text.substr(split + 1);

    // Acceptance and value of the address alone. Values too small for a double's normal range
    // may come out as 0 or as the nearest subnormal: both make the same frame.
    const auto parsed = vmx::parseDecimal(view(address));
    const auto modelled = modelNumber(address);
    if (parsed.has_value() != modelled.has_value())
        fail("the address is accepted differently", address, command);
    if (parsed && *parsed != *modelled &&
        !(std::fabs(*parsed) < DBL_MIN && std::fabs(*modelled) < DBL_MIN))
        fail("the address reads as another number", address, command);

    const ModelFrame model = modelFrame(address, command);
    vmx::CommandFrame frame;
    float commandLength = -1;
    const vmx::FrameError error =
        vmx::buildCommandFrame(view(address), view(command), frame, commandLength);
    if (error != model.error)
        fail("the frame fails differently", address, command);
    if (frame.startByte != 7)
        fail("the start byte is not 7", address, command);
    if (model.lengthSet ? commandLength != model.commandLength : commandLength != -1)
        fail("the command length is wrong", address, command);
    if (error != vmx::FrameError::None)
        return 0;
    if (vmx::sendingOrder(frame) != model.bytes)
        fail("the frame bytes differ", address, command);
    if (vmx::echoText(frame) != model.echo)
        fail("the echo differs", address, command);
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // strtod reads a period as the decimal separator only in the C locale.
    std::setlocale(LC_ALL, "C");
    std::fesetround(FE_TONEAREST);
    return 0;
}
