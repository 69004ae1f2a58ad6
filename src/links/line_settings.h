#pragma once

#include "links/link_choice.h"

#include <QSerialPort>

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

} // namespace vmx
