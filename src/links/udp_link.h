#pragma once

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
class UdpLink : public QObject {
    Q_OBJECT
public:
    explicit UdpLink(QObject* parent = nullptr);

    // Sets the socket up when it is closed; leaves it unchanged otherwise. False when the port
    // text is no number or no usable UDP port, when the host is neither an IPv4 address nor a
    // resolvable name, or when local port 5000 cannot be taken. A set-up that fails part-way
    // leaves the link closed.
    bool prepare(const QString& ipAddress, const QString& ipPort);

    // Sends the frame as one datagram to the destination of the set-up.
    bool send(QByteArrayView frame);

    bool isSetUp() const { return setUp_; }
    QHostAddress remoteHost() const { return remoteHost_; }
    quint16 remotePort() const { return remotePort_; }

signals:
    void datagramReceived(const QByteArray& payload);

private:
    // The receive buffer asked for on set-up, and how much is read in one turn of the event
    // loop before the rest waits for the next.
    static constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;
    static constexpr int kMaxDatagramsPerTurn = 1024;
    static constexpr qint64 kMaxBytesPerTurn = 64 * 1024;

    void readPendingDatagrams();

    QUdpSocket socket_;
    bool setUp_ = false;
    QHostAddress remoteHost_;
    quint16 remotePort_ = 0;
};

} // namespace vmx
