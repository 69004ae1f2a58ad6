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
    char lastChar() const { return lastChar_; }
    float replyLength() const { return replyLength_; }
    const QByteArray& replyText() const { return replyText_; }

private:
    QByteArray rxBuffer_;
    char lastChar_ = 0;
    float replyLength_ = 0;
    QByteArray replyText_;
};

} // namespace vmx
