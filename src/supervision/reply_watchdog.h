#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

namespace vmx {

// How long the device has to answer a SEND.
inline constexpr std::chrono::milliseconds kReplyTimeout{4000};

// What the tool says when the watchdog expires, with its leading space.
inline const QString kNoAnswerMessage = QStringLiteral(" Communication fail with device");

// The reply watchdog: inert until the first arming; each arming gives the device the whole
// period again; disarming or expiring stops it, so one arming yields at most one expiry.
class ReplyWatchdog : public QObject {
    Q_OBJECT
public:
    // The window always waits kReplyTimeout; velmarixon-send waits what --timeout-ms says
    // (kReplyTimeout unless given, 300 ms for --scan); tests choose shorter periods.
    explicit ReplyWatchdog(std::chrono::milliseconds armedPeriod = kReplyTimeout,
                           QObject* parent = nullptr);

    void arm();
    void disarm();

    // Armed and counting down towards an expiry.
    bool isRunning() const { return armed_; }

signals:
    void expired();

private:
    void timerEnded();

    std::chrono::milliseconds armedPeriod_;
    bool armed_ = false;
    QDeadlineTimer deadline_;
    QTimer timer_;
};

} // namespace vmx
