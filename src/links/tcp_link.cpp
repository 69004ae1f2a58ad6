#include "links/tcp_link.h"

#include "links/serial_link.h"

#include <QNetworkProxy>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace vmx {

namespace {

Endpoint endpointOf(const LinkTarget& target) {
    if (const auto* tcp = std::get_if<TcpTarget>(&target))
        return tcp->endpoint;
    if (const auto* rfc2217 = std::get_if<Rfc2217Target>(&target))
        return rfc2217->endpoint;
    return {};
}

QString seconds(std::chrono::milliseconds limit) {
    return QString::number(double(limit.count()) / 1000.0);
}

} // namespace

TcpLink::TcpLink(HostResolver resolveHost, QObject* parent)
    : Link(parent), lookup_(std::move(resolveHost)) {
    socket_.setReadBufferSize(kReadBufferBytes);
    // A device server is reached directly, whatever proxy the system has for the web; nor is
    // the proxy library loaded and asked at each connection.
    socket_.setProxy(QNetworkProxy::NoProxy);
    limit_.setSingleShot(true);
    connect(&limit_, &QTimer::timeout, this, &TcpLink::limitReached);
    connect(&lookup_, &LaterHostLookup::answered, this, &TcpLink::hostLookedUp);
    connect(&socket_, &QTcpSocket::connected, this, [this] {
        if (phase_ != Phase::Connecting)
            return;
        // A frame is a handful of bytes: it goes at once instead of waiting for more.
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        phase_ = Phase::Negotiating;
        connectionUp(target_);
    });
    connect(&socket_, &QTcpSocket::errorOccurred, this, &TcpLink::socketFailed);
    connect(&socket_, &QTcpSocket::disconnected, this, &TcpLink::connectionClosed);
    connect(&socket_, &QTcpSocket::readyRead, this, &TcpLink::readArrived);
}

TcpLink::~TcpLink() {
    // The socket reports its closing while it is destroyed, after this object's own parts are
    // gone: nothing of it may reach them.
    socket_.disconnect(this);
    phase_ = Phase::Closed;
    socket_.abort();
}

QString TcpLink::failureMessage() const {
    // Reached through a Com button: the window says what it says for a serial port.
    return kComPortError;
}

void TcpLink::prepare(const LinkTarget& target) {
    const Endpoint endpoint = endpointOf(target);
    const bool same = endpoint == endpoint_ && sameSettings(target_, target);
    if (same && phase_ == Phase::Ready && socket_.state() == QAbstractSocket::ConnectedState) {
        emit prepared(true);
        return;
    }
    if (same && phase_ != Phase::Closed && phase_ != Phase::Ready)
        return; // the attempt under way reports
    close();
    target_ = target;
    endpoint_ = endpoint;
    limit_.start(kServerPrepareLimit);
    QHostAddress literal;
    if (literal.setAddress(endpoint.host)) {
        connectTo(literal);
        return;
    }
    phase_ = Phase::LookingUp;
    lookup_.start(endpoint.host);
}

void TcpLink::hostLookedUp(const QList<QHostAddress>& addresses) {
    if (phase_ != Phase::LookingUp)
        return;
    if (addresses.isEmpty())
        return failPreparation(QStringLiteral("unknown host: the name has no address"));
    connectTo(addresses.constFirst());
}

void TcpLink::connectTo(const QHostAddress& address) {
    phase_ = Phase::Connecting;
    socket_.connectToHost(address, endpoint_.port);
}

void TcpLink::connectionUp(const LinkTarget&) {
    becomeReady();
}

void TcpLink::becomeReady() {
    limit_.stop();
    phase_ = Phase::Ready;
    emit prepared(true);
}

void TcpLink::failPreparation(const QString& reason) {
    failureDetail_ = endpoint_.text + QStringLiteral(": ") + reason;
    close();
    emit prepared(false);
}

void TcpLink::dropConnection(const QString& reason) {
    failureDetail_ = endpoint_.text + QStringLiteral(": ") + reason;
    close();
    emit lost();
}

void TcpLink::close() {
    limit_.stop();
    lookup_.cancel();
    // The phase goes first: aborting may report the disconnection at once.
    phase_ = Phase::Closed;
    socket_.abort();
}

