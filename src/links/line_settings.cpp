#include "links/line_settings.h"

#include <array>

namespace vmx {

namespace {

constexpr std::array<qint32, 4> kBaudRates{1200, 2400, 9600, 19200};

struct FormatValues {
    QSerialPort::Parity parity;
    QSerialPort::DataBits dataBits;
};
constexpr std::array<const char*, 2> kFormatNames{"E71", "N81"};
constexpr std::array<FormatValues, 2> kFormats{{
    {QSerialPort::EvenParity, QSerialPort::Data7},
    {QSerialPort::NoParity, QSerialPort::Data8},
}};

} // namespace

LineSettings lineSettings(BaudRate baud, LineFormat format) {
    const FormatValues& values = kFormats[size_t(format)];
    return {kBaudRates[size_t(baud)], values.parity, values.dataBits, QSerialPort::OneStop};
}

std::optional<BaudRate> baudRateNamed(QStringView text) {
    for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
        if (text == QString::number(kBaudRates[i]))
            return BaudRate(i);
    }
    return std::nullopt;
}

std::optional<LineFormat> lineFormatNamed(QStringView text) {
    for (std::size_t i = 0; i < kFormatNames.size(); ++i) {
        if (text.compare(QLatin1String(kFormatNames[i]), Qt::CaseInsensitive) == 0)
            return LineFormat(i);
    }
    return std::nullopt;
}

} // namespace vmx
