#include "support/loopback_peer.h"

#include "links/udp_link.h"

namespace vmx::test {

LoopbackPeer::LoopbackPeer(const QHostAddress& address) {
    bound = socket.bind(address, 0);
}

QNetworkDatagram LoopbackPeer::next(int timeoutMs) {
    if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(timeoutMs))
        return {};
    return socket.receiveDatagram();
}

bool LoopbackPeer::quiet(int settleMs) {
    return !socket.hasPendingDatagrams() && !socket.waitForReadyRead(settleMs);
}

bool LoopbackPeer::answer(const QByteArray& payload) {
    return socket.writeDatagram(payload, kLoopback, kLocalUdpPort) == payload.size();
}

} // namespace vmx::test
