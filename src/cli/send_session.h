#pragma once

#include "cli/send_options.h"
#include "exchange/exchange.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace vmx {

// Where a run's texts go: the echo and the answers to standard output, the links' messages and
// the watchdog's to standard error.
struct SessionOutput {
    std::function<void(const QString&)> line;
    std::function<void(const QString&)> error;
};

// The exchanges of one velmarixon-send run, on the event loop. Each one is the window's SEND
// (the same Exchange), then a wait until an answer completes or the watchdog expires. Answers
// are shown as the message window shows them; one that completes after the watchdog has
// expired is still shown, as the window shows it, but no longer counts.
class SendSession : public QObject {
    Q_OBJECT
public:
    SendSession(const SendPlan& plan, SessionOutput output, QObject* parent = nullptr);

    // Starts the first exchange; `finished` follows once all are done or one could not be sent.
    void start();
    // Ends the run now (Ctrl+C): an exchange still waiting does not count.
    void stop();

    int status() const { return status_; }
    int exchangesDone() const { return done_; }

signals:
    void finished(int status);

private:
    void sendNext();
    void answered(Answer answer, const QByteArray& line);
    void noAnswer();
    void exchangeEnded(int status);
    void finish();

    SendPlan plan_;
    SessionOutput output_;
    Exchange exchange_;
    QTimer nextExchange_;
    QElapsedTimer sinceSend_;
    bool awaiting_ = false;
    bool finished_ = false;
    int done_ = 0;
    int status_ = kExitAnswered;
};

} // namespace vmx
