#include "protocol/reply_assembler.h"

#include "protocol/command_frame.h"
#include "protocol/decimal_text.h"

#include <cmath>

namespace vmx {

std::optional<QByteArray> ReplyAssembler::receive(QByteArrayView chunk, float commandLength) {
    if (chunk.isEmpty())
        return std::nullopt;

    if (chunk.size() >= kMaxBufferBytes) {
        rxBuffer_ = chunk.last(kMaxBufferBytes).toByteArray();
    } else {
        rxBuffer_.append(chunk);
        if (rxBuffer_.size() > kMaxBufferBytes)
            rxBuffer_.remove(0, rxBuffer_.size() - kMaxBufferBytes);
    }

    const qsizetype length = rxBuffer_.size();
    replyLength_ = float(length);
    lastChar_ = rxBuffer_.back();

    std::optional<QByteArray> line;
    if (lastChar_ == kAck) {
        line = QByteArrayLiteral("ACK");
    } else if (lastChar_ == kNak) {
        line = QByteArrayLiteral("NAK");
    } else if (lastChar_ == kEtx) {
        // The reply repeats the frame's envelope: three leading characters, the command as sent,
        // the payload, two check characters and ETX.
        replyLength_ = float(length) - (commandLength + 6.0f);
        if (replyLength_ >= 0.0f) {
            // The payload starts after the echoed command. Both bounds are clamped to the
            // collection so that a command length the reply does not match cannot reach
            // outside it, and the ETX is never part of the payload.
            const double last = double(length - 1);
            const double start = roundHalfEven(double(commandLength) + 3.0);
            const double from = std::fmin(std::fmax(start, 0.0), last);
            const double count = std::fmin(double(replyLength_), last - from);
            replyText_ = rxBuffer_.mid(qsizetype(from), qsizetype(count));
        } else {
            // Shorter than the envelope (or no usable command length): everything collected
            // before the ETX is shown.
            replyText_ = rxBuffer_.first(length - 1);
        }
        line = replyText_;
    }

    if (line) {
        answer_.swap(rxBuffer_);
        rxBuffer_.clear();
    }
    return line;
}

std::optional<int> answerAddress(QByteArrayView bytes) {
    // The frame builder's tens digit goes up to 48 + 207, its units digit up to 48 + 10.
    constexpr unsigned char digitZero = '0';
    if (bytes.size() < 3 || bytes[0] != char(kStartByte))
        return std::nullopt;
    const auto tens = static_cast<unsigned char>(bytes[1]);
    const auto units = static_cast<unsigned char>(bytes[2]);
    if (tens < digitZero || units < digitZero || units > digitZero + 10)
        return std::nullopt;
    return (tens - digitZero) * 10 + (units - digitZero);
}

bool mayAnswer(QByteArrayView answer, QByteArrayView frame) {
    if (answer.isEmpty() || answer.back() != kEtx)
        return true;
    // The frame without its two check characters and end byte.
    const QByteArrayView envelope = frame.size() > 3 ? frame.first(frame.size() - 3) : frame;
    return answer.size() >= envelope.size() + 3 && answer.startsWith(envelope);
}

} // namespace vmx
