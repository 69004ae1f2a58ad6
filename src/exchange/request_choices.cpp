#include "exchange/request_choices.h"

#include "links/device_server_file.h"
#include "links/line_settings.h"
#include "links/link_kinds.h"

namespace vmx {

namespace {

std::optional<LineSettings> lineOf(const LinkChoices& choices) {
    if (!choices.format)
        return std::nullopt;
    return lineSettings(choices.baud, *choices.format);
}

LinkTarget targetOf(const LinkChoices& choices) {
    const std::optional<LineSettings> line = lineOf(choices);
    if (choices.endpoint)
        return choices.endpoint->row->fromEndpoint(choices.endpoint->endpoint, line);
    // Of the port buttons only UDP's reads the IP boxes; a device server has no button of its
    // own (a COMn file or the command line names it), so every other button is a Com button.
    if (choices.link == LinkKind::Udp)
        return UdpTarget{choices.ipAddress, choices.ipPort, choices.localUdpPort};
    if (choices.serialPath.isEmpty()) {
        if (auto server = deviceServerFile(choices.serialPort, line))
            return *server;
    }
    return SerialTarget{choices.serialPort, choices.serialPath, line, choices.keepOpen};
}

} // namespace

ExchangeRequest exchangeRequest(const LinkChoices& choices) {
    return {targetOf(choices), choices.addressText, choices.commandText};
}

} // namespace vmx
