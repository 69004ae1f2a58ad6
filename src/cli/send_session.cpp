#include "cli/send_session.h"

#include "cli/record_sink.h"
#include "links/link_kinds.h"
#include "links/serial_link.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace vmx {

namespace {

// Where a --port name leads now: a link (a name in the current folder, /dev/serial/by-id/...)
// is followed afresh for each exchange, so a device plugged back in under another name is found
// and the port's lock file is named after the real device. A link whose device is gone names
// that device, for the error.
QString resolvedDevice(const QString& path) {
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    return info.isSymLink() ? info.symLinkTarget() : path;
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

Outcome outcomeOf(Answer answer) {
    switch (answer) {
    case Answer::Ack:
        return Outcome::Ack;
    case Answer::Nak:
        return Outcome::Nak;
    case Answer::Reply:
        break;
    }
    return Outcome::Reply;
}

// The link's message, then where and why, with a hint where the usual cause is known: scripts
// that look for the window's text still find it at the start.
QString linkErrorText(const QString& message, const QString& detail) {
    static const QRegularExpression localPortTaken(QStringLiteral("^local port (\\d+): .*in use"),
                                                   QRegularExpression::CaseInsensitiveOption);
    QString text = detail.isEmpty() ? message : message + QStringLiteral(": ") + detail;
    if (const auto taken = localPortTaken.match(detail); taken.hasMatch())
        return message + QStringLiteral(": local port %1 is in use (is the window open? "
                                        "--local-port 0 takes a free one)")
                             .arg(taken.captured(1));
    if (detail.contains(u"Permission denied", Qt::CaseInsensitive))
        text += QStringLiteral(" (is the user in the dialout group?)");
    return text;
}

double milliseconds(qint64 nanoseconds) {
    return std::round(double(nanoseconds) / 1000.0) / 1000.0;
}

double millisecondsSince(const QElapsedTimer& timer) {
    return milliseconds(timer.nsecsElapsed());
}

} // namespace

SendSession::SendSession(const SendPlan& plan, RecordSink& sink, QObject* parent)
    : QObject(parent), plan_(plan), sink_(sink), exchange_(systemHostLookup, plan.timeout),
      endpoint_(endpointText(plan.request.target)) {
    nextExchange_.setSingleShot(true);
    nextExchange_.setTimerType(Qt::PreciseTimer);
    connect(&nextExchange_, &QTimer::timeout, this, &SendSession::sendNext);
    connect(&exchange_, &Exchange::echoed, this, [this](const QString& echo) {
        if (plan_.echo && !sink_.writeTextLine(echo))
            outputFailed();
        dropWaitingBytes();
    });
    // The next SEND opens the port afresh: whatever waits on the line then is dropped first.
    connect(&exchange_, &Exchange::linkLost, this, [this] { portOpened_ = false; });
    exchange_.setOwnAnswersOnly(true);
    // A server that closes the connection or a line that hangs up while an answer is awaited is
    // a link error now, not a missing answer after the timeout; the next exchange connects again.
    exchange_.setLostLinkFails(true);
    connect(&exchange_, &Exchange::received, this, [this] { quiet_.start(); });
    connect(&exchange_, &Exchange::frameSent, this, [this](const QByteArray& frame) {
        if (const auto address = answerAddress(frame))
            frameSentAt_.insert(*address, runClock_.nsecsElapsed());
    });
    connect(&exchange_, &Exchange::lateAnswer, this, &SendSession::late);
    connect(&exchange_, &Exchange::leftoverDropped, this, &SendSession::late);
    connect(&exchange_, &Exchange::answered, this, &SendSession::answered);
    connect(&exchange_, &Exchange::noAnswer, this, &SendSession::noAnswer);
    connect(&exchange_, &Exchange::failed, this, &SendSession::linkFailed);
}

void SendSession::start() {
    if (!sink_.begin()) {
        outputFailed();
        return;
    }
    runClock_.start();
    quiet_.start();
    sendNext();
}

void SendSession::stop(int signalNumber) {
    if (finished_)
        return;
    if (signalNumber > 0 && done_ == 0)
        status_ = 128 + signalNumber;
    finish();
}

QString SendSession::currentAddress() const {
    return plan_.scan ? QString::number(plan_.scan->first + done_) : plan_.request.addressText;
}

QString SendSession::portName() const {
    // A serial port is named by the device it led to in the last exchange; an endpoint as
    // typed, the same for the whole run.
    return std::holds_alternative<SerialTarget>(plan_.request.target) ? serialDevice_ : endpoint_;
}

QString SendSession::serialDevice() {
    const auto& target = std::get<SerialTarget>(plan_.request.target);
    if (!target.serialPath.isEmpty())
        return followedDevice(target.serialPath);
#ifndef Q_OS_WIN
    // COMn is a file of that name in the current folder when there is one, else the machine's
    // own port. Once it has been the file, it stays the file for the run: gone, it is a link
    // error until it comes back, never frames written to another device.
    if (comPath_.isEmpty())
        comPath_ = QDir::current().absoluteFilePath(QStringLiteral("COM%1").arg(target.serialPort));
    if (!comInFolder_) {
        const QFileInfo info(comPath_);
        comInFolder_ = info.exists() || info.isSymLink();
    }
    if (comInFolder_)
        return followedDevice(comPath_);
#endif
    return QString();
}

QString SendSession::followedDevice(const QString& path) {
    // Following a link to its end asks the system once for every part of every path on the
    // way, each exchange. While the port the last exchange opened is still open and the link
    // still reads the same, it leads where it led.
    const QString linkText = QFileInfo(path).symLinkTarget();
    if (portOpened_ && path == followedPath_ && linkText == followedLinkText_)
        return serialDevice_;
    followedPath_ = path;
    followedLinkText_ = linkText;
    return resolvedDevice(path);
}

bool SendSession::guardHolds() {
    // After an exchange with no answer the device may still answer it: the next frame waits
    // for the line to be quiet for the guard time, and what comes meanwhile is late. A line
    // that never falls quiet holds it at most one wait more.
    if (!guardPending_)
        return false;
    const qint64 quietFor = plan_.guard.count() - quiet_.elapsed();
    const qint64 heldFor = plan_.timeout.count() + plan_.guard.count() - guarding_.elapsed();
    if (quietFor <= 0 || heldFor <= 0) {
        guardPending_ = false;
        return false;
    }
    nextExchange_.start(int(std::min(quietFor, heldFor)));
    return true;
}

void SendSession::sendNext() {
    if (finished_ || guardHolds())
        return;
    if (plan_.scan)
        sink_.showProgress(QStringLiteral("scanning address %1 of %2-%3")
                               .arg(currentAddress())
                               .arg(plan_.scan->first)
                               .arg(plan_.scan->last));
    ExchangeRequest request = plan_.request;
    request.addressText = currentAddress();
    if (auto* serial = std::get_if<SerialTarget>(&request.target)) {
        serial->serialPath = serialDevice();
        serialDevice_ =
            serial->serialPath.isEmpty() ? serialPortPath(serial->serialPort) : serial->serialPath;
    }
    sinceSend_.start();
    awaiting_ = true;
    // A failure has been recorded through `failed` by the time send() returns.
    if (!exchange_.send(request))
        awaiting_ = false;
}

void SendSession::dropWaitingBytes() {
    // A port just opened may hold bytes from before this run or from before the device went
    // away (answers to frames of a client that died). The echo comes after the port has been
    // prepared and before rxBuffer is emptied and the frame written: the bytes waiting now are
    // read here, so that SEND drops them with its rxBuffer and they are recorded as late.
    // Between the exchanges of a run the event loop reads the open port anyway.
    if (!linkKind(plan_.request.link()).stream || portOpened_)
        return;
    portOpened_ = true;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void SendSession::late(const QByteArray& bytes) {
    // Not this exchange's answer: said with the address it names and how long after that
    // address's last frame of this run it came.
    if (finished_)
        return;
    ExchangeRecord record{recordClock(), portName(), QString(),    plan_.request.commandText,
                          Outcome::Late, bytes,      std::nullopt, QString()};
    if (const auto address = answerAddress(bytes)) {
        record.address = QString::number(*address);
        if (const auto sent = frameSentAt_.constFind(*address); sent != frameSentAt_.cend())
            record.roundTripMs = milliseconds(runClock_.nsecsElapsed() - *sent);
    }
    if (!sink_.write(record))
        outputFailed();
}

void SendSession::answered(Answer answer, const QByteArray& line) {
    if (finished_ || !awaiting_)
        return;
    awaiting_ = false;
    const Outcome outcome = outcomeOf(answer);
    exchangeEnded(outcome, outcome == Outcome::Reply ? line : QByteArray(), QString());
}

void SendSession::noAnswer() {
    if (!awaiting_)
        return;
    awaiting_ = false;
    // What has come of the missing answer stays collected: completed later it is late, else
    // the next exchange drops it as late.
    guardPending_ = true;
    guarding_.start();
    quiet_.start();
    exchangeEnded(Outcome::NoAnswer, QByteArray(), kNoAnswerMessage);
}

void SendSession::linkFailed(const QString& message, const QString& detail) {
    portOpened_ = false;
    if (!awaiting_)
        return;
    awaiting_ = false;
    exchangeEnded(Outcome::LinkError, QByteArray(), linkErrorText(message, detail));
}

void SendSession::exchangeEnded(Outcome outcome, const QByteArray& payload, const QString& error) {
    if (plan_.scan) {
        const bool found =
            outcome == Outcome::Reply || outcome == Outcome::Ack || outcome == Outcome::Nak;
        foundAny_ = foundAny_ || found;
        if (outcome == Outcome::LinkError)
            status_ = std::max(status_, kExitLinkFailed);
        // A scan prints who answered; silence is what most addresses give.
        if (found || outcome == Outcome::LinkError) {
            ExchangeRecord record{recordClock(),
                                  portName(),
                                  currentAddress(),
                                  plan_.request.commandText,
                                  outcome,
                                  payload,
                                  millisecondsSince(sinceSend_),
                                  error};
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
    // The next exchange starts from the event loop, outside the link's notification that ended
    // this one (it may reopen the port). Polling at speed it is a zero timer rather than a
    // posted call: no wake-up of the event loop per exchange, and whatever arrived meanwhile
    // is read before the next frame goes.
    nextExchange_.start(int(std::max<qint64>(left, 0)));
}

bool SendSession::writeRecord(Outcome outcome, const QByteArray& payload, const QString& error) {
    ExchangeRecord record{recordClock(), portName(), currentAddress(), plan_.request.commandText,
                          outcome,       payload,    std::nullopt,     error};
    if (outcome != Outcome::Late && outcome != Outcome::LinkError)
        record.roundTripMs = millisecondsSince(sinceSend_);
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
    awaiting_ = false;
    sink_.showProgress(QString());
    exchange_.stop();
    nextExchange_.stop();
    emit finished(status_);
}

} // namespace vmx
