#pragma once

#include <QObject>

class QSocketNotifier;

namespace vmx {

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the event loop, so a command-line program
// can tidy up (the simulator removes its link, velmarixon-send reports the status so far) before
// it ends. One instance at a time.
class SignalWatch : public QObject {
    Q_OBJECT
public:
    explicit SignalWatch(QObject* parent = nullptr);
    ~SignalWatch() override;
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    bool isValid() const { return notifier_ != nullptr; }

signals:
    void arrived(int signalNumber);

private:
    void drain();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace vmx
