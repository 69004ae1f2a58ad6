#include "links/udp_link.h"

#include "protocol/decimal_text.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QVariant>

#include <limits>

namespace vmx {

namespace {

// The host text as an IPv4 address: a literal, or else the first IPv4 address the name resolves
// to within the time limit. The socket is bound to IPv4 only, so a host without an IPv4 address
// cannot be reached; an address typed as such, IPv6 ones too, is never looked up.
std::optional<QHostAddress> resolveIpv4(const QString& host, const HostResolver& resolveHost) {
    QHostAddress literal;
    if (literal.setAddress(host))
        return literal.protocol() == QAbstractSocket::IPv4Protocol ? std::optional(literal)
                                                                   : std::nullopt;
    if (host.trimmed().isEmpty())
        return std::nullopt;
    for (const QHostAddress& address : lookUpWithin(resolveHost, host)) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address;
    }
    return std::nullopt;
}

} // namespace

std::optional<qint32> ipPortNumber(QStringView text) {
    const auto value = parseDecimal(text);
    if (!value)
        return std::nullopt;
    const double whole = roundHalfEven(*value);
    if (whole < double(std::numeric_limits<qint32>::min()) ||
        whole > double(std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return qint32(whole);
}

UdpLink::UdpLink(HostResolver resolveHost, QObject* parent)
    : Link(parent), resolveHost_(std::move(resolveHost)) {
    // A child in Qt's object tree, where whether it is bound can be read.
    socket_.setParent(this);
    // The device is reached directly. Without this, binding asks the system's proxy settings
    // first (a thread of its own, the proxy library and its files: milliseconds at every
    // start), and a proxy meant for the web has no business with a device's datagrams.
    socket_.setProxy(QNetworkProxy::NoProxy);
    connect(&socket_, &QUdpSocket::readyRead, this, &UdpLink::readPendingDatagrams);
}

void UdpLink::prepare(const LinkTarget& target) {
    emit prepared(setUp(std::get<UdpTarget>(target)));
}

bool UdpLink::setUp(const UdpTarget& target) {
    if (setUp_)
        return true;

    const QString endpoint = target.ipAddress + u':' + target.ipPort;
    const auto port = ipPortNumber(target.ipPort);
    if (!port || *port < 1 || *port > 65535)
        return fail(endpoint, QStringLiteral("the port is no number from 1 to 65535"));
    const auto host = resolveIpv4(target.ipAddress, resolveHost_);
    if (!host)
        return fail(endpoint, QStringLiteral("the host has no IPv4 address"));
    // No sharing: when another program holds the local port the set-up fails. The socket is
    // not connected either, so answers from any source port are received.
    if (!socket_.bind(QHostAddress::AnyIPv4, target.localUdpPort,
                      QAbstractSocket::DontShareAddress)) {
        fail(QStringLiteral("local port %1").arg(target.localUdpPort), socket_.errorString());
        socket_.close();
        return false;
    }
    // Room for a burst: datagrams that arrive while the window is busy wait here instead of
    // being dropped (the system may grant less).
    socket_.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBufferBytes);

    remoteHost_ = *host;
    remotePort_ = quint16(*port);
    setUp_ = true;
    return true;
}

bool UdpLink::write(QByteArrayView frame) {
    if (!setUp_)
        return fail(QString(), QStringLiteral("the socket is not set up"));
    const qint64 sent = socket_.writeDatagram(frame.data(), frame.size(), remoteHost_, remotePort_);
    if (sent == frame.size())
        return true;
    return fail(QStringLiteral("%1:%2").arg(remoteHost_.toString()).arg(remotePort_),
                socket_.errorString());
}

bool UdpLink::fail(const QString& where, const QString& why) {
    failureDetail_ = where.isEmpty() ? why : where + QStringLiteral(": ") + why;
    return false;
}

void UdpLink::readPendingDatagrams() {
    // One notification may stand for several queued datagrams; each is reported on its own.
    // Each is read straight into a buffer that holds the largest one: asking first whether one
    // waits and how large it is would cost two more system calls per datagram, and the read
    // that finds the queue empty ends the turn. Under a flood the queue refills as fast as it
    // is read: after a share of it the window gets its turn to show and paint. The socket
    // reports the rest again on the next turn of the event loop: each read lets it notify once
    // more while datagrams wait.
    int datagrams = 0;
    qint64 bytes = 0;
    QElapsedTimer turn;
    turn.start();
    while (datagrams < kMaxDatagramsPerTurn && bytes < kMaxBytesPerTurn &&
           turn.elapsed() < kMaxMillisecondsPerTurn) {
        const qint64 size = socket_.readDatagram(datagram_.data(), datagram_.size());
        if (size < 0)
            break;
        ++datagrams;
        bytes += size;
        // An empty datagram delivers nothing, so it is passed over.
        if (size > 0)
            emit bytesArrived(QByteArray(datagram_.constData(), size));
    }
}

} // namespace vmx
