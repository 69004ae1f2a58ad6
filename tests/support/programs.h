#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace vmx::test {

// The device simulator as a program of its own, started in the current directory: on a
// pseudo-terminal linked as COM1 there ("serial ...") or on 127.0.0.1 ("udp --port 0 ...").
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts it and waits for the line it prints once it is ready; false when none comes.
    bool start(const QStringList& arguments);
    // The UDP port it listens on, read from that line.
    quint16 udpPort() const;
    // Everything it printed since it started: every frame and answer in hex.
    QByteArray log();

private:
    QProcess process_;
    QString readyLine_;
    QByteArray log_;
};

// What one run of a program left: its exit status and its output, line by line.
struct ProgramRun {
    int status = -1;
    QStringList out;
    QStringList err;
};

// Runs the program in the current directory to its end (at most `timeoutMs`).
ProgramRun runProgram(const QString& program, const QStringList& arguments, int timeoutMs = 20000);

// The output of a finished process as lines, without the last line break.
QStringList outputLines(const QByteArray& bytes);

} // namespace vmx::test
