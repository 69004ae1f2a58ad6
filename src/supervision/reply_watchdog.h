#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

namespace vmx {

// How long the device has to answer a SEND.
inline constexpr std::chrono::milliseconds kReplyTimeout{4000};

// What the tool says when the watchdog expires, with its leading space.
inline const QString kNoAnswerMessage = QStringLiteral(" Communication fail with device");

// The reply watchdog. It keeps the meaning of the original timer control: a period and an
// enabled flag, where a period of 0 never fires even while enabled (so it is inert until the
// first arming). Arming sets the period and enables it; each arming restarts the count.
// Expiry disables it before anyone hears of it, so one arming yields at most one expiry.
class ReplyWatchdog : public QObject {
    Q_OBJECT
public:
    // The period is a seam for tests; the program always uses kReplyTimeout.
    explicit ReplyWatchdog(std::chrono::milliseconds armedPeriod = kReplyTimeout,
                           QObject* parent = nullptr);

    void arm();
    void disarm();

    int periodMs() const { return periodMs_; }
    bool isEnabled() const { return enabled_; }
    // Enabled with a period: counting down towards an expiry.
    bool isRunning() const { return timer_.isActive(); }

signals:
    void expired();

private:
    void onTimeout();

    std::chrono::milliseconds armedPeriod_;
    int periodMs_ = 0;
    bool enabled_ = true;
    QTimer timer_;
};

} // namespace vmx
