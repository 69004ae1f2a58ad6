#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace vmx::test {

// A real ser2net (Debian's package) in front of a serial device, for tests: a raw TCP accepter
// and a telnet(rfc2217) accepter on 127.0.0.1, on free ports, from a configuration of its own in
// a scratch folder. It runs in the foreground, logs to its standard output, takes no UUCP lock
// and writes no pid file, so tests running side by side do not meet.
class Ser2netServer {
public:
    // The program, or an empty text when ser2net is not installed (the test then skips).
    static QString program();

    // `devicePath`: the serial device ser2net opens for each connection, e.g. the simulator's
    // link to its pseudo-terminal. ser2net's own default line is 9600, no parity, 8, 1.
    explicit Ser2netServer(const QString& devicePath);
    ~Ser2netServer();
    Ser2netServer(const Ser2netServer&) = delete;
    Ser2netServer& operator=(const Ser2netServer&) = delete;

    // Starts it and waits (at most a few seconds) until both ports listen. The first start
    // picks free ports; a start after stop() uses the same ones, as a restarted gateway would.
    // False, with error() telling why, when it does not come up.
    bool start();
    // SIGTERM, then waits for it to end; the ports close and every connection with them.
    void stop();
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }

    quint16 rawPort() const { return rawPort_; }
    quint16 telnetPort() const { return telnetPort_; }
    // The endpoints as a user types them.
    QString socketUrl() const;
    QString rfc2217Url() const;

    QString error() const { return error_; }
    // What ser2net printed so far.
    QByteArray output();

private:
    bool startOnce();
    bool listening(quint16 port) const;

    QString devicePath_;
    QTemporaryDir dir_;
    QProcess process_;
    quint16 rawPort_ = 0;
    quint16 telnetPort_ = 0;
    QString error_;
    QByteArray output_;
};

} // namespace vmx::test
