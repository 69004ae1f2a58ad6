#include "supervision/reply_watchdog.h"

namespace vmx {

ReplyWatchdog::ReplyWatchdog(std::chrono::milliseconds armedPeriod, QObject* parent)
    : QObject(parent), armedPeriod_(armedPeriod) {
    timer_.setObjectName(QStringLiteral("Timer1"));
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &ReplyWatchdog::onTimeout);
}

void ReplyWatchdog::arm() {
    periodMs_ = static_cast<int>(armedPeriod_.count());
    enabled_ = true;
    // A new arming gives the device the whole period again.
    if (periodMs_ > 0)
        timer_.start(periodMs_);
}

void ReplyWatchdog::disarm() {
    enabled_ = false;
    timer_.stop();
}

void ReplyWatchdog::onTimeout() {
    // Disabled before anyone is told, so the message box that follows cannot be joined by a
    // second one from the same arming.
    enabled_ = false;
    emit expired();
}

} // namespace vmx
