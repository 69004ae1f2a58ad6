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

// The longest text (command, IP address, IP port) the window takes from a settings file, in
// characters. The text boxes hold as much, so every text that loads is written back whole at
// EXIT; a file with a longer text is refused at start-up as a load error (a text box would take
// seconds to show a text of many MiB). Three such texts fit well inside the head of the file
// that is read at all (see readSettingsBytes).
inline constexpr qsizetype kMaxSettingsTextLength = qsizetype(1) << 20;

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
// stored as '?', and so is a CR or LF inside a text, which would otherwise split its line.
QByteArray encodeSettings(const Settings& settings);

// Reads fourteen items by position (label, value, seven times) into `settings`. Each value is
// stored as soon as it has been read, so on failure the values read before it are kept.
// Returns false when the bytes end before the fourteenth item; whatever follows it is ignored.
//
// Items. A line ends at CR LF, a lone LF or a lone CR. An item ends at a comma or a line end;
// blanks (spaces, tabs) before an item are skipped. Labels are never compared.
//  - Label: empty lines before it are passed over. A label that begins with a double quote runs
//    to the next double quote on its line (to the line end when there is none); what follows the
//    closing quote up to the next comma or line end is skipped. An unquoted label runs to the
//    next comma or line end.
//  - Value that begins with a double quote: it runs to the LAST double quote before its line end
//    (to the line end when there is no other), without the quotes, and takes the rest of its
//    line. So a text holding quotes and commas, such as a",b written as "a",b", reads back whole
//    and never shifts the lines after it. A quoted value must therefore end its line, as every
//    written file has it.
//  - Unquoted value: the text up to the next comma or line end (an empty value there is empty
//    text or 0). The bytes ending right where a value should begin is a failure.
//  - Texts are Latin-1, one character per byte; NUL and other control bytes are kept as they are.
//  - A number item is read by the rule of numericValue: blanks anywhere are ignored, the longest
//    leading decimal number counts (period as separator, whatever the locale) and an item that
//    does not start with a number reads as 0 ("12abc" -> 12, "abc" -> 0), never as a failure.
// Every step moves forward through the bytes, so the time is linear in their size.
bool decodeSettings(QByteArrayView bytes, Settings& settings);

// A number as the file and the address box show it: whole numbers of up to seven digits as
// plain digits ("-0" as "0"), anything else as the shortest text that reads back to the same
// float ("2.5", "1e+07"), always with a period. Infinity is written as the nearest finite float
// and NaN as 0, so the file always reloads.
QString formatSettingsNumber(float value);

// The numeric value of a typed text: blanks, tabs, line feeds and carriage returns anywhere are
// skipped, then the longest leading decimal number counts: optional sign, digits, optional period
// and fraction (at least one digit in all), optional exponent taken only when it has digits
// ("02" -> 2, "12abc" -> 12, "1e" -> 1, "" -> 0). A value beyond the float range is held at the
// largest finite float ("1e39" -> FLT_MAX), so what is stored always reads back; one too small
// for a float gives 0.
float numericValue(QStringView text);

} // namespace vmx
