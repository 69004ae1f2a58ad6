#pragma once

namespace vmx {

// The ways to the device: a serial line, UDP, and a serial device server reached over TCP, raw
// or through RFC 2217. The baud rates and formats of the serial line, as the option buttons
// offer them. What each kind is called and how it is made is in links/link_kinds.h.
enum class LinkKind { Serial, Udp, Tcp, Rfc2217 };
inline constexpr int kLinkKinds = 4;
enum class BaudRate { Baud1200, Baud2400, Baud9600, Baud19200 };
enum class LineFormat { E71, N81 }; // even parity, 7 data bits / no parity, 8 data bits; 1 stop

} // namespace vmx
