#include "cli/send_session.h"

#include "cli/record_sink.h"
#include "eventlog/event_log.h"
#include "links/serial_link.h"
#include "links/udp_link.h"
#include "protocol/reply_assembler.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QUdpSocket>

#include <algorithm>
#include <cmath>

namespace vmx {

namespace {

bool isSerial(const SendPlan& plan) {
    return plan.selection.portSelect < 25.0f;
}

// Where a --port name leads now: a link (a COM1-style name, /dev/serial/by-id/...) is followed
// afresh for each opening, so a device plugged back in under a new name is found.
QString resolvedDevice(const QString& path) {
    const QFileInfo info(path);
    return info.exists() ? info.canonicalFilePath() : path;
}

// Why the UDP link could not be set up, in the words a script author can act on.
QString udpFailure(const SendPlan& plan) {
    const auto port = ipPortNumber(plan.ipPort);
    if (!port || *port < 1 || *port > 65535)
        return QStringLiteral("%1 is no UDP port").arg(plan.ipPort);
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::AnyIPv4, plan.localPort, QAbstractSocket::DontShareAddress)) {
        if (probe.error() == QAbstractSocket::AddressInUseError)
            return QStringLiteral("local port %1 is in use (is the window open? --local-port 0 "
                                  "takes a free one)")
                .arg(plan.localPort);
        return QStringLiteral("local port %1: %2").arg(plan.localPort).arg(probe.errorString());
    }
    return QStringLiteral("%1 has no IPv4 address").arg(plan.ipAddress);
}

int statusOf(Outcome outcome) {
    switch (outcome) {
    case Outcome::Reply:
    case Outcome::Ack:
    case Outcome::Late:
        return kExitAnswered;
    case Outcome::Nak:
        return kExitRefused;
    case Outcome::NoAnswer:
        return kExitTimedOut;
    case Outcome::LinkError:
        return kExitLinkFailed;
    }
    return kExitLinkFailed;
}

} // namespace

SendSession::SendSession(const SendPlan& plan, SendLinks links, RecordSink& sink, EventLog* log,
                         QObject* parent)
    : QObject(parent), plan_(plan), links_(links), sink_(sink), log_(log), watchdog_(plan.timeout) {
    links_.udp.setLocalPort(plan_.localPort);
    nextExchange_.setSingleShot(true);
    nextExchange_.setTimerType(Qt::PreciseTimer);
    connect(&nextExchange_, &QTimer::timeout, this, &SendSession::sendNext);
    connect(&links_.serial, &SerialLink::received, this, &SendSession::receive);
    connect(&links_.udp, &UdpLink::datagramReceived, this, &SendSession::receive);
    connect(&watchdog_, &ReplyWatchdog::expired, this, &SendSession::noAnswer);
    connect(&links_.serial, &SerialLink::deviceLost, this, [this] {
        if (log_)
            log_->event(QStringLiteral("link-gone"), portName());
    });
}

void SendSession::start() {
    if (!sink_.begin()) {
        outputFailed();
        return;
    }
    sendNext();
}

void SendSession::stop(int signalNumber) {
    if (finished_)
        return;
    if (signalNumber > 0 && done_ == 0)
        status_ = 128 + signalNumber;
    if (log_ && signalNumber > 0)
        log_->event(QStringLiteral("stopped"), QStringLiteral("signal %1").arg(signalNumber));
    finish();
}

QString SendSession::currentAddress() const {
    return plan_.scan ? QString::number(plan_.scan->first + done_) : plan_.addressText;
}

QString SendSession::portName() const {
    if (!isSerial(plan_))
        return plan_.ipAddress + u':' + plan_.ipPort;
    if (!plan_.serialPath.isEmpty())
        return resolvedDevice(plan_.serialPath);
    int portNumber = 1;
    for (int select = 0; select < 4; ++select) {
        if (plan_.selection.portSelect == float(select))
            portNumber = select + 1;
    }
    return serialPortPath(portNumber);
}

void SendSession::sendNext() {
    if (finished_)
        return;
    // What came after the previous exchange had ended belongs to none: it is dropped and said.
    if (!late_.isEmpty() || !exchange_.reply.rxBuffer().isEmpty()) {
        const QByteArray late = late_.isEmpty() ? exchange_.reply.rxBuffer() : late_;
        late_.clear();
        exchange_.reply.clear();
        if (log_)
            log_->bytesEvent(QStringLiteral("late"), late);
        if (!writeRecord(Outcome::Late, late, QString()))
            return outputFailed();
    }
    if (plan_.scan)
        sink_.showProgress(QStringLiteral("scanning address %1 of %2-%3")
                               .arg(currentAddress())
                               .arg(plan_.scan->first)
                               .arg(plan_.scan->last));
    sinceSend_.start();
    if (isSerial(plan_))
        links_.serial.setExplicitPath(resolvedDevice(plan_.serialPath));
    QString ipAddress = plan_.ipAddress;
    QString ipPort = plan_.ipPort;
    const QString address = currentAddress();
    bool echoFailed = false;
    QString failure;
    const SendControls controls{
        [this] { return plan_.commandText; },
        [address] { return address; },
        [this] { return plan_.ipAddress; },
        [this] { return plan_.ipPort; },
        [this, &echoFailed](const QString& echo) {
            if (plan_.echo && !sink_.writeTextLine(echo))
                echoFailed = true;
        },
        [&failure](const QString& message) { failure = message; },
        [this] { watchdog_.arm(); },
    };
    const bool sent = runSend(plan_.selection, links_, exchange_, ipAddress, ipPort, controls);
    if (echoFailed)
        return outputFailed();
    if (!sent) {
        linkFailed(failure);
        return;
    }
    if (log_)
        log_->bytesEvent(QStringLiteral("sent"), sendingOrder(exchange_.frame));
    awaiting_ = true;
}

