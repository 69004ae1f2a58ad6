#pragma once

#include "links/host_lookup.h"
#include "links/link.h"

#include <QHostAddress>
#include <QString>
#include <QUdpSocket>

#include <optional>

namespace vmx {

inline const QString kUdpConnectionError = QStringLiteral("udp connection error");

// The IP port text as a 32-bit signed integer, a fraction rounded to the nearest whole number;
// nullopt for text that is not a number or does not fit.
std::optional<qint32> ipPortNumber(QStringView text);

// The UDP link. Set up only while closed (in practice on the first SEND over UDP): bound to
// local port 5000 on every IPv4 address, aimed at the host and port given then. Later texts do
// not reach it. Each datagram that arrives on port 5000, from any sender, is reported once.
//
// Each datagram arrives through bytesArrived.
class UdpLink : public Link {
    Q_OBJECT
public:
    // Host names are resolved through `resolveHost`, the system's look-up unless another is
    // given; an IPv4 address typed as such never reaches it.
    explicit UdpLink(HostResolver resolveHost = systemHostLookup, QObject* parent = nullptr);

    QString failureMessage() const override { return kUdpConnectionError; }
    // Sets the socket up when it is closed, from the target's IP texts and local port (5000
    // unless the command line asks for another; 0 takes a free port of the system's choice);
    // leaves it unchanged otherwise; reports before returning. Not ready when the port text is no
    // number or no usable UDP port, when the host is neither an IPv4 address nor a name with an
    // IPv4 address, or when the local port cannot be taken. A name is waited for at most
    // kHostLookupLimit (2 s); a name with no answer by then fails like an unknown one. A set-up
    // that fails part-way leaves the link closed.
    void prepare(const LinkTarget& target) override;
    // Sends the frame as one datagram to the destination of the set-up.
    bool write(QByteArrayView frame) override;
    QString failureDetail() const override { return failureDetail_; }

private:
    bool setUp(const UdpTarget& target);
    // The receive buffer asked for on set-up, and how much is read in one turn of the event
    // loop before the rest waits for the next. A datagram of up to 64 KiB is one line of as
    // many characters, which takes the window milliseconds to lay out, so a turn ends after
    // the first datagram that reaches the byte share. A turn also ends after a few
    // milliseconds: while a sender keeps the processors busy the window gets only part of one,
    // and a full share of datagrams then takes several times that.
    static constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;
    static constexpr int kMaxDatagramsPerTurn = 1024;
    static constexpr qint64 kMaxBytesPerTurn = 32 * 1024;
    static constexpr qint64 kMaxMillisecondsPerTurn = 8;

    void readPendingDatagrams();
    bool fail(const QString& where, const QString& why);

    HostResolver resolveHost_;
    QUdpSocket socket_;
    // Where each datagram is read: as large as an IPv4 datagram can be.
    QByteArray datagram_{65536, Qt::Uninitialized};
    bool setUp_ = false;
    QHostAddress remoteHost_;
    quint16 remotePort_ = 0;
    QString failureDetail_;
};

} // namespace vmx
