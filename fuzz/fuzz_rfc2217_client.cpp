// The Telnet/COM-PORT-OPTION client fed any bytes a server may send, cut into pieces as receive
// events deliver them.
//
// Properties:
// - the cuts never matter: the pieces give the same data, reply, state and failure as the whole
//   stream in one piece;
// - a small model that knows only RFC 854's framing says which bytes are data and where the
//   stream becomes malformed: the client's data is a prefix of the model's; when the client has
//   not failed it is all of it, and when the model finds the stream malformed the client has
//   failed;
// - what the client sends back is well-formed Telnet (option commands and COM-PORT-OPTION
//   subnegotiations only), refuses each option not asked for at most once, and stays bounded;
// - payload escaped with escaped() and fed in pieces comes out unchanged, with nothing to send.
//
// Input: byte 0 picks the line settings (bits 0-1 the baud rate, bit 2 the format) and, with
// bit 7, the round-trip mode; then pieces, each a length byte followed by that many bytes.
#include "links/rfc2217_client.h"

#include <QList>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using vmx::Rfc2217Client;

struct Outcome {
    QByteArray data;
    QByteArray reply;
    Rfc2217Client::State state;
    QString failure;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

Outcome feed(const vmx::LineSettings& line, const QList<QByteArray>& pieces) {
    Rfc2217Client client(line);
    client.opening();
    Outcome outcome;
    for (const QByteArray& piece : pieces)
        client.feed(piece, outcome.data, outcome.reply);
    outcome.state = client.state();
    outcome.failure = client.failure();
    return outcome;
}

[[noreturn]] void fail(const char* what, const QByteArray& stream) {
    std::fprintf(stderr, "rfc2217 client: %s\nstream: %s\n", what, stream.toHex(' ').constData());
    std::abort();
}

// RFC 854 framing alone: the data bytes, and whether the stream breaks the framing (IAC followed
// by a byte below 240, or inside a subnegotiation by anything but IAC or SE, or a subnegotiation
// longer than the client's limit).
struct Model {
    QByteArray data;
    bool malformed = false;
};

Model model(const QByteArray& stream) {
    Model m;
    qsizetype i = 0;
    const auto at = [&](qsizetype k) { return std::uint8_t(stream[k]); };
    while (i < stream.size()) {
        if (at(i) != 0xFF) {
            m.data.append(stream[i++]);
            continue;
        }
        if (i + 1 >= stream.size())
            break;
        const std::uint8_t command = at(i + 1);
        if (command == 0xFF) {
            m.data.append(char(0xFF));
            i += 2;
        } else if (command >= 251) {
            i += 3;
        } else if (command == 250) {
            // IAC SB option ... IAC SE
            qsizetype k = i + 3;
            qsizetype length = 0;
            for (;;) {
                if (k >= stream.size())
                    return m;
                if (at(k) != 0xFF) {
                    ++k;
                    ++length;
                } else if (k + 1 >= stream.size()) {
                    return m;
                } else if (at(k + 1) == 0xFF) {
                    k += 2;
                    ++length;
                } else if (at(k + 1) == 240) {
                    break;
                } else {
                    m.malformed = true;
                    return m;
                }
                if (length > Rfc2217Client::kMaxSubnegotiationBytes) {
                    m.malformed = true;
                    return m;
                }
            }
            i = k + 2;
        } else if (command >= 240) {
            i += 2;
        } else {
            m.malformed = true;
            return m;
        }
    }
    return m;
}

// The client's reply must be made of IAC WILL/WONT/DO/DONT option and IAC SB 44 ... IAC SE.
void checkReply(const QByteArray& reply, const QByteArray& stream) {
    std::array<int, 256 * 4> answers{};
    qsizetype i = 0;
    int subnegotiations = 0;
    while (i < reply.size()) {
        if (i + 2 >= reply.size() || std::uint8_t(reply[i]) != 0xFF)
            fail("the reply is not made of Telnet commands", stream);
        const auto verb = std::uint8_t(reply[i + 1]);
        const auto option = std::uint8_t(reply[i + 2]);
        if (verb >= 251 && verb <= 254) {
            ++answers[size_t(verb - 251) * 256 + option];
            i += 3;
            continue;
        }
        if (verb != 250 || option != 44)
            fail("the reply holds a command other than an option or COM-PORT-OPTION", stream);
        const qsizetype end = reply.indexOf(QByteArray("\xFF\xF0", 2), i + 3);
        if (end < 0)
            fail("a subnegotiation in the reply does not end", stream);
        i = end + 2;
        ++subnegotiations;
    }
    if (subnegotiations != 0 && subnegotiations != 4)
        fail("the SET-* requests went out other than all four once", stream);
    for (int option = 0; option < 256; ++option) {
        if (option == 0 || option == 44)
            continue;
        // WILL and DO are never sent for these; DONT and WONT at most once each.
        if (answers[size_t(0) * 256 + size_t(option)] || answers[size_t(2) * 256 + size_t(option)])
            fail("the reply offers an option not wanted", stream);
        if (answers[size_t(1) * 256 + size_t(option)] > 1 ||
            answers[size_t(3) * 256 + size_t(option)] > 1)
            fail("an option not asked for was refused more than once", stream);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const auto baud = vmx::BaudRate(data[0] & 3);
    const auto format = vmx::LineFormat((data[0] >> 2) & 1);
    const bool roundTrip = data[0] & 0x80;
    const vmx::LineSettings line = vmx::lineSettings(baud, format);

    QList<QByteArray> pieces;
    QByteArray stream;
    QByteArray payload; // the round trip's bytes before escaping
    std::size_t at = 1;
    while (at < size) {
        const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
        QByteArray piece(reinterpret_cast<const char*>(data + at + 1), qsizetype(length));
        at += 1 + length;
        if (roundTrip) {
            payload += piece;
            piece = Rfc2217Client::escaped(piece);
        }
        pieces.append(piece);
        stream += piece;
    }

    if (roundTrip) {
        // Escaped payload, cut between escaped pieces: comes out as it went in.
        const Outcome outcome = feed(line, pieces);
        if (outcome.data != payload || !outcome.reply.isEmpty() ||
            outcome.state != Rfc2217Client::State::Negotiating)
            fail("escaped payload does not come out unchanged", stream);
        return 0;
    }

    const Outcome cut = feed(line, pieces);
    const Outcome whole = feed(line, {stream});
    if (!(cut == whole))
        fail("the outcome depends on where the stream is cut", stream);

    const Model expected = model(stream);
    const bool failed = cut.state == Rfc2217Client::State::Failed;
    if (!expected.data.startsWith(cut.data))
        fail("the data is not what the framing says", stream);
    if (!failed && cut.data != expected.data)
        fail("data is missing though the client did not fail", stream);
    if (expected.malformed && !failed)
        fail("a malformed stream did not fail", stream);
    if (failed && cut.failure.isEmpty())
        fail("a failure without a reason", stream);
    if (!failed && !cut.failure.isEmpty())
        fail("a reason without a failure", stream);
    checkReply(cut.reply, stream);
    // At most one answer per option and side for the options not wanted, a few for the wanted
    // ones (each answers a change of the server's mind), and the four requests.
    if (cut.reply.size() > 2 * 256 * 3 + stream.size() + 64)
        fail("the reply grows beyond its bound", stream);
    return 0;
}
