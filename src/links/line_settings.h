#pragma once

#include <QSerialPort>
#include <QString>
#include <QStringView>

#include <optional>

namespace vmx {

// Baud rate, parity, data bits and stop bits of one line-settings text such as "19200, E, 7, 1".
struct LineSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// The settings text for a format (0: even parity, 7 data bits; 1: no parity, 8 data bits) and a
// baud selector (0..3: 1200, 2400, 9600, 19200); nullopt outside that table.
std::optional<QString> lineSettingsText(float comFormat, float baudSelect);

// Parses "baud, parity, data bits, stop bits"; parity is one of N, E, O, M, S.
std::optional<LineSettings> parseLineSettings(QStringView text);

} // namespace vmx
