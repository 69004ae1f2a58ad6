#include "supervision/reply_watchdog.h"

namespace vmx {

ReplyWatchdog::ReplyWatchdog(std::chrono::milliseconds armedPeriod, QObject* parent)
    : QObject(parent), armedPeriod_(armedPeriod) {
    timer_.setObjectName(QStringLiteral("Timer1"));
    // Single shot: the timer has stopped before anyone hears of the expiry, so the message box
    // that follows cannot be joined by a second one from the same arming.
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &ReplyWatchdog::expired);
}

void ReplyWatchdog::arm() {
    if (armedPeriod_.count() > 0)
        timer_.start(armedPeriod_);
}

void ReplyWatchdog::disarm() {
    timer_.stop();
}

} // namespace vmx
