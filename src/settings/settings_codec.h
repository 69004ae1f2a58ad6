#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace vmx {

inline constexpr char kSettingsFileName[] = "velmarixon.ini";

// The fixed address of the device on its own private network, written by a first start.
// Nothing in the tests or tools may ever send to it.
QString defaultIpAddress();

// The seven stored settings, in file order.
struct Settings {
    float iniPort = 0;
    float iniBaud = 0;
    float iniAddress = 0;
    QString iniCommand;
    QString ipAddress;
    QString ipPort;
    float comFormat = 0;
};

// What a first start writes: COM1, 19200 baud, address 1, "RD", the default IP address, "5000";
// the format keeps the value it has.
Settings defaultSettings(float comFormat);

// The seven lines, byte for byte: "label",value CR LF. Texts are quoted and not escaped; numbers
// use the C locale. Texts are stored one byte per character (Latin-1); a character beyond it is
// stored as '?'.
QByteArray encodeSettings(const Settings& settings);

// Reads fourteen items by position (label, value, seven times) into `settings`. Each value is
// stored as soon as it has been read, so on failure the values read before it are kept.
// Returns false when the bytes end before the fourteenth item.
bool decodeSettings(QByteArrayView bytes, Settings& settings);

// A number as the file and the address box show it: whole numbers of up to seven digits as
// plain digits, anything else as the shortest text that reads back to the same float.
QString formatSettingsNumber(float value);

// The numeric value of a typed text: blanks, tabs and line feeds anywhere are skipped, then the
// longest leading decimal number counts ("02" -> 2, "12abc" -> 12, "" -> 0). A value beyond the
// float range is held at the largest finite float, so what is stored always reads back.
float numericValue(QStringView text);

} // namespace vmx
