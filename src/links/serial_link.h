#pragma once

#include "links/line_settings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QSerialPort>
#include <QString>

namespace vmx {

// Where port n (1..4) is found. On Windows it is the port COMn itself. Elsewhere it is a file
// named "COMn" in the current directory when there is one (in practice a link to /dev/ttyUSB0,
// /dev/ttyACM0 or a pseudo-terminal), otherwise on Linux the n-th serial port /dev/ttyS(n-1);
// macOS has no such ports, so there the path stays that of the missing file and opening fails.
QString serialPortPath(int portNumber);

// The serial link: every SEND closes the port, applies the current selections and opens it
// again; the frame then goes out one write per byte. The port stays open between SENDs so
// that answers can arrive; received bytes are reported through `received`.
//
// A device that goes away (an unplugged USB adapter, the far end of a pseudo-terminal closing)
// makes the port report a hang-up, end of file, or a read or resource error over and over. The
// link then closes the port and stops watching it, shortly after and outside the port's own
// notification, and says so through `deviceLost`; the next prepare() opens the port afresh and
// fails if the device is still missing.
//
// Use: prepare(), then writeFrame(); answers arrive through `received` while the event loop runs.
class SerialLink : public QObject {
    Q_OBJECT
public:
    explicit SerialLink(QObject* parent = nullptr);

    // Closes the port if open, sets port number and line settings from the selectors, opens.
    // A portSelect outside 0..3 keeps the previous port number; a comFormat or baudSelect
    // outside the table keeps the previous line settings. False when the port cannot be
    // opened (it is closed then).
    bool prepare(float portSelect, float baudSelect, float comFormat);

    // From now on every prepare opens this device path instead of the port that portSelect
    // names (the command line's --port /dev/ttyUSB0); an empty path goes back to portSelect.
    void setExplicitPath(const QString& path) { explicitPath_ = path; }

    // One write call per byte, nothing else, then the bytes are handed to the driver. False when
    // a byte is not accepted or the line refuses the write.
    bool writeFrame(QByteArrayView bytes);

    bool isOpen() const { return port_.isOpen(); }
    int portNumber() const { return portNumber_; }
    const LineSettings& lineSettings() const { return lineSettings_; }
    const QSerialPort& port() const { return port_; }

signals:
    // Everything that was waiting when the port reported received data.
    void received(const QByteArray& chunk);
    // The device went away and the port has been closed. Nothing else has changed: no answer
    // is expected any more until the next prepare().
    void deviceLost();

private:
    void readWaiting();
    void portFailed(QSerialPort::SerialPortError error);
    bool lineHungUp() const;
    void closeSoon();
    void closeLostPort(quint64 opening);

    QSerialPort port_;
    // Counts the openings, so that a close queued for a lost device never hits a port opened
    // since; and the opening for which such a close is already queued.
    quint64 opening_ = 0;
    quint64 closeQueuedFor_ = 0;
    int portNumber_ = 1;
    QString explicitPath_;
    LineSettings lineSettings_; // the serial component's defaults: 9600, N, 8, 1
};

} // namespace vmx
