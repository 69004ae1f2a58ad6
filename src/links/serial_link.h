#pragma once

#include "links/line_settings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QSerialPort>
#include <QString>

namespace vmx {

// Where port n (1..4) is found: a file named "COMn" in the current directory when there is one
// (in practice a link to /dev/ttyUSB0, /dev/ttyACM0 or a pseudo-terminal), otherwise the
// platform's own n-th serial port (/dev/ttyS(n-1) on Linux, COMn on Windows).
QString serialPortPath(int portNumber);

// The serial link: every SEND closes the port, applies the current selections and opens it
// again; the frame then goes out one write per byte. The port stays open between SENDs so
// that answers can arrive; received bytes are reported through `received`.
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

private:
    void readWaiting();

    QSerialPort port_;
    int portNumber_ = 1;
    QString explicitPath_;
    LineSettings lineSettings_; // the serial component's defaults: 9600, N, 8, 1
};

} // namespace vmx
