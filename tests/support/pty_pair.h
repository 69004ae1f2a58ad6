#pragma once

#include <QByteArray>
#include <QString>

#include <termios.h>

namespace vmx::test {

// Reads from `fd` until `count` bytes have come or `timeoutMs` has passed, running the Qt event
// loop meanwhile so that queued writes and answers go out.
QByteArray readRunningEvents(int fd, qsizetype count, int timeoutMs = 3000);

// A pseudo-terminal pair standing in for a device on a serial line. The slave side is what the
// tool opens (through a link named COMn in the current directory); the test plays the device on
// the master side.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool isValid() const { return master_ >= 0 && slave_ >= 0; }
    QString slavePath() const { return slavePath_; }

    // Makes "COMn" in the current directory point at the slave side.
    bool linkAs(int portNumber) const;

    // Reads from the master side until `count` bytes have come or `timeoutMs` has passed,
    // running the Qt event loop meanwhile so queued serial writes go out.
    QByteArray readMaster(int count, int timeoutMs = 3000);
    // Whatever the master side can read after the event loop has run for `settleMs`.
    QByteArray drainMaster(int settleMs = 50);
    // How many bytes wait on the master side, without reading them and without running the
    // event loop: waits up to `timeoutMs` for at least `atLeast` of them (the pty hands written
    // bytes across a moment later).
    int pendingOnMaster(int atLeast, int timeoutMs = 1000) const;
    bool writeMaster(const QByteArray& bytes);
    // The device goes away the way an unplugged USB adapter does: the master side closes, and
    // the slave side reports a hang-up from then on.
    void closeMaster();

    // The slave side's current termios, as the driver holds it.
    bool slaveTermios(termios& out) const;

private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
};

} // namespace vmx::test
