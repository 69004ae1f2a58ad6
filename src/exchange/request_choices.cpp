#include "exchange/request_choices.h"

#include "links/device_server_file.h"
#include "links/line_settings.h"

namespace vmx {

namespace {

std::optional<LineSettings> lineOf(const LinkChoices& choices) {
    if (!choices.format)
        return std::nullopt;
    return lineSettings(choices.baud, *choices.format);
}

LinkTarget targetOf(const LinkChoices& choices) {
    const std::optional<LineSettings> line = lineOf(choices);
    if (choices.endpoint) {
        LinkTarget target = *choices.endpoint;
        if (auto* rfc2217 = std::get_if<Rfc2217Target>(&target))
            rfc2217->line = line;
        if (auto* udp = std::get_if<UdpTarget>(&target))
            udp->localUdpPort = choices.localUdpPort;
        return target;
    }
    switch (choices.link) {
    case LinkKind::Serial:
        break;
    case LinkKind::Udp:
        return UdpTarget{choices.ipAddress, choices.ipPort, choices.localUdpPort};
    case LinkKind::Tcp:
    case LinkKind::Rfc2217:
        // No button chooses these: a COMn file or the command line names their endpoint.
        break;
    }
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
