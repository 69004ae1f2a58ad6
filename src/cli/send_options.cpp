#include "cli/send_options.h"

#include "cli/program_options.h"
#include "exchange/request_choices.h"
#include "links/link_kinds.h"
#include "protocol/command_frame.h"
#include "settings/option_codes.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>

namespace vmx {

namespace {

const QString kDescription = QStringLiteral(
    "Sends one command frame as the Velmarixon window's SEND does and prints the answer\n"
    "as its message window shows it: ACK, NAK or the reply's payload, one line each.\n"
    "\n"
    "Defaults come from velmarixon.ini in the current folder when there is one (the\n"
    "window's settings), else from the window's defaults; options override them. A run\n"
    "never writes the settings file.\n"
    "\n"
    "  --port COM1 ... COM4   as the window: a file COMn in the current folder, else\n"
    "                         /dev/ttyS0 ... /dev/ttyS3; a file COMn that goes away\n"
    "                         during a run is a link error, never another port\n"
    "  --port /dev/ttyUSB0    any other name is opened as a serial device; a name\n"
    "                         without a folder (TTYA) is one in the current folder\n"
    "  --port udp:HOST:PORT   one datagram from local port 5000 (see --local-port);\n"
    "                         answers from any sender are shown; udp://HOST:PORT too\n"
    "  --port udp             UDP to the IP address and port of the settings file\n"
    "  --port socket://HOST:PORT    a serial device server over raw TCP; its line\n"
    "                         settings are those set on the server\n"
    "  --port rfc2217://HOST:PORT   a serial device server over RFC 2217: --baud and\n"
    "                         --format are set on its serial port\n"
    "                         HOST: an IPv4 address, [IPv6 address] or a name; the\n"
    "                         connection (at most 3 s) is kept for the run and made\n"
    "                         again after the server closed it. No encryption, no\n"
    "                         authentication: for the plant's own network.\n"
    "\n"
    "A missing answer prints \" Communication fail with device\" on standard error, a\n"
    "link that fails its message, the port and the system's reason. With --count a\n"
    "missing answer or a link error is reported and the run goes on: the next\n"
    "exchange opens the port afresh, so a device plugged back in is found again. A\n"
    "serial port stays open, its settings applied, between the exchanges of a run.\n"
    "An answer is an exchange's own only when it comes in time and, for a reply, names\n"
    "the exchange's address and command. Any other (an answer after its wait, another\n"
    "address's reply, bytes waiting on a serial port when it opens) is reported as a\n"
    "late record with the address it came from and how long after its frame, never\n"
    "taken for an answer. After an exchange that got no answer the next frame waits\n"
    "until the line has been quiet for --guard-ms (default 100), so that a late ACK or\n"
    "NAK, which names no address, is late too.\n"
    "\n"
    "--output csv or jsonl writes one record per exchange, failures too: time, port,\n"
    "address, command, outcome (reply, ack, nak, no-answer, link-error, late),\n"
    "payload as shown, payload in hex, round trip in ms and the error text. CSV\n"
    "(RFC 4180) starts with a header line; jsonl is one JSON object per line.\n"
    "\n"
    "--write-settings FILE writes the window's settings file instead of a run, through\n"
    "the window's own writer, and ends: the defaults as above with --port (COM1 to\n"
    "COM4, udp, udp:HOST:PORT), --baud, --format, --address, --command, --ip-address\n"
    "and --ip-port over them. It prepares a folder for an operator. A device path or\n"
    "a device server cannot stand in the file: the window reaches those through a\n"
    "file COMn in its folder.\n"
    "\n"
    "Exit status: 0 every exchange got a reply or ACK, 1 one got NAK, 2 one got no\n"
    "answer in time, 3 the link could not be prepared or written, 64 usage error,\n"
    "73 the settings file could not be written (--write-settings), 74 standard\n"
    "output could not be written. For several exchanges the highest\n"
    "counts. Ctrl+C (SIGTERM) ends the run with the status so far, or 130 (143) when\n"
    "no exchange was completed. A scan ends 0 when an address answered, else 2.\n"
    "\n"
    "Examples:\n"
    "  velmarixon-send --port COM1 --address 1 --command RD\n"
    "  velmarixon-send --port udp:127.0.0.1:6000 --local-port 0 --count 10 --interval-ms 1000 "
    "--timestamps\n"
    "  velmarixon-send --port /dev/ttyUSB0 --count 0 --interval-ms 500 --output jsonl --log "
    "run.log\n"
    "  velmarixon-send --port COM1 --scan 0-30\n"
    "  velmarixon-send --port rfc2217://10.0.0.5:4001 --baud 19200 --format E71 --address 1 "
    "--command RD\n"
    "  velmarixon-send --write-settings velmarixon.ini --port COM2 --baud 9600 --address 7\n"
    "  velmarixon-send --list-ports");

// The highest address the frame builder takes: its tens value goes up to 207.
constexpr int kHighestAddress = 2079;

const QRegularExpression kComPort(QStringLiteral("^COM([1-4])$"),
                                  QRegularExpression::CaseInsensitiveOption);

// The index of the port code of a kind in kOptionCodes, -1 when none stands for it.
int portButtonOf(LinkKind kind) {
    for (std::size_t i = 0; i < kOptionCodes.size(); ++i)
        if (kOptionCodes[i].group == OptionGroup::Port && kOptionCodes[i].link == kind)
            return int(i);
    return -1;
}

int udpButton() {
    return portButtonOf(LinkKind::Udp);
}

// Reads --port into the command line; false with the reason in line.error.
bool readPort(const QString& text, CommandLine& line) {
    if (const auto com = kComPort.match(text); com.hasMatch()) {
        line.portButton = com.captured(1).toInt() - 1;
        return true;
    }
    QString endpointError;
    if (const auto typed = typedEndpoint(text, &endpointError)) {
        if (!typed->valid()) {
            line.error = endpointError;
            return false;
        }
        // A kind read through the IP boxes is that button with these texts; a device server
        // has no button and is given as its target.
        if (typed->row->readsIpBoxes) {
            line.portButton = portButtonOf(typed->row->kind);
            line.ipAddress = typed->endpoint.host;
            line.ipPort = QString::number(typed->endpoint.port);
        } else {
            line.endpoint = typed;
        }
        return true;
    }
    if (text.compare(u"udp", Qt::CaseInsensitive) == 0) {
        line.portButton = udpButton();
        return true;
    }
    if (text.startsWith(u"udp:", Qt::CaseInsensitive)) {
        const QString hostAndPort = text.mid(4);
        const qsizetype colon = hostAndPort.lastIndexOf(u':');
        const QString host = hostAndPort.left(colon);
        if (colon <= 0 || host.trimmed().isEmpty() ||
            !boundedNumber(hostAndPort.mid(colon + 1), 1, 65535)) {
            line.error = QStringLiteral("--port udp:HOST:PORT needs a host and a port from 1 to "
                                        "65535, for example udp:127.0.0.1:6000.");
            return false;
        }
        line.portButton = udpButton();
        line.ipAddress = host;
        line.ipPort = hostAndPort.mid(colon + 1);
        return true;
    }
    if (text.isEmpty()) {
        line.error = QStringLiteral("--port needs COM1 to COM4, a device path, udp:HOST:PORT or "
                                    "%1.")
                         .arg(schemeForms());
        return false;
    }
    line.portButton = 0;
    line.serialPath = text;
    return true;
}

// The button the window ends up with: the command line's, else the one the stored code
// chooses; nullptr when the code matches none (the window then chooses none).
const OptionCode* chosenButton(std::optional<int> fromLine, OptionGroup group, float code) {
    const int index = fromLine.value_or(optionForFileCode(group, code));
    return index < 0 ? nullptr : &kOptionCodes[std::size_t(index)];
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    ProgramOptions options(kDescription);
    QCommandLineParser& parser = options.parser();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("COM1..COM4, a serial device path, udp:HOST:PORT, "
                                                 "udp, ") +
                                      schemeForms() + u'.',
                                  QStringLiteral("port"));
    const QCommandLineOption baud(QStringLiteral("baud"),
                                  QStringLiteral("1200, 2400, 9600 or 19200."),
                                  QStringLiteral("rate"));
    const QCommandLineOption format(QStringLiteral("format"), QStringLiteral("E71 or N81."),
                                    QStringLiteral("format"));
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("The device address, as typed in the window."),
                                     QStringLiteral("n"));
    const QCommandLineOption command(
        QStringLiteral("command"), QStringLiteral("The command text, at most 18 characters sent."),
        QStringLiteral("text"));
    const QCommandLineOption timeout(QStringLiteral("timeout-ms"),
                                     QStringLiteral("How long an answer may take (default 4000)."),
                                     QStringLiteral("ms"));
    const QCommandLineOption count(
        QStringLiteral("count"),
        QStringLiteral("Number of exchanges (default 1); 0 repeats until Ctrl+C."),
        QStringLiteral("n"));
    const QCommandLineOption interval(
        QStringLiteral("interval-ms"),
        QStringLiteral("From the start of one exchange to the start of the next (default 0)."),
        QStringLiteral("ms"));
    const QCommandLineOption guard(
        QStringLiteral("guard-ms"),
        QStringLiteral("After an exchange with no answer, how long the line must be quiet before "
                       "the next frame (default %1); what arrives meanwhile is late.")
            .arg(kGuardTime.count()),
        QStringLiteral("ms"));
    const QCommandLineOption localPort(
        QStringLiteral("local-port"),
        QStringLiteral("UDP: the local port frames leave from and answers come to (default "
                       "5000); 0 takes a free one."),
        QStringLiteral("port"));
    const QCommandLineOption echo(QStringLiteral("echo"),
                                  QStringLiteral("Prints the frame in hex first, as MESSAGE shows "
                                                 "it."));
    const QCommandLineOption timestamps(
        QStringLiteral("timestamps"),
        QStringLiteral("Starts each line with the time, ISO 8601 with milliseconds."));
    const QCommandLineOption settings(
        QStringLiteral("settings"),
        QStringLiteral("Takes the defaults from this settings file instead of velmarixon.ini."),
        QStringLiteral("file"));
    const QCommandLineOption output(
        QStringLiteral("output"),
        QStringLiteral("text (default: as the message window), csv or jsonl: one record per "
                       "exchange."),
        QStringLiteral("kind"));
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("Appends every event with its time to this file: frames sent and bytes "
                       "received in hex, outcomes, link errors."),
        QStringLiteral("file"));
    const QCommandLineOption listPorts(
        QStringLiteral("list-ports"),
        QStringLiteral("Lists the serial ports and where COM1..COM4 lead, then ends."));
    const QCommandLineOption scan(
        QStringLiteral("scan"),
        QStringLiteral("One exchange per address, FIRST to LAST (e.g. 0-30), each waiting "
                       "--timeout-ms (default 300 here); prints the addresses that answer."),
        QStringLiteral("first-last"));
    const QCommandLineOption ipAddress(
        QStringLiteral("ip-address"),
        QStringLiteral("The host for --port udp, as in the window's IP ADDRESS box."),
        QStringLiteral("host"));
    const QCommandLineOption ipPort(
        QStringLiteral("ip-port"),
        QStringLiteral("The UDP port for --port udp, as in the window's PORT box, 1 to 65535."),
        QStringLiteral("port"));
    const QCommandLineOption writeSettings(
        QStringLiteral("write-settings"),
        QStringLiteral("Writes the window's settings file: the defaults (as for a run) with "
                       "--port, --baud, --format, --address, --command, --ip-address and "
                       "--ip-port over them; then ends without an exchange."),
        QStringLiteral("file"));
    parser.addOptions({port,     baud,   format,   address,   command,   ipAddress,    ipPort,
                       timeout,  count,  interval, guard,     localPort, echo,         timestamps,
                       settings, output, log,      listPorts, scan,      writeSettings});

    CommandLine line;
    switch (options.parse(arguments)) {
    case ProgramOptions::Request::Error:
        line.error = options.error();
        return line;
    case ProgramOptions::Request::Help:
        line.helpRequested = true;
        line.helpText = options.helpText();
        return line;
    case ProgramOptions::Request::Version:
        line.versionRequested = true;
        return line;
    case ProgramOptions::Request::Run:
        break;
    }
    if (!parser.positionalArguments().isEmpty()) {
        line.error = QStringLiteral("Unexpected argument '%1'; every value follows its option.")
                         .arg(parser.positionalArguments().constFirst());
        return line;
    }

    if (parser.isSet(port) && !readPort(parser.value(port), line))
        return line;
    if (parser.isSet(baud)) {
        line.baud = baudRateNamed(parser.value(baud));
        if (!line.baud) {
            line.error = QStringLiteral("--baud takes 1200, 2400, 9600 or 19200.");
            return line;
        }
    }
    if (parser.isSet(format)) {
        line.format = lineFormatNamed(parser.value(format));
        if (!line.format) {
            line.error = QStringLiteral("--format takes E71 or N81.");
            return line;
        }
    }
    if (parser.isSet(address))
        line.address = parser.value(address);
    if (parser.isSet(command))
        line.command = parser.value(command);

    if (!options.readNumber(timeout, 1, 3600000, line.timeoutMs) ||
        !options.readNumber(count, 0, 100000000, line.count) ||
        !options.readNumber(interval, 0, 86400000, line.intervalMs) ||
        !options.readNumber(guard, 0, 60000, line.guardMs)) {
        line.error = options.error();
        return line;
    }
    if (parser.isSet(localPort)) {
        int value = 0;
        if (!options.readNumber(localPort, 0, 65535, value, QStringLiteral("a port"))) {
            line.error = options.error();
            return line;
        }
        line.localPort = quint16(value);
    }
    if (parser.isSet(ipAddress) || parser.isSet(ipPort)) {
        if (line.ipAddress) {
            line.error = QStringLiteral("--port %1 gives the host and the port itself; leave out "
                                        "--ip-address and --ip-port.")
                             .arg(parser.value(port));
            return line;
        }
        if (parser.isSet(ipAddress)) {
            if (parser.value(ipAddress).trimmed().isEmpty()) {
                line.error = QStringLiteral("--ip-address needs a host.");
                return line;
            }
            line.ipAddress = parser.value(ipAddress);
        }
        if (parser.isSet(ipPort)) {
            if (!boundedNumber(parser.value(ipPort), 1, 65535)) {
                line.error = QStringLiteral("--ip-port takes a port from 1 to 65535.");
                return line;
            }
            line.ipPort = parser.value(ipPort);
        }
    }
    line.echo = parser.isSet(echo);
    line.timestamps = parser.isSet(timestamps);
    line.listPorts = parser.isSet(listPorts);
    if (parser.isSet(output)) {
        const QString kind = parser.value(output).toLower();
        if (kind == u"text")
            line.output = RecordFormat::Text;
        else if (kind == u"csv")
            line.output = RecordFormat::Csv;
        else if (kind == u"jsonl")
            line.output = RecordFormat::Jsonl;
        else {
            line.error = QStringLiteral("--output takes text, csv or jsonl.");
            return line;
        }
    }
    if (parser.isSet(log)) {
        line.logPath = parser.value(log);
        if (line.logPath.isEmpty()) {
            line.error = QStringLiteral("--log needs a file name.");
            return line;
        }
    }
    if (parser.isSet(scan)) {
        static const QRegularExpression range(QStringLiteral("^([0-9]{1,4})-([0-9]{1,4})$"));
        const auto match = range.match(parser.value(scan));
        const int first = match.captured(1).toInt();
        const int last = match.captured(2).toInt();
        if (!match.hasMatch() || first > last || last > kHighestAddress) {
            line.error = QStringLiteral("--scan takes FIRST-LAST, addresses from 0 to %1 with "
                                        "FIRST not above LAST, for example 0-30.")
                             .arg(kHighestAddress);
            return line;
        }
        if (parser.isSet(address) || parser.isSet(count)) {
            line.error = QStringLiteral("--scan chooses the addresses and the count itself; "
                                        "leave out --address and --count.");
            return line;
        }
        line.scan = AddressRange{first, last};
    }
    if (parser.isSet(settings)) {
        line.settingsPath = parser.value(settings);
        if (line.settingsPath.isEmpty()) {
            line.error = QStringLiteral("--settings needs a file name.");
            return line;
        }
    }
    if (parser.isSet(writeSettings)) {
        line.writeSettingsPath = parser.value(writeSettings);
        if (line.writeSettingsPath.isEmpty()) {
            line.error = QStringLiteral("--write-settings needs a file name.");
            return line;
        }
        // What the settings file cannot hold is refused, never dropped in silence.
        for (const QCommandLineOption* run :
             {&timeout, &count, &interval, &guard, &localPort, &echo, &timestamps, &output, &log,
              &listPorts, &scan}) {
            if (parser.isSet(*run)) {
                line.error = QStringLiteral("--write-settings writes what the settings file "
                                            "holds; --%1 is no part of it.")
                                 .arg(run->names().constFirst());
                return line;
            }
        }
        const QString notHeld = QStringLiteral("--write-settings: the settings file holds COM1 to "
                                               "COM4 or UDP, not %1; ")
                                    .arg(parser.value(port));
        if (line.endpoint) {
            line.error = notHeld + QStringLiteral("the window reaches a device server through a "
                                                  "file COMn in its folder whose one line is %1.")
                                       .arg(parser.value(port));
            return line;
        }
        if (!line.serialPath.isEmpty()) {
            line.error = notHeld + QStringLiteral("the window reaches another serial device "
                                                  "through COMn in its folder as a link to it.");
            return line;
        }
    }
    return line;
}

