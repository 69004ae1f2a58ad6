#include "links/serial_link.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace vmx {

QString serialPortPath(int portNumber) {
    const QString name = QStringLiteral("COM%1").arg(portNumber);
#ifdef Q_OS_WIN
    // COM1..COM4 are device names in every folder: asking for such a file in the current folder
    // asks the device itself, so the name is the port.
    return name;
#else
    const QFileInfo local(QDir::current().filePath(name));
    // Resolve links so that the port's lock file is named after the real device.
    if (local.exists())
        return local.canonicalFilePath();
    // A link whose target is gone still names the port the operator set up; opening it fails.
    if (local.isSymLink())
        return local.symLinkTarget();
#ifdef Q_OS_MACOS
    // No numbered serial devices exist here: the link in the current folder is the only way to
    // a port, and without it opening fails.
    return local.filePath();
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
#endif
}

SerialLink::SerialLink(QObject* parent) : Link(parent) {
    // A child in Qt's object tree, where the settings it was last opened with can be read.
    port_.setParent(this);
    // The port reports received data as soon as one byte has arrived.
    connect(&port_, &QSerialPort::readyRead, this, &SerialLink::readWaiting);
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialLink::portFailed);
}

void SerialLink::prepare(const LinkTarget& target) {
    emit prepared(open(std::get<SerialTarget>(target)));
}

bool SerialLink::open(const SerialTarget& target) {
    if (target.serialPort >= 1 && target.serialPort <= 4)
        portNumber_ = target.serialPort;
    const LineSettings settings = target.line.value_or(lineSettings_);
    const QString path =
        target.serialPath.isEmpty() ? serialPortPath(portNumber_) : target.serialPath;
    if (target.keepOpen && port_.isOpen() && !writeFailed_ && path == openedPath_ &&
        settings == lineSettings_)
        return true;

    if (port_.isOpen())
        port_.close();
    if (port_.isOpen())
        return fail();
    lineSettings_ = settings;
    writeFailed_ = false;

    // Everything is set while the port is closed: a pseudo-terminal refuses some of these
    // settings once open, and a real port takes them all at opening.
    openedPath_ = path;
    port_.setPortName(path);
    if (!port_.setBaudRate(lineSettings_.baudRate) || !port_.setParity(lineSettings_.parity) ||
        !port_.setDataBits(lineSettings_.dataBits) || !port_.setStopBits(lineSettings_.stopBits) ||
        !port_.setFlowControl(QSerialPort::NoFlowControl))
        return fail();
    if (!port_.open(QIODevice::ReadWrite)) {
        fail();
        port_.close();
        return false;
    }
    ++opening_;
    return true;
}

bool SerialLink::fail() {
    failureDetail_ = QStringLiteral("%1: %2").arg(openedPath_, port_.errorString());
    return false;
}

bool SerialLink::write(QByteArrayView bytes) {
    port_.clearError();
    for (const char byte : bytes) {
        if (port_.write(&byte, 1) != 1) {
            writeFailed_ = true;
            return fail();
        }
    }
    // Hand the bytes to the driver now: a write the line refuses (a device that has gone) is
    // reported to SEND instead of passing silently, and a close by the next SEND cannot drop
    // bytes still waiting in the port's buffer.
    port_.flush();
    if (port_.error() == QSerialPort::NoError)
        return true;
    writeFailed_ = true;
    return fail();
}

void SerialLink::readWaiting() {
    const QByteArray chunk = port_.readAll();
    if (!chunk.isEmpty())
        emit bytesArrived(chunk);
    else if (lineHungUp())
        closeSoon();
}

void SerialLink::portFailed(QSerialPort::SerialPortError error) {
    // The port keeps its notifier and reports these again at once, so they are the device
    // going away, not a passing fault. A write can fail for other reasons too; it is a lost
    // device only when the line says so.
    if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError ||
        (error == QSerialPort::WriteError && lineHungUp()))
        closeSoon();
}

bool SerialLink::lineHungUp() const {
#ifdef Q_OS_UNIX
    if (!port_.isOpen())
        return false;
    pollfd line{int(port_.handle()), POLLIN, 0};
    return ::poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL));
#else
    return false;
#endif
}

void SerialLink::closeSoon() {
    if (!port_.isOpen() || closeQueuedFor_ == opening_)
        return;
    closeQueuedFor_ = opening_;
    // The port reports from inside its own notification; closing it there would take the
    // notifier away under its feet, so the close waits for the event loop.
    QMetaObject::invokeMethod(
        this, [this, opening = opening_] { closeLostPort(opening); }, Qt::QueuedConnection);
}

void SerialLink::closeLostPort(quint64 opening) {
    if (opening != opening_ || !port_.isOpen())
        return;
    port_.close();
    failureDetail_ = openedPath_ + QStringLiteral(": the line hung up (the device went away)");
    emit lost();
}

} // namespace vmx
