#pragma once

namespace vmx {

// The ways to the device, the serial line's baud rates and its formats, as the option buttons
// offer them.
enum class LinkKind { Serial, Udp };
enum class BaudRate { Baud1200, Baud2400, Baud9600, Baud19200 };
enum class LineFormat { E71, N81 }; // even parity, 7 data bits / no parity, 8 data bits; 1 stop

} // namespace vmx
