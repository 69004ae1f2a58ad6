#pragma once

#include "links/line_settings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>

namespace vmx {

// The client side of a Telnet connection to a serial device server (RFC 854 framing, RFC 855
// subnegotiation, RFC 856 binary transmission, RFC 2217 COM-PORT-OPTION). Bytes in from the
// server, bytes out to send; no sockets, so every byte sequence can be tried in a test.
//
// The client offers COM-PORT-OPTION and binary transmission both ways (so CR, NUL and every byte
// but 0xFF pass untouched), refuses every other option once (suppress go-ahead and echo already
// in its opening), and sends SET-BAUDRATE,
// SET-DATASIZE, SET-PARITY and SET-STOPSIZE as soon as the server has agreed to COM-PORT-OPTION:
// RFC 855 allows no subnegotiation of an option that is not on yet. It is Ready when the server
// has confirmed all four values as asked.
//
// Memory stays bounded for any input: the only buffer is one subnegotiation, at most
// kMaxSubnegotiationBytes; decoded data is handed out at once, never kept.
class Rfc2217Client {
public:
    enum class State { Negotiating, Ready, Failed };

    // Longer than any subnegotiation a serial device server sends (its signature text is the
    // longest); beyond it the server is taken to be broken.
    static constexpr qsizetype kMaxSubnegotiationBytes = 4096;

    // `line` is what the gateway's serial port is to be set to.
    explicit Rfc2217Client(const LineSettings& line);

    // What to send right after the TCP connection is up: the option offers and the refusals of
    // the options servers offer unasked. The SET-* requests follow in a reply from feed() once
    // the server agrees to COM-PORT-OPTION.
    QByteArray opening();

    // Feeds bytes from the server. Appends decoded payload bytes to `data` (also those that
    // arrive before Ready), and bytes to send back (answers to option requests, refusals of
    // options not asked for, the SET-* requests) to `reply`. Once Failed, input is ignored.
    void feed(QByteArrayView fromServer, QByteArray& data, QByteArray& reply);

    State state() const { return state_; }
    // Why negotiation failed: e.g. "the server refused COM-PORT-OPTION",
    // "the server set the baud rate to 9600, not 19200".
    QString failure() const { return failure_; }

    // Outgoing payload, Telnet-escaped (0xFF doubled).
    static QByteArray escaped(QByteArrayView data);

private:
    // Where the parser stands in the Telnet byte stream.
    enum class Parse : std::uint8_t {
        Data,
        Command,    // after IAC
        Option,     // after IAC WILL/WONT/DO/DONT
        SubOption,  // after IAC SB
        Sub,        // inside a subnegotiation
        SubCommand, // after IAC inside a subnegotiation
    };
    // One side of one option (RFC 1143 without the queue bit). Refused: we answered "no" to the
    // other side's request once and stay silent on repeats, so no request can start a loop.
    enum class Side : std::uint8_t { No, WantYes, Yes, Refused };

    void command(std::uint8_t verb, std::uint8_t option, QByteArray& reply);
    void theirSide(std::uint8_t verb, std::uint8_t option, QByteArray& reply);
    void ourSide(std::uint8_t verb, std::uint8_t option, QByteArray& reply);
    void collect(char c);
    void subnegotiation();
    void confirm(std::uint8_t answer, QByteArrayView value);
    void fail(const QString& why);
    void sendSettings(QByteArray& reply);

    LineSettings line_;
    State state_ = State::Negotiating;
    QString failure_;
    Parse parse_ = Parse::Data;
    std::uint8_t verb_ = 0;
    std::uint8_t subOption_ = 0;
    QByteArray sub_;
    bool settingsSent_ = false;
    std::uint8_t confirmed_ = 0; // one bit per SET-* answer received as asked
    std::array<Side, 256> ours_{};
    std::array<Side, 256> theirs_{};
};

} // namespace vmx
