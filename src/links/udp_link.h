#pragma once

#include "links/host_lookup.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QUdpSocket>

#include <optional>

namespace vmx {

// Frames leave from this local port and answers are received on it.
inline constexpr quint16 kLocalUdpPort = 5000;

// The IP port text as a 32-bit signed integer, a fraction rounded to the nearest whole number;
// nullopt for text that is not a number or does not fit.
std::optional<qint32> ipPortNumber(QStringView text);

// The UDP link. Set up only while closed (in practice on the first SEND over UDP): bound to
// local port 5000 on every IPv4 address, aimed at the host and port given then. Later texts do
// not reach it. Each datagram that arrives on port 5000, from any sender, is reported once.
//
// Use: prepare(), then send(); answers arrive through `datagramReceived` while the event loop
// runs.
class UdpLink : public QObject {
    Q_OBJECT
public:
    // Host names are resolved through `resolveHost`, the system's look-up unless another is
    // given; an IPv4 address typed as such never reaches it.
    explicit UdpLink(HostResolver resolveHost = systemHostLookup, QObject* parent = nullptr);

    // Sets the socket up when it is closed; leaves it unchanged otherwise. False when the port
    // text is no number or no usable UDP port, when the host is neither an IPv4 address nor a
    // name with an IPv4 address, or when local port 5000 cannot be taken. A name is waited for
    // at most kHostLookupLimit (2 s); a name with no answer by then fails like an unknown one.
    // A set-up that fails part-way leaves the link closed.
    bool prepare(const QString& ipAddress, const QString& ipPort);

    // The local port the next set-up binds: 5000 unless changed (the command line's
    // --local-port); 0 takes a free port of the system's choice.
    void setLocalPort(quint16 port) { localPort_ = port; }

    // Sends the frame as one datagram to the destination of the set-up.
    bool send(QByteArrayView frame);

    bool isSetUp() const { return setUp_; }
    QHostAddress remoteHost() const { return remoteHost_; }
    quint16 remotePort() const { return remotePort_; }

signals:
    void datagramReceived(const QByteArray& payload);

private:
    // The receive buffer asked for on set-up, and how much is read in one turn of the event
    // loop before the rest waits for the next. A datagram of up to 64 KiB is one line of as
    // many characters, which takes the window milliseconds to lay out, so a turn ends after
    // the first datagram that reaches the byte share.
    static constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;
    static constexpr int kMaxDatagramsPerTurn = 1024;
    static constexpr qint64 kMaxBytesPerTurn = 32 * 1024;

    void readPendingDatagrams();

    HostResolver resolveHost_;
    QUdpSocket socket_;
    bool setUp_ = false;
    QHostAddress remoteHost_;
    quint16 remotePort_ = 0;
    quint16 localPort_ = kLocalUdpPort;
};

} // namespace vmx
