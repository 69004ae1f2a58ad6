#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace vmx {

inline constexpr char kAck = 6;
inline constexpr char kNak = 21;
inline constexpr char kEtx = 3;

// Collects the characters that arrive from the device (one byte per character) and decides from
// the last one whether an answer is complete: ACK and NAK give their names, ETX gives the payload
// cut out by position from the whole collection. The same collection serves both links.
class ReplyAssembler {
public:
    // Anyone on the network can send bytes that never end in a terminator; only the newest
    // bytes are kept so the collection cannot grow without bound.
    static constexpr qsizetype kMaxBufferBytes = qsizetype(1) << 20;

    // Appends one received chunk and judges its last character. Returns the line for the
    // message window when the chunk completes an answer (the collection is then emptied),
    // nothing otherwise. A chunk that delivers nothing changes nothing.
    std::optional<QByteArray> receive(QByteArrayView chunk, float commandLength);

    // SEND empties the collection before it writes a frame.
    void clear() { rxBuffer_.clear(); }

    const QByteArray& rxBuffer() const { return rxBuffer_; }
    // The last completed answer as it was collected, terminator included.
    const QByteArray& answer() const { return answer_; }
    char lastChar() const { return lastChar_; }
    float replyLength() const { return replyLength_; }
    const QByteArray& replyText() const { return replyText_; }

private:
    QByteArray rxBuffer_;
    QByteArray answer_;
    char lastChar_ = 0;
    float replyLength_ = 0;
    QByteArray replyText_;
};

// A full reply begins as the frame it answers did: the start byte, the two address characters
// and the command as sent. Reading them tells whose answer it is.

// The address that collected bytes begin with, as the frame builder writes it (tens and units
// digits: "17" is 17, "<3" is 123); nullopt when they do not begin with the start byte and
// two address characters (ACK, NAK, stray bytes).
std::optional<int> answerAddress(QByteArrayView bytes);

// False when a completed answer is a full reply to another frame than `frame` (its bytes as
// sent): one that does not begin with the frame's start byte, address and command. ACK and NAK
// name no frame and may answer any.
bool mayAnswer(QByteArrayView answer, QByteArrayView frame);

} // namespace vmx
