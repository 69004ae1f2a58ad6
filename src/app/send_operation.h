#pragma once

#include "protocol/command_frame.h"
#include "protocol/reply_assembler.h"

#include <QString>

#include <functional>

namespace vmx {

class SerialLink;
class UdpLink;

inline const QString kComPortError = QStringLiteral("COM Port error");
inline const QString kUdpConnectionError = QStringLiteral("udp connection error");

// What SEND leaves behind for the next SEND and for the reply handling.
struct ExchangeState {
    QString addressText;
    QString commandText;
    float commandLength = 0;
    CommandFrame frame;
    ReplyAssembler reply; // holds rxBuffer
};

// The selectors the option buttons write. portSelect below 25 is a serial port, 99 is UDP.
struct LinkSelection {
    float portSelect = 0;
    float baudSelect = 0;
    float comFormat = 0;
};

// How SEND reaches the window. Texts are read when SEND needs them, after the link has been
// prepared, so the order of reads is part of the behaviour.
struct SendControls {
    std::function<QString()> commandText;
    std::function<QString()> addressText;
    std::function<QString()> ipAddressText;
    std::function<QString()> ipPortText;
    std::function<void(const QString&)> showEcho;
    std::function<void(const QString&)> showMessage;
    std::function<void()> armWatchdog;
};

struct SendLinks {
    SerialLink& serial;
    UdpLink& udp;
};

// One SEND: prepare the chosen link, read the command then the address, build the frame, show
// its echo, empty rxBuffer, write the frame, arm the watchdog. From the link preparation on, any
// failure shows that link's message once and ends SEND; the steps that already ran stay done.
// ipAddress and ipPort are the stored IP texts, refreshed by every SEND over UDP.
// Returns true when the frame went out and the watchdog was armed.
bool runSend(const LinkSelection& selection, SendLinks links, ExchangeState& exchange,
             QString& ipAddress, QString& ipPort, const SendControls& controls);

} // namespace vmx
