#include "device_sim/device.h"

#include "device_sim/byte_text.h"

#include "protocol/reply_assembler.h"

#include <QStringList>

namespace vmx::sim {

namespace {

QString describeFrame(const ParsedFrame& frame) {
    QString line = QStringLiteral("rx %1").arg(hexBytes(frame.bytes));
    switch (frame.status) {
    case FrameStatus::Ok:
        line += QStringLiteral("  address %1 command %2 check %3 ok")
                    .arg(printableBytes(frame.address), printableBytes(frame.command),
                         printableBytes(frame.check));
        break;
    case FrameStatus::BadCheck:
        line += QStringLiteral("  address %1 command %2 check %3 bad, expected %4")
                    .arg(printableBytes(frame.address), printableBytes(frame.command),
                         printableBytes(frame.check), printableBytes(frame.expectedCheck));
        break;
    case FrameStatus::TooShort:
        line += QStringLiteral("  too short for a frame");
        break;
    }
    return line;
}

QString describeAnswer(const QByteArray& answer, const QByteArray& payload) {
    if (answer.size() == 1 && answer.front() == kAck)
        return QStringLiteral("ACK");
    if (answer.size() == 1 && answer.front() == kNak)
        return QStringLiteral("NAK");
    return QStringLiteral("reply, payload %1").arg(printableBytes(payload));
}

} // namespace

QString Destination::describe() const {
    if (!isDatagramSender())
        return QStringLiteral("serial line");
    return QStringLiteral("%1:%2").arg(host.toString()).arg(port);
}

Device::Device(const AnswerSettings& settings, Writer writer, QObject* parent)
    : QObject(parent), settings_(settings), reading_(settings.reading), writer_(std::move(writer)) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &Device::pump);
}

void Device::receiveStream(QByteArrayView bytes) {
    const qint64 skippedBefore = streamParser_.skippedBytes();
    const QList<ParsedFrame> frames = streamParser_.feed(bytes);
    handle(frames, streamParser_.skippedBytes() - skippedBefore, Destination{});
}

void Device::receiveDatagram(QByteArrayView bytes, const Destination& from) {
    FrameParser parser;
    const QList<ParsedFrame> frames = parser.feed(bytes);
    // A frame left open at the end of the datagram will never be completed.
    handle(frames, parser.skippedBytes() + parser.pendingBytes(), from);
}

void Device::handle(const QList<ParsedFrame>& frames, qint64 skipped, const Destination& from) {
    const QString origin =
        from.isDatagramSender() ? QStringLiteral("  from %1").arg(from.describe()) : QString();
    const auto logSkipped = [this, &origin](qint64 count) {
        if (count > 0)
            emit logLine(
                QStringLiteral("rx skipped %1 byte(s) outside a frame%2").arg(count).arg(origin));
    };

    for (const ParsedFrame& frame : frames) {
        logSkipped(frame.skippedBefore);
        skipped -= frame.skippedBefore;
        emit logLine(describeFrame(frame) + origin);
        // A frame too short to carry an address is refused whatever the device's address.
        if (!settings_.addresses.isEmpty() && frame.status != FrameStatus::TooShort &&
            !settings_.addresses.contains(frame.address)) {
            QStringList at;
            for (const QByteArray& address : settings_.addresses)
                at.append(printableBytes(address));
            emit logLine(
                QStringLiteral("-- no answer: this device is at address %1").arg(at.join(u',')));
            continue;
        }
        // A changing reading moves on with each reply it carries, not with ACK, NAK or silence.
        const bool replies = settings_.mode == AnswerMode::Reply && frame.status == FrameStatus::Ok;
        const QByteArray payload =
            replies && settings_.reading.changes() ? reading_.next() : settings_.payload;
        const QByteArray answer = answerFor(frame, settings_.mode, payload);
        if (answer.isEmpty()) {
            emit logLine(QStringLiteral("-- no answer (silent)"));
            continue;
        }
        if (waiting_.size() >= kMaxWaitingAnswers) {
            emit logLine(QStringLiteral("-- answer dropped: %1 answers are waiting already")
                             .arg(waiting_.size()));
            continue;
        }
        WaitingAnswer waiting;
        waiting.pieces = splitIntoPieces(answer, settings_.splitBytes);
        waiting.whole = answer;
        waiting.payload = payload;
        waiting.to = from;
        waiting.due = QDeadlineTimer(settings_.delayMs);
        waiting_.push_back(std::move(waiting));
    }

    // What was passed over after the last frame.
    logSkipped(skipped);

    if (!waiting_.empty() && !timer_.isActive())
        pump();
}

void Device::pump() {
    while (!waiting_.empty()) {
        WaitingAnswer& front = waiting_.front();
        if (front.nextPiece == 0 && !front.due.hasExpired()) {
            timer_.start(int(front.due.remainingTime()));
            return;
        }
        const QByteArray& piece = front.pieces.at(front.nextPiece);
        if (!writer_(piece, front.to)) {
            emit logLine(QStringLiteral("tx failed: %1 to %2 not written, answer abandoned")
                             .arg(hexBytes(piece), front.to.describe()));
            waiting_.pop_front();
            continue;
        }
        ++front.nextPiece;
        if (front.nextPiece < front.pieces.size()) {
            // The pause lets the pieces arrive as separate receive events.
            timer_.start(settings_.gapMs);
            return;
        }
        QString line = QStringLiteral("tx %1  %2")
                           .arg(hexBytes(front.whole), describeAnswer(front.whole, front.payload));
        if (front.pieces.size() > 1)
            line += QStringLiteral(" in %1 pieces").arg(front.pieces.size());
        if (front.to.isDatagramSender())
            line += QStringLiteral("  to %1").arg(front.to.describe());
        emit logLine(line);
        waiting_.pop_front();
    }
}

} // namespace vmx::sim
