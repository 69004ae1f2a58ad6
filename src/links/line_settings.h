#pragma once

#include "links/link_choice.h"

#include <QSerialPort>
#include <QStringView>

#include <optional>

namespace vmx {

// What the serial port is opened with.
struct LineSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// The port's values for a baud rate and a format ("19200, E, 7, 1" for B19200 and E71).
LineSettings lineSettings(BaudRate baud, LineFormat format);

// The baud rate of a number of bits per second ("19200"), the format of its name ("N81", any
// case); nullopt for any other text.
std::optional<BaudRate> baudRateNamed(QStringView text);
std::optional<LineFormat> lineFormatNamed(QStringView text);

} // namespace vmx
