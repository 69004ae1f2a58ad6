#include "device_sim/udp_endpoint.h"

#include <QNetworkDatagram>

namespace vmx::sim {

namespace {
constexpr quint32 kLoopback = 0x7F000001; // 127.0.0.1
}

UdpEndpoint::UdpEndpoint(QObject* parent) : QObject(parent) {
    connect(&socket_, &QUdpSocket::readyRead, this, &UdpEndpoint::readPending);
}

bool UdpEndpoint::isLoopback127(const QHostAddress& address) {
    bool ok = false;
    const quint32 value = address.toIPv4Address(&ok);
    return ok && value == kLoopback;
}

bool UdpEndpoint::open(quint16 port, QString* error) {
    if (!socket_.bind(QHostAddress(kLoopback), port, QAbstractSocket::DontShareAddress)) {
        *error =
            QStringLiteral("Cannot bind 127.0.0.1:%1: %2").arg(port).arg(socket_.errorString());
        socket_.close();
        return false;
    }
    return true;
}

bool UdpEndpoint::send(QByteArrayView bytes, const Destination& to) {
    if (!isLoopback127(to.host) || to.port == 0)
        return false;
    const qint64 sent =
        socket_.writeDatagram(bytes.data(), bytes.size(), QHostAddress(kLoopback), to.port);
    return sent == bytes.size();
}

void UdpEndpoint::readPending() {
    while (socket_.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket_.receiveDatagram();
        if (!datagram.isValid())
            break;
        const Destination from{datagram.senderAddress(), quint16(datagram.senderPort())};
        if (!isLoopback127(from.host) || from.port == 0) {
            emit ignored(QStringLiteral("ignored %1 byte(s) from %2: answers go to 127.0.0.1 only")
                             .arg(datagram.data().size())
                             .arg(from.describe()));
            continue;
        }
        if (handler_)
            handler_(datagram.data(), from);
    }
}

} // namespace vmx::sim
