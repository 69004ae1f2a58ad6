#pragma once

#include "links/line_settings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <optional>

namespace vmx {

// Frames leave from this local UDP port and answers are received on it.
inline constexpr quint16 kLocalUdpPort = 5000;

// Where one SEND goes; each link reads the fields it needs.
struct LinkTarget {
    int serialPort = 1; // COM1..COM4
    QString serialPath; // a device opened instead of the numbered port when not empty
    // nullopt: the port keeps the line settings of its last opening (a format the settings file
    // holds that no button stands for).
    std::optional<LineSettings> line;
    // Serial: an open port aimed at the same device with the same settings is used as it is,
    // instead of being closed and opened again. It is reopened once it has been lost or failed.
    bool keepOpen = false;
    QString ipAddress; // host name or address text, as typed
    QString ipPort;    // as typed
    quint16 localUdpPort = kLocalUdpPort;
};

// One way to the device. SEND prepares it, then writes one frame; whatever the device sends
// back arrives through bytesArrived while the event loop runs.
class Link : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The window's message when preparing or writing fails ("COM Port error").
    virtual QString failureMessage() const = 0;
    virtual bool prepare(const LinkTarget& target) = 0;
    virtual bool write(QByteArrayView frame) = 0;
    // Where and why the last prepare() or write() failed: the port path or endpoint and the
    // system's error text.
    virtual QString failureDetail() const = 0;

signals:
    void bytesArrived(const QByteArray& bytes);
    // The device went away; nothing more arrives until the next prepare().
    void lost();
};

} // namespace vmx
