// SignalWatch on POSIX: the handlers write the signal's number to a self-pipe whose reading end
// the event loop watches.
#include "platform/signal_watch.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace vmx {

namespace {

constexpr std::array<int, 3> kWatched = {SIGINT, SIGTERM, SIGHUP};

int pipeFds[2] = {-1, -1};

// Runs in signal context: only the write to the pipe, which is async-signal-safe.
extern "C" void onSignal(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], &byte, 1);
    errno = savedErrno;
}

// Non-blocking, so a flood of signals never blocks a handler and draining ends; closed on exec,
// so a child program does not hold the pipe. fcntl() rather than pipe2(), which macOS lacks.
bool makePipe() {
    if (::pipe(pipeFds) != 0)
        return false;
    for (const int fd : pipeFds) {
        const int statusFlags = ::fcntl(fd, F_GETFL);
        const int fdFlags = ::fcntl(fd, F_GETFD);
        if (statusFlags < 0 || fdFlags < 0 || ::fcntl(fd, F_SETFL, statusFlags | O_NONBLOCK) != 0 ||
            ::fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC) != 0) {
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
            pipeFds[0] = pipeFds[1] = -1;
            return false;
        }
    }
    return true;
}

StopSignal stopSignalFor(int signalNumber) {
    switch (signalNumber) {
    case SIGINT:
        return StopSignal::Interrupt;
    case SIGHUP:
        return StopSignal::Hangup;
    default:
        return StopSignal::Terminate;
    }
}

// Reports every signal that has arrived since the last call, in the order they came.
void drain(SignalWatch* watch) {
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(pipeFds[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            emit watch->arrived(stopSignalFor(bytes[i]));
    }
}

} // namespace

SignalWatch::SignalWatch(QObject* parent) : QObject(parent) {
    if (pipeFds[0] >= 0 || !makePipe())
        return;
    auto* notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { drain(this); });
    notifier_ = notifier;
    for (const int signalNumber : kWatched) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signalNumber, &action, nullptr);
    }
    valid_ = true;
}

SignalWatch::~SignalWatch() {
    if (!valid_)
        return;
    for (const int signalNumber : kWatched)
        std::signal(signalNumber, SIG_DFL);
    delete notifier_;
    notifier_ = nullptr;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void ignoreBrokenPipe() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
}

} // namespace vmx
