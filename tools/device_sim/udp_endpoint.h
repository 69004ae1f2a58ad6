#pragma once

#include "device_sim/device.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QUdpSocket>

#include <functional>

namespace vmx::sim {

// The device's UDP socket. It is bound to 127.0.0.1 and to nothing else, takes datagrams only
// from senders on 127.0.0.1 and sends only there.
class UdpEndpoint : public QObject {
    Q_OBJECT
public:
    using DatagramHandler = std::function<void(const QByteArray& bytes, const Destination& from)>;

    explicit UdpEndpoint(QObject* parent = nullptr);

    // Binds 127.0.0.1:port (0: a free port of the system's choice).
    bool open(quint16 port, QString* error);
    quint16 localPort() const { return socket_.localPort(); }
    QHostAddress localAddress() const { return socket_.localAddress(); }

    void onDatagram(DatagramHandler handler) { handler_ = std::move(handler); }

    // Sends one datagram; false for a destination other than 127.0.0.1 or a failed send.
    bool send(QByteArrayView bytes, const Destination& to);

    static bool isLoopback127(const QHostAddress& address);

signals:
    void ignored(const QString& reason);

private:
    void readPending();

    QUdpSocket socket_;
    DatagramHandler handler_;
};

} // namespace vmx::sim
