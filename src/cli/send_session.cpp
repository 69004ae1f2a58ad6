#include "cli/send_session.h"

#include "links/serial_link.h"
#include "links/udp_link.h"
#include "protocol/display_text.h"
#include "protocol/reply_assembler.h"

#include <algorithm>

namespace vmx {

SendSession::SendSession(const SendPlan& plan, SendLinks links, SessionOutput output,
                         QObject* parent)
    : QObject(parent), plan_(plan), links_(links), output_(std::move(output)),
      watchdog_(plan.timeout) {
    links_.serial.setExplicitPath(plan_.serialPath);
    links_.udp.setLocalPort(plan_.localPort);
    nextExchange_.setSingleShot(true);
    nextExchange_.setTimerType(Qt::PreciseTimer);
    connect(&nextExchange_, &QTimer::timeout, this, &SendSession::sendNext);
    connect(&links_.serial, &SerialLink::received, this, &SendSession::receive);
    connect(&links_.udp, &UdpLink::datagramReceived, this, &SendSession::receive);
    connect(&watchdog_, &ReplyWatchdog::expired, this, &SendSession::noAnswer);
}

void SendSession::start() {
    sendNext();
}

void SendSession::stop() {
    finish();
}

void SendSession::sendNext() {
    if (finished_)
        return;
    sinceSend_.start();
    // The texts the window would hold in its boxes; the IP texts SEND refreshes stay local.
    QString ipAddress = plan_.ipAddress;
    QString ipPort = plan_.ipPort;
    const SendControls controls{
        [this] { return plan_.commandText; },
        [this] { return plan_.addressText; },
        [this] { return plan_.ipAddress; },
        [this] { return plan_.ipPort; },
        [this](const QString& echo) {
            if (plan_.echo)
                output_.line(echo);
        },
        [this](const QString& message) { output_.error(message); },
        [this] { watchdog_.arm(); },
    };
    if (!runSend(plan_.selection, links_, exchange_, ipAddress, ipPort, controls)) {
        status_ = std::max(status_, kExitLinkFailed);
        finish();
        return;
    }
    awaiting_ = true;
}

void SendSession::receive(const QByteArray& chunk) {
    if (finished_)
        return;
    const auto line = exchange_.reply.receive(chunk, exchange_.commandLength);
    if (!line)
        return;
    output_.line(displayText(*line));
    watchdog_.disarm();
    if (!awaiting_)
        return;
    awaiting_ = false;
    // The terminator decides, not the text: a reply whose payload reads "NAK" is a reply.
    exchangeEnded(exchange_.reply.lastChar() == kNak ? kExitRefused : kExitAnswered);
}

void SendSession::noAnswer() {
    if (!awaiting_)
        return;
    awaiting_ = false;
    output_.error(kNoAnswerMessage);
    exchangeEnded(kExitTimedOut);
}

void SendSession::exchangeEnded(int status) {
    status_ = std::max(status_, status);
    ++done_;
    if (plan_.count != 0 && done_ >= plan_.count) {
        finish();
        return;
    }
    const qint64 left = plan_.interval.count() - sinceSend_.elapsed();
    nextExchange_.start(int(std::max<qint64>(left, 0)));
}

void SendSession::finish() {
    if (finished_)
        return;
    finished_ = true;
    awaiting_ = false;
    watchdog_.disarm();
    nextExchange_.stop();
    emit finished(status_);
}

} // namespace vmx
