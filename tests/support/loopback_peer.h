#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QString>
#include <QUdpSocket>

namespace vmx::test {

inline const QHostAddress kLoopback{QHostAddress::LocalHost};
inline const QString kLoopbackText = QStringLiteral("127.0.0.1");

// Stands in for a device on the network: a socket on a loopback address (127.0.0.1 unless
// another is named) at a port of the system's choice.
struct LoopbackPeer {
    QUdpSocket socket;
    bool bound = false;

    explicit LoopbackPeer(const QHostAddress& address = kLoopback);
    QString portText() const { return QString::number(socket.localPort()); }

    // The next datagram, or an invalid one when none comes within the time.
    QNetworkDatagram next(int timeoutMs = 3000);
    // True when nothing arrives within `settleMs`.
    bool quiet(int settleMs = 150);
    // An answer to the tool's local port on this machine.
    bool answer(const QByteArray& payload);
};

} // namespace vmx::test
