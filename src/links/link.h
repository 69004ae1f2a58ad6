#pragma once

#include "links/link_target.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

namespace vmx {

// One way to the device. SEND prepares it, then writes one frame; whatever the device sends
// back arrives through bytesArrived while the event loop runs.
class Link : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The window's message when preparing or writing fails ("COM Port error").
    virtual QString failureMessage() const = 0;
    // Makes the link ready for `target` (of this link's kind) and reports the outcome once
    // through `prepared`: before returning when nothing needs waiting for (a serial port, a UDP
    // socket, a connection kept from before), else later from the event loop (a TCP connection
    // and its negotiation), within a bounded time. Asked again before it has reported, it
    // reports once for the newest target.
    virtual void prepare(const LinkTarget& target) = 0;
    virtual bool write(QByteArrayView frame) = 0;
    // Where and why the last preparation or write failed: the port path or endpoint and the
    // reason.
    virtual QString failureDetail() const = 0;

signals:
    // The preparation asked for last has ended: ready to write, or failed (failureDetail says
    // why).
    void prepared(bool ready);
    void bytesArrived(const QByteArray& bytes);
    // The device went away; nothing more arrives until the next prepare().
    void lost();
};

} // namespace vmx
