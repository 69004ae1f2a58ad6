#include "links/line_settings.h"

#include <QList>

#include <array>
#include <limits>

namespace vmx {

namespace {

// Rows by format, columns by baud selector.
constexpr std::array<std::array<const char*, 4>, 2> kSettingsTexts{{
    {"1200, E, 7, 1", "2400, E, 7, 1", "9600, E, 7, 1", "19200, E, 7, 1"},
    {"1200, N, 8, 1", "2400, N, 8, 1", "9600, N, 8, 1", "19200, N, 8, 1"},
}};

// The selectors are floats compared against exact whole values; anything else is outside.
std::optional<int> tableIndex(float selector, int count) {
    for (int i = 0; i < count; ++i) {
        if (selector == float(i))
            return i;
    }
    return std::nullopt;
}

// A positive whole number made of decimal digits only.
std::optional<qint32> parseBaud(QStringView text) {
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > std::numeric_limits<qint32>::max())
            return std::nullopt;
    }
    if (value == 0)
        return std::nullopt;
    return qint32(value);
}

std::optional<QSerialPort::Parity> parseParity(QStringView text) {
    if (text.size() != 1)
        return std::nullopt;
    switch (text.front().toUpper().unicode()) {
    case u'N':
        return QSerialPort::NoParity;
    case u'E':
        return QSerialPort::EvenParity;
    case u'O':
        return QSerialPort::OddParity;
    case u'M':
        return QSerialPort::MarkParity;
    case u'S':
        return QSerialPort::SpaceParity;
    default:
        return std::nullopt;
    }
}

std::optional<QSerialPort::DataBits> parseDataBits(QStringView text) {
    if (text == u"5")
        return QSerialPort::Data5;
    if (text == u"6")
        return QSerialPort::Data6;
    if (text == u"7")
        return QSerialPort::Data7;
    if (text == u"8")
        return QSerialPort::Data8;
    return std::nullopt;
}

std::optional<QSerialPort::StopBits> parseStopBits(QStringView text) {
    if (text == u"1")
        return QSerialPort::OneStop;
    if (text == u"1.5")
        return QSerialPort::OneAndHalfStop;
    if (text == u"2")
        return QSerialPort::TwoStop;
    return std::nullopt;
}

} // namespace

std::optional<QString> lineSettingsText(float comFormat, float baudSelect) {
    const auto format = tableIndex(comFormat, int(kSettingsTexts.size()));
    const auto baud = tableIndex(baudSelect, int(kSettingsTexts[0].size()));
    if (!format || !baud)
        return std::nullopt;
    return QString::fromLatin1(kSettingsTexts[size_t(*format)][size_t(*baud)]);
}

std::optional<LineSettings> parseLineSettings(QStringView text) {
    const QList<QStringView> fields = text.split(u',');
    if (fields.size() != 4)
        return std::nullopt;
    const auto baud = parseBaud(fields[0].trimmed());
    const auto parity = parseParity(fields[1].trimmed());
    const auto dataBits = parseDataBits(fields[2].trimmed());
    const auto stopBits = parseStopBits(fields[3].trimmed());
    if (!baud || !parity || !dataBits || !stopBits)
        return std::nullopt;
    return LineSettings{*baud, *parity, *dataBits, *stopBits};
}

} // namespace vmx
