// The settings-file reader fed any bytes. Whatever it accepts, written back and read again, must
// give the same seven values, and writing those must give the very same bytes again.
//
// Numbers are compared as floats: equal bits, except that 0 and -0 count as one value (the file
// writes both as "0", and every comparison the program makes treats them alike). NaN and
// infinity must never come out of the reader at all.
#include "settings/settings_codec.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what, const vmx::Settings& first, const vmx::Settings& second,
                       const QByteArray& written) {
    std::fprintf(stderr, "settings round trip: %s\n", what);
    const auto show = [](const char* name, const vmx::Settings& s) {
        std::fprintf(
            stderr, "%s: %.9g (%08x) %.9g (%08x) %.9g (%08x) \"%s\" \"%s\" \"%s\" %.9g (%08x)\n",
            name, double(s.iniPort), std::bit_cast<std::uint32_t>(s.iniPort), double(s.iniBaud),
            std::bit_cast<std::uint32_t>(s.iniBaud), double(s.iniAddress),
            std::bit_cast<std::uint32_t>(s.iniAddress), s.iniCommand.toLatin1().toHex().constData(),
            s.ipAddress.toLatin1().toHex().constData(), s.ipPort.toLatin1().toHex().constData(),
            double(s.comFormat), std::bit_cast<std::uint32_t>(s.comFormat));
    };
    show("read", first);
    show("read again", second);
    std::fprintf(stderr, "written: %s\n", written.toHex().constData());
    std::abort();
}

bool sameNumber(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b) ||
           (a == 0.0f && b == 0.0f);
}

bool sameValues(const vmx::Settings& a, const vmx::Settings& b) {
    return sameNumber(a.iniPort, b.iniPort) && sameNumber(a.iniBaud, b.iniBaud) &&
           sameNumber(a.iniAddress, b.iniAddress) && a.iniCommand == b.iniCommand &&
           a.ipAddress == b.ipAddress && a.ipPort == b.ipPort &&
           sameNumber(a.comFormat, b.comFormat);
}

bool allFinite(const vmx::Settings& s) {
    return std::isfinite(s.iniPort) && std::isfinite(s.iniBaud) && std::isfinite(s.iniAddress) &&
           std::isfinite(s.comFormat);
}

// A state no file produces, so a value the second reading failed to set stands out.
vmx::Settings untouched() {
    vmx::Settings s;
    s.iniPort = -11;
    s.iniBaud = -12;
    s.iniAddress = -13;
    s.iniCommand = QStringLiteral("<command>");
    s.ipAddress = QStringLiteral("<ip>");
    s.ipPort = QStringLiteral("<port>");
    s.comFormat = -14;
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(data, qsizetype(size));
    vmx::Settings first = untouched();
    if (!vmx::decodeSettings(bytes, first))
        return 0;

    const QByteArray written = vmx::encodeSettings(first);
    vmx::Settings second = untouched();
    if (!allFinite(first))
        fail("the reader gave a number that is not finite", first, second, written);
    if (written.count("\r\n") != 7 || !written.endsWith("\r\n"))
        fail("the writer did not write seven lines", first, second, written);
    if (!vmx::decodeSettings(written, second))
        fail("the written file does not read", first, second, written);
    if (!sameValues(first, second))
        fail("the written file reads back other values", first, second, written);
    if (vmx::encodeSettings(second) != written)
        fail("writing the values read back gives other bytes", first, second, written);
    return 0;
}
