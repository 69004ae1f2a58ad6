#pragma once

#include <QObject>

class QSocketNotifier;

namespace vmx::sim {

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the event loop, so the program can tidy
// up (remove its link) before it ends. One instance at a time.
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

} // namespace vmx::sim
