#pragma once

#include <QByteArrayView>
#include <QString>

namespace vmx {

// How bytes are written as hexadecimal text. Each reader of the programs' output was given its
// form long ago and keeps it, so the forms differ only in these three ways.
enum class HexCase { Upper, Lower };
enum class HexWidth { TwoDigits, NoLeadingZero };

struct HexStyle {
    HexCase letters;
    HexWidth width;
    char separator; // between bytes; '\0' for none
};

// The commissioning log and the device simulator: "07 30 31 52 44 46 45 03".
inline constexpr HexStyle kHexPairs{HexCase::Upper, HexWidth::TwoDigits, ' '};
// The window's echo of a sent frame, as MESSAGE shows it: "7 30 31 52 44 46 45 3".
inline constexpr HexStyle kHexEcho{HexCase::Upper, HexWidth::NoLeadingZero, ' '};
// A record's payload_hex field (CSV, JSON lines): "31322e35".
inline constexpr HexStyle kHexPacked{HexCase::Lower, HexWidth::TwoDigits, '\0'};

// Every byte of `bytes` in `style`, bytes in order; empty for no bytes.
QString hexText(QByteArrayView bytes, HexStyle style);

} // namespace vmx