void SendSession::receive(const QByteArray& chunk) {
    if (finished_)
        return;
    if (log_)
        log_->bytesEvent(QStringLiteral("received"), chunk);
    if (!awaiting_) {
        late_ += chunk;
        return;
    }
    const auto line = exchange_.reply.receive(chunk, exchange_.commandLength);
    if (!line)
        return;
    watchdog_.disarm();
    awaiting_ = false;
    // The terminator decides, not the text: a reply whose payload reads "NAK" is a reply.
    const char last = exchange_.reply.lastChar();
    const Outcome outcome =
        last == kNak ? Outcome::Nak : (last == kAck ? Outcome::Ack : Outcome::Reply);
    exchangeEnded(outcome, outcome == Outcome::Reply ? *line : QByteArray(), QString());
}

void SendSession::noAnswer() {
    if (!awaiting_)
        return;
    awaiting_ = false;
    // What has come so far belongs to this exchange's missing answer, not to the next one.
    exchange_.reply.clear();
    exchangeEnded(Outcome::NoAnswer, QByteArray(), kNoAnswerMessage);
}

void SendSession::linkFailed(const QString& message) {
    QString error = message;
    if (isSerial(plan_)) {
        const QString reason = links_.serial.port().errorString();
        error += QStringLiteral(": %1").arg(portName());
        if (!reason.isEmpty() && reason != u"Unknown error")
            error += QStringLiteral(": ") + reason;
        if (links_.serial.port().error() == QSerialPort::PermissionError)
            error += QStringLiteral(" (is the user in the dialout group?)");
    } else {
        error += QStringLiteral(": ") + udpFailure(plan_);
    }
    exchangeEnded(Outcome::LinkError, QByteArray(), error);
}

void SendSession::exchangeEnded(Outcome outcome, const QByteArray& payload, const QString& error) {
    if (log_) {
        if (outcome == Outcome::Reply)
            log_->event(QStringLiteral("reply"), QString::fromLatin1(payload));
        else
            log_->event(outcomeName(outcome), error);
    }
    if (plan_.scan) {
        const bool found =
            outcome == Outcome::Reply || outcome == Outcome::Ack || outcome == Outcome::Nak;
        foundAny_ = foundAny_ || found;
        if (outcome == Outcome::LinkError)
            status_ = std::max(status_, kExitLinkFailed);
        if (found || outcome == Outcome::LinkError) {
            ExchangeRecord record{recordClock(), portName(), currentAddress(), plan_.commandText,
                                  outcome,       payload,    std::nullopt,     error};
            record.roundTripMs = std::round(sinceSend_.nsecsElapsed() / 1000.0) / 1000.0;
            const bool written =
                outcome == Outcome::LinkError ? sink_.write(record) : sink_.writeFound(record);
            if (!written)
                return outputFailed();
        }
    } else {
        status_ = std::max(status_, statusOf(outcome));
        if (!writeRecord(outcome, payload, error))
            return outputFailed();
    }
    ++done_;
    if (plan_.count != 0 && done_ >= plan_.count) {
        if (plan_.scan && !foundAny_)
            status_ = std::max(status_, kExitTimedOut);
        finish();
        return;
    }
    const qint64 left = plan_.interval.count() - sinceSend_.elapsed();
    nextExchange_.start(int(std::max<qint64>(left, 0)));
}

bool SendSession::writeRecord(Outcome outcome, const QByteArray& payload, const QString& error) {
    ExchangeRecord record{recordClock(), portName(), currentAddress(), plan_.commandText,
                          outcome,       payload,    std::nullopt,     error};
    if (outcome != Outcome::Late && outcome != Outcome::LinkError)
        record.roundTripMs = std::round(sinceSend_.nsecsElapsed() / 1000.0) / 1000.0;
    return sink_.write(record);
}

void SendSession::outputFailed() {
    status_ = kExitOutputFailed;
    finish();
}

void SendSession::finish() {
    if (finished_)
        return;
    finished_ = true;
    sink_.showProgress(QString());
    awaiting_ = false;
    watchdog_.disarm();
    nextExchange_.stop();
    emit finished(status_);
}

} // namespace vmx
