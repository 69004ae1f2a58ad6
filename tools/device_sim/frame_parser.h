#pragma once

#include "protocol/command_frame.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace vmx::sim {

enum class FrameStatus {
    Ok,       // the check characters match the frame
    BadCheck, // the check characters differ from the ones the frame's bytes give
    TooShort  // start and end byte with less than address, one command byte and check between
};

// One frame as it came in, from its start byte up to and including its end byte.
struct ParsedFrame {
    FrameStatus status = FrameStatus::TooShort;
    QByteArray bytes;
    QByteArray address;       // the two address characters
    QByteArray command;       // the command characters between address and check
    QByteArray check;         // the two check characters as received
    QByteArray expectedCheck; // the two check characters the frame's bytes call for
    qint64 skippedBefore = 0; // bytes passed over in the same feed, after the frame before it
};

// The two check characters for the bytes given (start byte, address and command): their sum
// modulo 256 as two uppercase hexadecimal digits, high digit first.
QByteArray checkCharacters(QByteArrayView bytes);

// Splits the bytes a device receives into frames. Bytes before a start byte are skipped; a
// start byte met inside a frame starts the frame afresh (the bytes before it are skipped); a
// frame that grows past the longest frame the tool sends without reaching its end byte is
// dropped. So at most one frame of at most kMaxFrameBytes is ever held, whatever comes in.
class FrameParser {
public:
    // Start byte, two address characters, up to kCommandSlots command characters, two check
    // characters, end byte.
    static constexpr qsizetype kMaxFrameBytes = 6 + kCommandSlots;

    // Takes the next bytes of the stream; returns the frames they complete, in order.
    QList<ParsedFrame> feed(QByteArrayView bytes);

    // Bytes of a frame begun but not yet ended.
    qsizetype pendingBytes() const { return pending_.size(); }
    // All bytes passed over so far: garbage outside frames and dropped frames.
    qint64 skippedBytes() const { return skipped_; }

private:
    void skip(qint64 count) {
        skipped_ += count;
        skippedSinceFrame_ += count;
    }

    QByteArray pending_;
    qint64 skipped_ = 0;
    qint64 skippedSinceFrame_ = 0;
};

// Splits one whole frame (start byte to end byte) into its fields and judges its check.
ParsedFrame parseFrame(QByteArrayView frame);

} // namespace vmx::sim
