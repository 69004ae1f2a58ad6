#pragma once

#include "links/host_lookup.h"
#include "links/link.h"

#include <QHostAddress>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>

namespace vmx {

// The longest a SEND waits for a device server: the name look-up, the TCP handshake and, for
// RFC 2217, the server's confirmation of the line settings, together. The system's own
// connect timeout is two minutes, far beyond what someone at the window waits.
inline constexpr std::chrono::milliseconds kServerPrepareLimit{3000};

// A serial device server reached over raw TCP (`socket://HOST:PORT`): the bytes of the frame
// go out as they are and whatever arrives is the device's. The server's serial port keeps the
// line settings set on the server.
//
// The connection is made on the first SEND and kept across SENDs while the endpoint (and, for
// RFC 2217, the line settings) stay the same: a gateway usually serves one client per port, a
// new connection costs a handshake (and a negotiation) per SEND, and a late answer still
// arrives as it would on a serial port kept open. A connection the server closes or loses is
// reported through `lost`; the next SEND connects again.
class TcpLink : public Link {
    Q_OBJECT
public:
    // Host names are resolved through `resolveHost` on a thread of its own; the event loop
    // keeps running meanwhile. An address typed as such (IPv6 too) is never looked up.
    explicit TcpLink(HostResolver resolveHost = systemHostLookup, QObject* parent = nullptr);
    ~TcpLink() override;

    QString failureMessage() const override;
    void prepare(const LinkTarget& target) override;
    bool write(QByteArrayView frame) override;
    QString failureDetail() const override { return failureDetail_; }

    bool isReady() const { return phase_ == Phase::Ready; }

protected:
    // What the kind adds once the TCP connection is up: nothing for raw TCP, the negotiation
    // for RFC 2217. It ends with becomeReady() or failPreparation().
    virtual void connectionUp(const LinkTarget& target);
    // Bytes from the server, in the order they came.
    virtual void takeBytes(const QByteArray& bytes);
    // The frame as it goes on the wire.
    virtual QByteArray encoded(QByteArrayView frame) const;
    // Whether a connection made for `current` serves `wanted` as it is.
    virtual bool sameSettings(const LinkTarget& current, const LinkTarget& wanted) const;

    bool negotiating() const { return phase_ == Phase::Negotiating; }
    void becomeReady();
    void failPreparation(const QString& reason);
    // The connection is no good any more (the server broke the protocol): closed, and `lost`.
    void dropConnection(const QString& reason);
    // Bytes to the server outside the payload (answers to option requests). False when the
    // server does not take them.
    bool sendToServer(const QByteArray& bytes);

private:
    enum class Phase { Closed, LookingUp, Connecting, Negotiating, Ready };
    // What one turn of reading takes at most, and what may wait unsent towards a server that
    // does not read: beyond either the link stops growing, whatever the server does.
    static constexpr qint64 kReadBufferBytes = 64 * 1024;
    static constexpr qint64 kUnsentLimitBytes = 64 * 1024;

    void connectTo(const QHostAddress& address);
    void hostLookedUp(const QList<QHostAddress>& addresses);
    void socketFailed(QAbstractSocket::SocketError error);
    void connectionClosed();
    void readArrived();
    void acknowledgeNow();
    void limitReached();
    void close();

    QTcpSocket socket_;
    LaterHostLookup lookup_;
    QTimer limit_;
    Phase phase_ = Phase::Closed;
    LinkTarget target_;
    Endpoint endpoint_;
    QString failureDetail_;
};

} // namespace vmx
