#pragma once

#include "exchange/exchange.h"
#include "links/link_choice.h"
#include "links/link_kinds.h"
#include "links/link_target.h"

#include <QString>

#include <optional>

namespace vmx {

// What one SEND is made of, whether the window's controls or the command line and the settings
// file chose it: the port button (or a device or an endpoint given instead), the baud and format
// buttons, the boxes.
struct LinkChoices {
    LinkKind link = LinkKind::Serial; // of the port button
    int serialPort = 1;               // COM1..COM4 of the port button
    BaudRate baud = BaudRate::Baud1200;
    std::optional<LineFormat> format = LineFormat::E71; // none: a code no button stands for
    QString ipAddress;                                  // the IP boxes, as typed
    QString ipPort;
    QString addressText;
    QString commandText;

    // The command line's: a serial device instead of the numbered port, an endpoint instead of
    // the port button, one opening kept for the run, the local UDP port.
    QString serialPath;
    std::optional<TypedEndpoint> endpoint;
    bool keepOpen = false;
    quint16 localUdpPort = kLocalUdpPort;
};

// The request for these choices. A Com button whose COMn file names a device server leads
// there (links/device_server_file.h); the line settings go to every kind that reads them.
ExchangeRequest exchangeRequest(const LinkChoices& choices);

} // namespace vmx
