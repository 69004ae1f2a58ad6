#include "links/rfc2217_client.h"

namespace vmx {

namespace {

// Telnet commands (RFC 854).
constexpr std::uint8_t kSe = 240;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kIac = 255;

// Options.
constexpr std::uint8_t kBinary = 0;   // RFC 856
constexpr std::uint8_t kEcho = 1;     // RFC 857
constexpr std::uint8_t kSga = 3;      // RFC 858, suppress go-ahead
constexpr std::uint8_t kComPort = 44; // RFC 2217

// COM-PORT-OPTION requests; the server answers each with the request's number + 100.
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kAnswerOffset = 100;
constexpr std::uint8_t kAllConfirmed = 0b1111;

// RFC 2217's numbers for a parity; 0 for a value the RFC has no number for.
std::uint8_t parityCode(QSerialPort::Parity parity) {
    switch (parity) {
    case QSerialPort::NoParity:
        return 1;
    case QSerialPort::OddParity:
        return 2;
    case QSerialPort::EvenParity:
        return 3;
    case QSerialPort::MarkParity:
        return 4;
    case QSerialPort::SpaceParity:
        return 5;
    }
    return 0;
}

QString parityName(std::uint8_t code) {
    switch (code) {
    case 1:
        return QStringLiteral("none");
    case 2:
        return QStringLiteral("odd");
    case 3:
        return QStringLiteral("even");
    case 4:
        return QStringLiteral("mark");
    case 5:
        return QStringLiteral("space");
    }
    return QString::number(code);
}

// RFC 2217: 1 one stop bit, 2 two, 3 one and a half.
std::uint8_t stopCode(QSerialPort::StopBits stop) {
    switch (stop) {
    case QSerialPort::OneStop:
        return 1;
    case QSerialPort::TwoStop:
        return 2;
    case QSerialPort::OneAndHalfStop:
        return 3;
    }
    return 0;
}

QString stopName(std::uint8_t code) {
    return code == 3 ? QStringLiteral("1.5") : QString::number(code);
}

void appendCommand(QByteArray& out, std::uint8_t verb, std::uint8_t option) {
    out.append(char(kIac));
    out.append(char(verb));
    out.append(char(option));
}

void appendSetting(QByteArray& out, std::uint8_t request, QByteArrayView value) {
    out.append(char(kIac));
    out.append(char(kSb));
    out.append(char(kComPort));
    out.append(char(request));
    out.append(Rfc2217Client::escaped(value));
    out.append(char(kIac));
    out.append(char(kSe));
}

QString hexByte(std::uint8_t byte) {
    return QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0'));
}

} // namespace

Rfc2217Client::Rfc2217Client(const LineSettings& line) : line_(line) {}

QByteArray Rfc2217Client::opening() {
    QByteArray out;
    ours_[kBinary] = Side::WantYes;
    theirs_[kBinary] = Side::WantYes;
    ours_[kComPort] = Side::WantYes;
    appendCommand(out, kWill, kBinary);
    appendCommand(out, kDo, kBinary);
    appendCommand(out, kWill, kComPort);
    // Servers offer a terminal's options on connecting (ser2net: SGA both ways and ECHO). They
    // are refused here already, in the first segment, rather than in answer to the offers:
    // ser2net acknowledges a refusal with a small segment of its own, and the answers to the
    // SET-* requests then wait behind it for the client's delayed ACK (some 40 ms). A refusal
    // needs no request before it (RFC 854), and the later offers get no further answer.
    for (const std::uint8_t option : {kSga, kEcho})
        theirs_[option] = Side::Refused;
    ours_[kSga] = Side::Refused;
    appendCommand(out, kDont, kSga);
    appendCommand(out, kWont, kSga);
    appendCommand(out, kDont, kEcho);
    return out;
}

QByteArray Rfc2217Client::escaped(QByteArrayView data) {
    QByteArray out;
    out.reserve(data.size());
    for (const char c : data) {
        out.append(c);
        if (std::uint8_t(c) == kIac)
            out.append(c);
    }
    return out;
}

void Rfc2217Client::feed(QByteArrayView fromServer, QByteArray& data, QByteArray& reply) {
    for (const char c : fromServer) {
        if (state_ == State::Failed)
            return;
        const auto byte = std::uint8_t(c);
        switch (parse_) {
        case Parse::Data:
            if (byte == kIac)
                parse_ = Parse::Command;
            else
                data.append(c);
            break;
        case Parse::Command:
            parse_ = Parse::Data;
            if (byte == kIac) {
                data.append(c);
            } else if (byte >= kWill) {
                verb_ = byte;
                parse_ = Parse::Option;
            } else if (byte == kSb) {
                parse_ = Parse::SubOption;
            } else if (byte < kSe) {
                fail(QStringLiteral("malformed Telnet sequence: IAC followed by %1")
                         .arg(hexByte(byte)));
            }
            // SE outside a subnegotiation, NOP, DM, BRK, IP, AO, AYT, EC, EL and GA carry
            // nothing for a serial line's data: ignored.
            break;
        case Parse::Option:
            parse_ = Parse::Data;
            command(verb_, byte, reply);
            break;
        case Parse::SubOption:
            subOption_ = byte;
            sub_.clear();
            parse_ = Parse::Sub;
            break;
        case Parse::Sub:
            if (byte == kIac)
                parse_ = Parse::SubCommand;
            else
                collect(c);
            break;
        case Parse::SubCommand:
            if (byte == kIac) {
                parse_ = Parse::Sub;
                collect(c);
            } else if (byte == kSe) {
                parse_ = Parse::Data;
                subnegotiation();
                sub_.clear();
            } else {
                fail(QStringLiteral("malformed Telnet subnegotiation: IAC followed by %1 inside it")
                         .arg(hexByte(byte)));
            }
            break;
        }
    }
}

void Rfc2217Client::command(std::uint8_t verb, std::uint8_t option, QByteArray& reply) {
    if (verb == kWill || verb == kWont)
        theirSide(verb, option, reply);
    else
        ourSide(verb, option, reply);
}

// WILL/WONT: what the server does. We want binary transmission from it; it may also offer
// COM-PORT-OPTION itself, which costs nothing to accept and avoids an answer that reads as a
// refusal.
void Rfc2217Client::theirSide(std::uint8_t verb, std::uint8_t option, QByteArray& reply) {
    Side& side = theirs_[option];
    const bool wanted = option == kBinary || option == kComPort;
    if (verb == kWill) {
        if (side == Side::WantYes) {
            side = Side::Yes;
        } else if (side == Side::No && wanted) {
            side = Side::Yes;
            appendCommand(reply, kDo, option);
        } else if (side == Side::No) {
            side = Side::Refused;
            appendCommand(reply, kDont, option);
        }
        return;
    }
    if (option == kComPort && state_ == State::Negotiating)
        return fail(QStringLiteral("the server refused COM-PORT-OPTION"));
    if (side == Side::Yes)
        appendCommand(reply, kDont, option);
    if (side != Side::Refused)
        side = Side::No;
}

// DO/DONT: what the server asks of us. We send binary and COM-PORT-OPTION, nothing else.
void Rfc2217Client::ourSide(std::uint8_t verb, std::uint8_t option, QByteArray& reply) {
    Side& side = ours_[option];
    const bool wanted = option == kBinary || option == kComPort;
    if (verb == kDo) {
        if (side == Side::WantYes || (side == Side::No && wanted)) {
            if (side == Side::No)
                appendCommand(reply, kWill, option);
            side = Side::Yes;
            if (option == kComPort)
                sendSettings(reply);
        } else if (side == Side::No) {
            side = Side::Refused;
            appendCommand(reply, kWont, option);
        }
        return;
    }
    if (option == kComPort && state_ == State::Negotiating)
        return fail(QStringLiteral("the server refused COM-PORT-OPTION"));
    if (side == Side::Yes)
        appendCommand(reply, kWont, option);
    if (side != Side::Refused)
        side = Side::No;
}

void Rfc2217Client::sendSettings(QByteArray& reply) {
    if (settingsSent_)
        return;
    settingsSent_ = true;
    const auto baud = quint32(line_.baudRate);
    const char baudBytes[4] = {char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    appendSetting(reply, kSetBaudRate, QByteArrayView(baudBytes, 4));
    const char dataSize = char(line_.dataBits);
    appendSetting(reply, kSetDataSize, QByteArrayView(&dataSize, 1));
    const char parity = char(parityCode(line_.parity));
    appendSetting(reply, kSetParity, QByteArrayView(&parity, 1));
    const char stop = char(stopCode(line_.stopBits));
    appendSetting(reply, kSetStopSize, QByteArrayView(&stop, 1));
}

void Rfc2217Client::collect(char c) {
    if (sub_.size() < kMaxSubnegotiationBytes)
        sub_.append(c);
    else
        fail(QStringLiteral("malformed Telnet subnegotiation: no end after %1 bytes")
                 .arg(kMaxSubnegotiationBytes));
}

void Rfc2217Client::subnegotiation() {
    if (subOption_ != kComPort || sub_.isEmpty())
        return;
    confirm(std::uint8_t(sub_[0]), QByteArrayView(sub_).sliced(1));
}

// The server's answers to the SET-* requests, while negotiating. Other COM-PORT-OPTION messages
// (modem and line state notifications, answers to requests we never make) are not waited for.
void Rfc2217Client::confirm(std::uint8_t answer, QByteArrayView value) {
    if (state_ != State::Negotiating || !settingsSent_ || answer <= kAnswerOffset ||
        answer > kAnswerOffset + kSetStopSize)
        return;
    const std::uint8_t request = answer - kAnswerOffset;
    const qsizetype expectedSize = request == kSetBaudRate ? 4 : 1;
    static constexpr const char* kNames[] = {"", "SET-BAUDRATE", "SET-DATASIZE", "SET-PARITY",
                                             "SET-STOPSIZE"};
    if (value.size() != expectedSize)
        return fail(QStringLiteral("malformed answer to %1: %2 value bytes, not %3")
                        .arg(QLatin1String(kNames[request]))
                        .arg(value.size())
                        .arg(expectedSize));
    const auto first = std::uint8_t(value[0]);
    switch (request) {
    case kSetBaudRate: {
        quint32 baud = 0;
        for (const char c : value)
            baud = (baud << 8) | std::uint8_t(c);
        if (baud != quint32(line_.baudRate))
            return fail(QStringLiteral("the server set the baud rate to %1, not %2")
                            .arg(baud)
                            .arg(line_.baudRate));
        break;
    }
    case kSetDataSize:
        if (first != std::uint8_t(line_.dataBits))
            return fail(QStringLiteral("the server set the data size to %1, not %2")
                            .arg(first)
                            .arg(int(line_.dataBits)));
        break;
    case kSetParity:
        if (first != parityCode(line_.parity))
            return fail(QStringLiteral("the server set the parity to %1, not %2")
                            .arg(parityName(first), parityName(parityCode(line_.parity))));
        break;
    case kSetStopSize:
        if (first != stopCode(line_.stopBits))
            return fail(QStringLiteral("the server set the stop bits to %1, not %2")
                            .arg(stopName(first), stopName(stopCode(line_.stopBits))));
        break;
    }
    confirmed_ |= std::uint8_t(1u << (request - 1));
    if (confirmed_ == kAllConfirmed)
        state_ = State::Ready;
}

void Rfc2217Client::fail(const QString& why) {
    state_ = State::Failed;
    failure_ = why;
    sub_.clear();
}

} // namespace vmx
