#pragma once

#include "links/line_settings.h"
#include "links/link.h"

#include <QSerialPort>
#include <QString>

namespace vmx {

// Where port n (1..4) is found. On Windows it is the port COMn itself. Elsewhere it is a file
// named "COMn" in the current directory when there is one (in practice a link to /dev/ttyUSB0,
// /dev/ttyACM0 or a pseudo-terminal), otherwise on Linux the n-th serial port /dev/ttyS(n-1);
// macOS has no such ports, so there the path stays that of the missing file and opening fails.
QString serialPortPath(int portNumber);

inline const QString kComPortError = QStringLiteral("COM Port error");

// The serial link: every SEND closes the port, applies the current selections and opens it
// again (unless the target asks to keep an open port); the frame then goes out one write per
// byte. The port stays open between SENDs so that answers can arrive.
//
// A device that goes away (an unplugged USB adapter, the far end of a pseudo-terminal closing)
// makes the port report a hang-up, end of file, or a read or resource error over and over. The
// link then closes the port and stops watching it, shortly after and outside the port's own
// notification, and says so through `lost`; the next prepare() opens the port afresh and fails
// if the device is still missing.
class SerialLink : public Link {
    Q_OBJECT
public:
    explicit SerialLink(QObject* parent = nullptr);

    QString failureMessage() const override { return kComPortError; }
    // Closes the port if open, sets port number (1..4; another keeps the previous one) and line
    // settings (none given keeps the previous ones), opens; reports before returning. Not ready
    // when the port cannot be opened (it is closed then).
    void prepare(const LinkTarget& target) override;
    // One write call per byte, nothing else, then the bytes are handed to the driver. False when
    // a byte is not accepted or the line refuses the write.
    bool write(QByteArrayView bytes) override;
    QString failureDetail() const override { return failureDetail_; }

private:
    bool open(const SerialTarget& target);
    void readWaiting();
    void portFailed(QSerialPort::SerialPortError error);
    bool lineHungUp() const;
    void closeSoon();
    void closeLostPort(quint64 opening);
    bool fail();

    QSerialPort port_;
    // Counts the openings, so that a close queued for a lost device never hits a port opened
    // since; and the opening for which such a close is already queued.
    quint64 opening_ = 0;
    quint64 closeQueuedFor_ = 0;
    int portNumber_ = 1;
    LineSettings lineSettings_; // the serial component's defaults: 9600, N, 8, 1
    QString openedPath_;        // of the last opening attempt
    bool writeFailed_ = false;
    QString failureDetail_;
};

} // namespace vmx
