#pragma once

#include "cli/exchange_record.h"
#include "exchange/exchange.h"
#include "links/link_kinds.h"
#include "settings/settings_codec.h"
#include "supervision/reply_watchdog.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace vmx {

// Exit statuses of velmarixon-send. For several exchanges the highest one counts.
inline constexpr int kExitAnswered = 0;    // every exchange got a reply or ACK
inline constexpr int kExitRefused = 1;     // an exchange got NAK
inline constexpr int kExitTimedOut = 2;    // an exchange got no answer in time
inline constexpr int kExitLinkFailed = 3;  // the link could not be prepared or written
inline constexpr int kExitUsage = 64;      // the command line or the settings file is unusable
inline constexpr int kExitNotWritten = 73; // --write-settings: the file could not be written
// 74 (kExitOutputFailed): standard output could not be written. A run cut short by a signal
// with no exchange completed ends with 128 + the signal's number (Ctrl+C 130, SIGTERM 143).

// The wait for each address of a scan when --timeout-ms does not say otherwise.
inline constexpr std::chrono::milliseconds kScanTimeout{300};

// After an exchange that got no answer, how long the line must be quiet before the next frame
// goes out (--guard-ms): an answer that comes that much after its wait is still seen as late,
// and a line of 1200 baud passes twelve characters in it.
inline constexpr std::chrono::milliseconds kGuardTime{100};

// The addresses of --scan FIRST-LAST.
struct AddressRange {
    int first = 0;
    int last = 0;
};

// What the command line says, checked for form; unset values come from the settings file.
struct CommandLine {
    bool helpRequested = false;
    QString helpText;
    bool versionRequested = false; // --version
    QString error;                 // a usage error, one line

    QString settingsPath; // --settings; empty: velmarixon.ini in the current folder, if any

    // --port as the option button the window would have chosen (its index in kOptionCodes);
    // a device path chooses COM1's button and names the device.
    std::optional<int> portButton;
    std::optional<BaudRate> baud;
    std::optional<LineFormat> format;
    QString serialPath; // --port with a device path
    // --port udp:HOST:PORT or udp://HOST:PORT, or --ip-address and --ip-port
    std::optional<QString> ipAddress, ipPort;
    std::optional<TypedEndpoint> endpoint; // --port socket://HOST:PORT, rfc2217://HOST:PORT
    std::optional<QString> address, command;
    std::optional<quint16> localPort;
    std::optional<int> timeoutMs, count, intervalMs, guardMs;
    bool echo = false;
    bool timestamps = false;
    std::optional<RecordFormat> output; // --output
    QString logPath;                    // --log
    bool listPorts = false;             // --list-ports
    std::optional<AddressRange> scan;   // --scan
    QString writeSettingsPath;          // --write-settings: write this file instead of a run
};

// Everything one run needs.
struct SendPlan {
    ExchangeRequest request; // the same for every exchange of the run
    std::chrono::milliseconds timeout = kReplyTimeout;
    int count = 1; // 0: until stopped
    std::chrono::milliseconds interval{0};
    std::chrono::milliseconds guard = kGuardTime;
    bool echo = false;
    bool timestamps = false;
    RecordFormat output = RecordFormat::Text;
    QString logPath;
    std::optional<AddressRange> scan; // one exchange per address instead of --count
};

struct PlanResult {
    std::optional<SendPlan> plan;
    QString error; // a usage error, one line
};

// Reads the arguments (arguments[0] is the program). Pure: it neither reads files nor opens
// anything.
CommandLine parseCommandLine(const QStringList& arguments);

// The settings as the window would apply them at start-up, overridden by the command line. An
// address or command from which the window's frame builder cannot build a frame is a usage error.
PlanResult planSend(const CommandLine& line, const Settings& settings);

} // namespace vmx
