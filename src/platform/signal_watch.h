#pragma once

#include <QObject>

namespace vmx {

// Why a command-line program is asked to end. On Windows a console's Ctrl+C and Ctrl+Break are
// an interrupt, its closing a hang-up, a log-off or shut-down a termination.
enum class StopSignal { Interrupt, Terminate, Hangup };

// The POSIX number of the signal (SIGINT 2, SIGTERM 15, SIGHUP 1), the same on every platform,
// so that a program ended by one can exit with the shell's status for it.
constexpr int signalNumber(StopSignal signal) {
    switch (signal) {
    case StopSignal::Interrupt:
        return 2;
    case StopSignal::Terminate:
        return 15;
    case StopSignal::Hangup:
        return 1;
    }
    return 0;
}

// What a shell reports for a program that a signal ended: 128 plus its number (130 for Ctrl+C).
constexpr int exitStatusAfter(StopSignal signal) {
    return 128 + signalNumber(signal);
}

// Turns SIGINT, SIGTERM and SIGHUP (on Windows: the console's control events) into a Qt signal on
// the event loop, so a command-line program can tidy up (the simulator removes its link,
// velmarixon-send reports the status so far) before it ends. One instance at a time; one that
// could not be set up is not valid and reports nothing.
class SignalWatch : public QObject {
    Q_OBJECT
public:
    explicit SignalWatch(QObject* parent = nullptr);
    ~SignalWatch() override;
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    bool isValid() const { return valid_; }

signals:
    void arrived(vmx::StopSignal signal);

private:
    bool valid_ = false;
    QObject* notifier_ = nullptr; // POSIX: the notifier on the self-pipe's reading end
};

// Writing to a pipe or socket whose reader has gone then fails with an error the program sees,
// instead of SIGPIPE ending it without a word. Nothing to do on Windows, which has no SIGPIPE.
void ignoreBrokenPipe();

} // namespace vmx
