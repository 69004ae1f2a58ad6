#include "cli/send_session.h"

#include "protocol/display_text.h"

#include <algorithm>

namespace vmx {

SendSession::SendSession(const SendPlan& plan, SessionOutput output, QObject* parent)
    : QObject(parent), plan_(plan), output_(std::move(output)),
      exchange_(systemHostLookup, plan.timeout) {
    nextExchange_.setSingleShot(true);
    nextExchange_.setTimerType(Qt::PreciseTimer);
    connect(&nextExchange_, &QTimer::timeout, this, &SendSession::sendNext);
    connect(&exchange_, &Exchange::echoed, this, [this](const QString& echo) {
        if (plan_.echo)
            output_.line(echo);
    });
    connect(&exchange_, &Exchange::failed, this,
            [this](const QString& message) { output_.error(message); });
    connect(&exchange_, &Exchange::answered, this, &SendSession::answered);
    connect(&exchange_, &Exchange::noAnswer, this, &SendSession::noAnswer);
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
    if (!exchange_.send(plan_.request)) {
        status_ = std::max(status_, kExitLinkFailed);
        finish();
        return;
    }
    awaiting_ = true;
}

void SendSession::answered(Answer answer, const QByteArray& line) {
    if (finished_)
        return;
    output_.line(displayText(line));
    if (!awaiting_)
        return;
    awaiting_ = false;
    exchangeEnded(answer == Answer::Nak ? kExitRefused : kExitAnswered);
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
    exchange_.stop();
    nextExchange_.stop();
    emit finished(status_);
}

} // namespace vmx