PlanResult planSend(const CommandLine& line, const Settings& settings) {
    SendPlan plan;
    // The window's choices at start-up from the settings file, the command line's over them.
    // With no button chosen the window stays at COM1 and 1200 baud, and the port keeps its line
    // settings.
    LinkChoices choices;
    if (const OptionCode* port =
            chosenButton(line.portButton, OptionGroup::Port, settings.iniPort)) {
        choices.link = port->link;
        choices.serialPort = port->serialPort;
    }
    if (line.baud)
        choices.baud = *line.baud;
    else if (const OptionCode* baud =
                 chosenButton(std::nullopt, OptionGroup::Baud, settings.iniBaud))
        choices.baud = baud->baud;
    if (line.format)
        choices.format = *line.format;
    else if (const OptionCode* format =
                 chosenButton(std::nullopt, OptionGroup::Format, settings.comFormat))
        choices.format = format->format;
    else
        choices.format = std::nullopt;
    // A name without a folder is one in the current folder, as for every command-line tool
    // (the serial port classes would look for it in /dev).
    choices.serialPath = line.serialPath.isEmpty() || QDir::isAbsolutePath(line.serialPath)
                             ? line.serialPath
                             : QDir::current().absoluteFilePath(line.serialPath);
    choices.endpoint = line.endpoint;
    // One opening per run: the port stays open, its settings applied, between exchanges.
    choices.keepOpen = true;
    choices.ipAddress = line.ipAddress.value_or(settings.ipAddress);
    choices.ipPort = line.ipPort.value_or(settings.ipPort);
    choices.localUdpPort = line.localPort.value_or(kLocalUdpPort);
    // The address box shows the stored number in its shortest form, as the window fills it.
    choices.addressText = line.address.value_or(formatSettingsNumber(settings.iniAddress));
    choices.commandText = line.command.value_or(settings.iniCommand);
    plan.request = exchangeRequest(choices);
    ExchangeRequest& request = plan.request;
    if (line.timeoutMs)
        plan.timeout = std::chrono::milliseconds(*line.timeoutMs);
    plan.count = line.count.value_or(1);
    plan.interval = std::chrono::milliseconds(line.intervalMs.value_or(0));
    if (line.guardMs)
        plan.guard = std::chrono::milliseconds(*line.guardMs);
    plan.echo = line.echo;
    plan.timestamps = line.timestamps;
    plan.output = line.output.value_or(RecordFormat::Text);
    plan.logPath = line.logPath;
    plan.scan = line.scan;
    if (plan.scan) {
        request.addressText = QString::number(plan.scan->first);
        plan.count = plan.scan->last - plan.scan->first + 1;
        if (!line.timeoutMs)
            plan.timeout = kScanTimeout;
    }

    // The window would only find out after preparing the link; a script is better told now.
    CommandFrame frame;
    float commandLength = 0;
    const auto from = [](const std::optional<QString>& option) {
        return option ? QStringLiteral("") : QStringLiteral(" (from the settings file)");
    };
    switch (buildCommandFrame(request.addressText, request.commandText, frame, commandLength)) {
    case FrameError::None:
        break;
    case FrameError::AddressNotANumber:
    case FrameError::AddressOutOfRange:
        return {std::nullopt, QStringLiteral("The address '%1'%2 is no device address: give a "
                                             "number from 0 to 2079 with --address.")
                                  .arg(request.addressText, from(line.address))};
    case FrameError::EmptyCommand:
        return {std::nullopt, QStringLiteral("The command%1 is empty: give one with --command.")
                                  .arg(from(line.command))};
    case FrameError::CharacterNotSingleByte:
        return {std::nullopt, QStringLiteral("The command '%1'%2 has a character beyond Latin-1.")
                                  .arg(request.commandText, from(line.command))};
    }
    return {plan, QString()};
}

} // namespace vmx
