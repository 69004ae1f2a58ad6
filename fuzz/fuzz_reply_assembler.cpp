// The reply assembly fed one byte stream cut into pieces, as receive events deliver it.
//
// The assembler judges only the last byte of each piece, so a cut right after a terminator (ACK,
// NAK or ETX) is a real boundary, while every other cut must not matter. The property: feeding
// the pieces gives exactly the lines and the leftover collection that feeding the same stream
// gives when each piece that does not end in a terminator is joined to the next one (empty
// pieces vanish in the joining). On the joined pieces a small model then says what each line is:
// one line per piece ending in a terminator, "ACK" or "NAK" for those, and for an ETX with a
// whole command length n the L - n - 6 bytes from offset n + 3, or everything before the ETX
// when the piece is shorter than n + 6. Other command lengths (fractions, negative, NaN) must
// still give a line cut from inside the piece, never the ETX and never bytes outside it.
//
// Input: byte 0 picks the command length (0xFF: the next four bytes are any float, raw;
// otherwise the byte modulo 64); then pieces, each a length byte followed by that many bytes.
#include "protocol/reply_assembler.h"

#include <QList>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Outcome {
    QList<QByteArray> lines;
    QByteArray leftover;
};

Outcome feed(const QList<QByteArray>& pieces, float commandLength) {
    vmx::ReplyAssembler assembler;
    Outcome outcome;
    for (const QByteArray& piece : pieces) {
        if (const auto line = assembler.receive(piece, commandLength))
            outcome.lines.append(*line);
    }
    outcome.leftover = assembler.rxBuffer();
    return outcome;
}

bool isTerminator(char c) {
    return c == vmx::kAck || c == vmx::kNak || c == vmx::kEtx;
}

[[noreturn]] void fail(const char* what, const QList<QByteArray>& pieces, float commandLength) {
    std::fprintf(stderr, "reply assembly: %s\ncommand length %.9g\n", what, double(commandLength));
    for (const QByteArray& piece : pieces)
        std::fprintf(stderr, "piece: %s\n", piece.toHex(' ').constData());
    std::abort();
}

// What the line for one joined piece ending in a terminator must be; nullopt where the model
// only bounds it (a command length that is not a whole number from 0 up).
std::optional<QByteArray> expectedLine(const QByteArray& piece, float commandLength) {
    const char last = piece.back();
    if (last == vmx::kAck)
        return QByteArrayLiteral("ACK");
    if (last == vmx::kNak)
        return QByteArrayLiteral("NAK");
    if (!(commandLength >= 0 && commandLength <= 1e6f &&
          std::trunc(commandLength) == commandLength))
        return std::nullopt;
    const qsizetype n = qsizetype(commandLength);
    const qsizetype length = piece.size();
    if (length < n + 6)
        return piece.left(length - 1);
    return piece.mid(n + 3, length - n - 6);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::size_t at = 1;
    float commandLength = float(data[0] % 64);
    if (data[0] == 0xFF) {
        if (size < 5)
            return 0;
        std::uint32_t bits = 0;
        std::memcpy(&bits, data + 1, 4);
        commandLength = std::bit_cast<float>(bits);
        at = 5;
    }
    QList<QByteArray> pieces;
    while (at < size) {
        const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
        pieces.append(QByteArray(reinterpret_cast<const char*>(data + at + 1), qsizetype(length)));
        at += 1 + length;
    }

    // The same stream with only the cuts after a terminator kept.
    QList<QByteArray> joined;
    QByteArray open;
    for (const QByteArray& piece : pieces) {
        open += piece;
        if (!piece.isEmpty() && isTerminator(piece.back())) {
            joined.append(open);
            open.clear();
        }
    }
    if (!open.isEmpty())
        joined.append(open);

    const Outcome cut = feed(pieces, commandLength);
    const Outcome whole = feed(joined, commandLength);
    if (cut.lines != whole.lines)
        fail("the lines depend on cuts that are not after a terminator", pieces, commandLength);
    if (cut.leftover != whole.leftover)
        fail("the leftover collection depends on the cuts", pieces, commandLength);

    qsizetype next = 0;
    for (const QByteArray& piece : joined) {
        if (!isTerminator(piece.back())) {
            if (cut.leftover != piece.right(vmx::ReplyAssembler::kMaxBufferBytes))
                fail("an unterminated end is not kept as the collection", pieces, commandLength);
            continue;
        }
        if (next >= cut.lines.size())
            fail("a piece ending in a terminator gave no line", pieces, commandLength);
        const QByteArray& line = cut.lines[next++];
        if (const auto expected = expectedLine(piece, commandLength)) {
            if (line != *expected)
                fail("a line differs from the model", pieces, commandLength);
        } else if (line.size() > piece.size() - 1 || !piece.left(piece.size() - 1).contains(line)) {
            fail("a line is not cut from inside its piece", pieces, commandLength);
        }
    }
    if (next != cut.lines.size())
        fail("more lines than pieces ending in a terminator", pieces, commandLength);
    if (!joined.isEmpty() && isTerminator(joined.back().back()) && !cut.leftover.isEmpty())
        fail("the collection is not empty after a completed answer", pieces, commandLength);
    return 0;
}
