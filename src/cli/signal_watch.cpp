#include "cli/signal_watch.h"

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

} // namespace

SignalWatch::SignalWatch(QObject* parent) : QObject(parent) {
    if (pipeFds[0] >= 0 || ::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0)
        return;
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalWatch::drain);
    for (const int signalNumber : kWatched) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

SignalWatch::~SignalWatch() {
    if (!notifier_)
        return;
    for (const int signalNumber : kWatched)
        std::signal(signalNumber, SIG_DFL);
    delete notifier_;
    notifier_ = nullptr;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void SignalWatch::drain() {
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(pipeFds[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            emit arrived(bytes[i]);
    }
}

} // namespace vmx
