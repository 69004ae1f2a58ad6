#include "supervision/reply_watchdog.h"

namespace vmx {

ReplyWatchdog::ReplyWatchdog(std::chrono::milliseconds armedPeriod, QObject* parent)
    : QObject(parent), armedPeriod_(armedPeriod) {
    timer_.setObjectName(QStringLiteral("Timer1"));
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &ReplyWatchdog::timerEnded);
}

// The timer is not stopped when the answer comes nor started afresh by each arming: starting
// and stopping a timer costs a good part of a whole exchange when answers come quickly. It runs
// on from an earlier arming, and when it ends before the deadline of the latest one it is
// started again for the rest.
void ReplyWatchdog::arm() {
    if (armedPeriod_.count() <= 0)
        return;
    armed_ = true;
    deadline_ = QDeadlineTimer(armedPeriod_, Qt::PreciseTimer);
    if (!timer_.isActive())
        timer_.start(armedPeriod_);
}

void ReplyWatchdog::disarm() {
    armed_ = false;
}

void ReplyWatchdog::timerEnded() {
    if (!armed_)
        return;
    const qint64 leftNs = deadline_.remainingTimeNSecs();
    if (leftNs > 0) {
        timer_.start(std::chrono::milliseconds((leftNs + 999'999) / 1'000'000));
        return;
    }
    // Disarmed before anyone hears of the expiry, so the message box that follows cannot be
    // joined by a second one from the same arming.
    armed_ = false;
    emit expired();
}

} // namespace vmx
