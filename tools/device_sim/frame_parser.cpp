#include "device_sim/frame_parser.h"

namespace vmx::sim {

QByteArray checkCharacters(QByteArrayView bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    unsigned sum = 0;
    for (const char byte : bytes)
        sum += static_cast<unsigned char>(byte);
    const unsigned low = sum % 256;
    QByteArray check;
    check.append(kDigits[low / 16]);
    check.append(kDigits[low % 16]);
    return check;
}

ParsedFrame parseFrame(QByteArrayView frame) {
    ParsedFrame parsed;
    parsed.bytes = frame.toByteArray();
    // Start byte, two address characters, at least one command character, two check
    // characters, end byte.
    if (frame.size() < 7)
        return parsed;
    const qsizetype commandLength = frame.size() - 6;
    parsed.address = frame.sliced(1, 2).toByteArray();
    parsed.command = frame.sliced(3, commandLength).toByteArray();
    parsed.check = frame.sliced(3 + commandLength, 2).toByteArray();
    parsed.expectedCheck = checkCharacters(frame.first(3 + commandLength));
    parsed.status = parsed.check == parsed.expectedCheck ? FrameStatus::Ok : FrameStatus::BadCheck;
    return parsed;
}

QList<ParsedFrame> FrameParser::feed(QByteArrayView bytes) {
    QList<ParsedFrame> frames;
    skippedSinceFrame_ = 0;
    for (const char byte : bytes) {
        if (byte == char(kStartByte)) {
            // A new start byte always begins a frame; whatever was begun before it is garbage.
            skip(pending_.size());
            pending_.clear();
            pending_.append(byte);
        } else if (pending_.isEmpty()) {
            skip(1);
        } else if (byte == char(kEndByte)) {
            pending_.append(byte);
            frames.append(parseFrame(pending_));
            frames.last().skippedBefore = skippedSinceFrame_;
            skippedSinceFrame_ = 0;
            pending_.clear();
        } else {
            pending_.append(byte);
            // The end byte would have had to come by now.
            if (pending_.size() >= kMaxFrameBytes) {
                skip(pending_.size());
                pending_.clear();
            }
        }
    }
    return frames;
}

} // namespace vmx::sim
