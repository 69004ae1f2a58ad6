#include "app/send_operation.h"

#include "links/serial_link.h"
#include "links/udp_link.h"
#include "settings/option_codes.h"

#include <optional>

namespace vmx {

namespace {

// Any port selector below this picks one of the serial ports.
constexpr float kSerialSelectorLimit = 25.0f;

} // namespace

bool runSend(const LinkSelection& selection, SendLinks links, ExchangeState& exchange,
             QString& ipAddress, QString& ipPort, const SendControls& controls) {
    const bool serial = selection.portSelect < kSerialSelectorLimit;
    const bool udp = selection.portSelect == kUdpPortSelect;
    std::optional<QString> failureMessage;

    auto fail = [&] {
        if (failureMessage)
            controls.showMessage(*failureMessage);
        return false;
    };

    if (serial) {
        failureMessage = kComPortError;
        if (!links.serial.prepare(selection.portSelect, selection.baudSelect, selection.comFormat))
            return fail();
    }
    if (udp) {
        failureMessage = kUdpConnectionError;
        ipAddress = controls.ipAddressText();
        ipPort = controls.ipPortText();
        if (!links.udp.prepare(ipAddress, ipPort))
            return fail();
    }

    exchange.commandText = controls.commandText();
    exchange.addressText = controls.addressText();
    if (buildCommandFrame(exchange.addressText, exchange.commandText, exchange.frame,
                          exchange.commandLength) != FrameError::None)
        return fail();

    controls.showEcho(echoText(exchange.frame));
    exchange.reply.clear();

    const QByteArray bytes = sendingOrder(exchange.frame);
    if (serial && !links.serial.writeFrame(bytes))
        return fail();
    if (!serial && udp && !links.udp.send(bytes))
        return fail();

    controls.armWatchdog();
    return true;
}

} // namespace vmx
