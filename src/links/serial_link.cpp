#include "links/serial_link.h"

#include <QDir>
#include <QFileInfo>

namespace vmx {

QString serialPortPath(int portNumber) {
    const QString name = QStringLiteral("COM%1").arg(portNumber);
    const QFileInfo local(QDir::current().filePath(name));
    // Resolve links so that the port's lock file is named after the real device.
    if (local.exists())
        return local.canonicalFilePath();
    // A link whose target is gone still names the port the operator set up; opening it fails.
    if (local.isSymLink())
        return local.symLinkTarget();
#ifdef Q_OS_WIN
    return name;
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}

SerialLink::SerialLink(QObject* parent) : QObject(parent) {
    // The port reports received data as soon as one byte has arrived.
    connect(&port_, &QSerialPort::readyRead, this, &SerialLink::readWaiting);
}

bool SerialLink::prepare(float portSelect, float baudSelect, float comFormat) {
    if (port_.isOpen())
        port_.close();
    if (port_.isOpen())
        return false;

    for (int select = 0; select < 4; ++select) {
        if (portSelect == float(select))
            portNumber_ = select + 1;
    }
    if (const auto text = lineSettingsText(comFormat, baudSelect)) {
        if (const auto settings = parseLineSettings(*text))
            lineSettings_ = *settings;
    }

    // Everything is set while the port is closed: a pseudo-terminal refuses some of these
    // settings once open, and a real port takes them all at opening.
    port_.setPortName(explicitPath_.isEmpty() ? serialPortPath(portNumber_) : explicitPath_);
    if (!port_.setBaudRate(lineSettings_.baudRate) || !port_.setParity(lineSettings_.parity) ||
        !port_.setDataBits(lineSettings_.dataBits) || !port_.setStopBits(lineSettings_.stopBits) ||
        !port_.setFlowControl(QSerialPort::NoFlowControl))
        return false;
    if (!port_.open(QIODevice::ReadWrite)) {
        port_.close();
        return false;
    }
    return true;
}

bool SerialLink::writeFrame(QByteArrayView bytes) {
    port_.clearError();
    for (const char byte : bytes) {
        if (port_.write(&byte, 1) != 1)
            return false;
    }
    // Hand the bytes to the driver now: a write the line refuses (a device that has gone) is
    // reported to SEND instead of passing silently, and a close by the next SEND cannot drop
    // bytes still waiting in the port's buffer.
    port_.flush();
    return port_.error() == QSerialPort::NoError;
}

void SerialLink::readWaiting() {
    const QByteArray chunk = port_.readAll();
    if (!chunk.isEmpty())
        emit received(chunk);
}

} // namespace vmx
