#pragma once

#include "support/object_tree.h"

#include <QAbstractSocket>
#include <QSerialPort>
#include <QUdpSocket>

namespace vmx::test {

// Whether the serial port or the UDP socket under `owner` (a link, the exchange or the window)
// is open: read from the port or socket itself, found in Qt's object tree, since the links have
// no accessor that only tests would call. The UDP socket is bound exactly while the link is set
// up: a set-up that fails leaves it unbound.
inline bool serialPortOpen(const QObject& owner) {
    return partOf<QSerialPort>(owner).isOpen();
}
inline bool udpSocketSetUp(const QObject& owner) {
    return partOf<QUdpSocket>(owner).state() == QAbstractSocket::BoundState;
}

} // namespace vmx::test
