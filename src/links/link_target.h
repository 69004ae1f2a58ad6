#pragma once

#include "links/line_settings.h"
#include "links/link_choice.h"

#include <QString>

#include <optional>
#include <variant>

namespace vmx {

// Frames leave from this local UDP port and answers are received on it.
inline constexpr quint16 kLocalUdpPort = 5000;

// A serial port: COM1..COM4 or a device path.
struct SerialTarget {
    int serialPort = 1; // COM1..COM4
    QString serialPath; // a device opened instead of the numbered port when not empty
    // nullopt: the port keeps the line settings of its last opening (a format the settings file
    // holds that no button stands for).
    std::optional<LineSettings> line;
    // An open port aimed at the same device with the same settings is used as it is, instead
    // of being closed and opened again. It is reopened once it has been lost or failed.
    bool keepOpen = false;
};

// A device on the network reached by UDP datagrams.
struct UdpTarget {
    QString ipAddress; // host name or address text, as typed
    QString ipPort;    // as typed
    quint16 localUdpPort = kLocalUdpPort;
};

// A TCP endpoint: the text as the user gave it, and its parts.
struct Endpoint {
    QString text; // "rfc2217://10.0.0.5:4001", as typed: records and the log name it so
    QString host; // a name or an address, IPv6 without its brackets
    quint16 port = 0;
    friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

// A serial device server whose line settings are fixed on the server: raw bytes over TCP.
struct TcpTarget {
    Endpoint endpoint;
};

// A serial device server that takes the line settings over RFC 2217.
struct Rfc2217Target {
    Endpoint endpoint;
    // nullopt: the serial component's defaults (9600, N, 8, 1); a server has no "as before".
    std::optional<LineSettings> line;
};

// Where one SEND goes: one alternative per link kind, in the order of LinkKind.
using LinkTarget = std::variant<SerialTarget, UdpTarget, TcpTarget, Rfc2217Target>;
static_assert(std::variant_size_v<LinkTarget> == kLinkKinds);

inline LinkKind kindOf(const LinkTarget& target) {
    return LinkKind(target.index());
}

} // namespace vmx