void TcpLink::limitReached() {
    switch (phase_) {
    case Phase::LookingUp:
        return failPreparation(QStringLiteral("timed out: the host name had no answer within %1 s")
                                   .arg(seconds(kServerPrepareLimit)));
    case Phase::Connecting:
        return failPreparation(QStringLiteral("timed out: no connection within %1 s")
                                   .arg(seconds(kServerPrepareLimit)));
    case Phase::Negotiating:
        return failPreparation(
            QStringLiteral("timed out: the server did not confirm the line settings within %1 s")
                .arg(seconds(kServerPrepareLimit)));
    case Phase::Closed:
    case Phase::Ready:
        break;
    }
}

void TcpLink::socketFailed(QAbstractSocket::SocketError error) {
    QString reason;
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        reason = QStringLiteral("connection refused");
        break;
    case QAbstractSocket::HostNotFoundError:
        reason = QStringLiteral("unknown host");
        break;
    case QAbstractSocket::NetworkError:
        reason = QStringLiteral("unreachable (%1)").arg(socket_.errorString());
        break;
    case QAbstractSocket::SocketTimeoutError:
        reason = QStringLiteral("timed out");
        break;
    case QAbstractSocket::RemoteHostClosedError:
        reason = QStringLiteral("the server closed the connection");
        break;
    default:
        reason = socket_.errorString();
        break;
    }
    if (socket_.errorString().contains(u"unreachable", Qt::CaseInsensitive) &&
        !reason.startsWith(u"unreachable"))
        reason = QStringLiteral("unreachable (%1)").arg(socket_.errorString());
    if (phase_ == Phase::Ready)
        return dropConnection(reason);
    if (phase_ != Phase::Closed)
        failPreparation(reason);
}

void TcpLink::connectionClosed() {
    if (phase_ == Phase::Ready)
        dropConnection(QStringLiteral("the server closed the connection"));
    else if (phase_ != Phase::Closed)
        failPreparation(QStringLiteral("the server closed the connection"));
}

void TcpLink::readArrived() {
    acknowledgeNow();
    // The read buffer holds at most kReadBufferBytes, so one turn takes at most that much; the
    // socket reports again for the rest.
    const QByteArray bytes = socket_.read(kReadBufferBytes);
    if (!bytes.isEmpty() && phase_ != Phase::Closed)
        takeBytes(bytes);
}

void TcpLink::acknowledgeNow() {
#ifdef Q_OS_LINUX
    // A server's answers come in small pieces, and a server that waits for each piece to be
    // acknowledged before it sends the next (Nagle's rule, ser2net's default) would otherwise
    // wait out this side's delayed acknowledgement, 40 ms, once per piece: the negotiation took
    // 45 ms instead of 2. Asking for a quick acknowledgement sends the one pending now; the
    // system falls back to delaying them by itself, so it is asked after every read.
    const int on = 1;
    ::setsockopt(int(socket_.socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#endif
}

void TcpLink::takeBytes(const QByteArray& bytes) {
    emit bytesArrived(bytes);
}

QByteArray TcpLink::encoded(QByteArrayView frame) const {
    return frame.toByteArray();
}

bool TcpLink::sameSettings(const LinkTarget&, const LinkTarget&) const {
    return true;
}

bool TcpLink::sendToServer(const QByteArray& bytes) {
    if (socket_.write(bytes) != bytes.size() || socket_.bytesToWrite() > kUnsentLimitBytes)
        return false;
    socket_.flush();
    return true;
}

bool TcpLink::write(QByteArrayView frame) {
    if (phase_ != Phase::Ready) {
        failureDetail_ = endpoint_.text + QStringLiteral(": not connected");
        return false;
    }
    const QByteArray bytes = encoded(frame);
    if (socket_.write(bytes) != bytes.size()) {
        failureDetail_ = endpoint_.text + QStringLiteral(": ") + socket_.errorString();
        return false;
    }
    // A server that reads nothing would have every frame of a long poll kept here.
    if (socket_.bytesToWrite() > kUnsentLimitBytes) {
        const QString reason = QStringLiteral("the server takes nothing that is sent to it");
        dropConnection(reason);
        failureDetail_ = endpoint_.text + QStringLiteral(": ") + reason;
        return false;
    }
    // Out now, without waiting for the event loop: the round trip starts here.
    socket_.flush();
    return true;
}

} // namespace vmx
