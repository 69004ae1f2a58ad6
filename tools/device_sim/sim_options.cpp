#include "device_sim/sim_options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include "cli/program_options.h"
#include "protocol/command_frame.h"

namespace vmx::sim {

namespace {

const QString kDescription = QStringLiteral(
    "Plays a Velmarixon field device so the tool can be tried without one.\n"
    "\n"
    "  velmarixon-device-sim serial [--link COM1]\n"
    "      Opens a pseudo-terminal and makes COM1 (or the name given) in the current\n"
    "      directory point at it. Start the tool in the same directory and choose that\n"
    "      port. The link is removed again on Ctrl+C or SIGTERM.\n"
    "  velmarixon-device-sim udp [--port 6000]\n"
    "      Listens on 127.0.0.1 only and answers each datagram to its sender. In the\n"
    "      tool choose Udp, IP ADDRESS 127.0.0.1 and PORT 6000 (not 5000: the tool\n"
    "      itself sends from and listens on 5000). Port 0 takes a free port, which is\n"
    "      printed.\n"
    "\n"
    "The device has one address (--address, default 1): like a device on a shared\n"
    "line it stays silent for frames to any other address. --address 1,5,17 plays a\n"
    "bus of several devices on the one line or port, each answering its own frames\n"
    "(velmarixon-send --scan finds them). A frame for one with a good\n"
    "check is answered as --answer says; a frame with a bad check, or too short, is\n"
    "answered with NAK (nothing when silent). A reply is the start byte 7, the\n"
    "frame's address and command, the payload, two check characters and ETX 3.\n"
    "Every frame received and answer sent is printed in hex.\n"
    "\n"
    "Examples:\n"
    "  velmarixon-device-sim serial --link COM2 --answer ack --address 7\n"
    "  velmarixon-device-sim udp --port 6000 --payload 42.0 --split 3 --delay-ms 500\n"
    "  velmarixon-device-sim serial --answer silent   (the tool reports a timeout)");

} // namespace

QByteArray addressCharacters(int address) {
    CommandFrame frame;
    float commandLength = 0;
    if (buildCommandFrame(QString::number(address), u"X", frame, commandLength) != FrameError::None)
        return {};
    QByteArray characters;
    characters.append(char(frame.addressTens));
    characters.append(char(frame.addressUnits));
    return characters;
}

QList<QByteArray> addressCharacters(const QList<int>& addresses) {
    QList<QByteArray> characters;
    for (const int address : addresses)
        characters.append(addressCharacters(address));
    return characters;
}

QString addressListText(const QList<int>& addresses) {
    QStringList texts;
    for (const int address : addresses)
        texts.append(QString::number(address));
    return texts.join(u',');
}

bool isPlainLinkName(const QString& name) {
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') &&
           !name.contains(QChar(0));
}

OptionsResult parseOptions(const QStringList& arguments) {
    ProgramOptions programOptions(kDescription);
    QCommandLineParser& parser = programOptions.parser();
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("serial: name of the link to the pseudo-terminal "
                                                 "in the current directory (default COM1)."),
                                  QStringLiteral("name"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("udp: port on 127.0.0.1 (default 6000)."),
                                  QStringLiteral("port"));
    const QCommandLineOption answer(QStringLiteral("answer"),
                                    QStringLiteral("ack, nak, reply or silent (default reply)."),
                                    QStringLiteral("mode"));
    const QCommandLineOption payload(
        QStringLiteral("payload"),
        QStringLiteral("Payload of a reply, single-byte characters (default 12.5)."),
        QStringLiteral("text"));
    const QCommandLineOption split(QStringLiteral("split"),
                                   QStringLiteral("Sends each answer in pieces of n bytes."),
                                   QStringLiteral("n"));
    const QCommandLineOption delay(QStringLiteral("delay-ms"),
                                   QStringLiteral("Waits this long before answering (default 0)."),
                                   QStringLiteral("ms"));
    const QCommandLineOption gap(
        QStringLiteral("gap-ms"),
        QStringLiteral("Pause between the pieces of a split answer (default 20)."),
        QStringLiteral("ms"));
    const QCommandLineOption address(
        QStringLiteral("address"),
        QStringLiteral("The device's address, 0 to %1 (default 1), or a list such as 1,5,17.")
            .arg(kMaxAddress),
        QStringLiteral("n"));
    parser.addOptions({link, port, answer, payload, split, delay, gap, address});
    addReadingOptions(parser);
    parser.addPositionalArgument(QStringLiteral("mode"), QStringLiteral("serial or udp."));

    OptionsResult result;
    switch (programOptions.parse(arguments)) {
    case ProgramOptions::Request::Error:
        result.error = programOptions.error();
        return result;
    case ProgramOptions::Request::Help:
        result.helpRequested = true;
        result.helpText = programOptions.helpText();
        return result;
    case ProgramOptions::Request::Version:
        result.versionRequested = true;
        return result;
    case ProgramOptions::Request::Run:
        break;
    }

    // An option given twice is refused rather than one of its values dropped in silence: a
    // bus of several devices is one --address list.
    const QStringList given = parser.optionNames();
    for (const QString& name : given) {
        if (given.count(name) > 1) {
            result.error =
                QStringLiteral("--%1 is given more than once; give it once%2.")
                    .arg(name, name == u"address" ? QStringLiteral(" (a list such as 1,5,17 plays "
                                                                   "several devices)")
                                                  : QString());
            return result;
        }
    }

    SimOptions options;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        result.error = positional.isEmpty()
                           ? QStringLiteral("Say serial or udp.")
                           : QStringLiteral("Only one mode, serial or udp, may be given.");
        return result;
    }
    if (positional.first() == u"serial") {
        options.link = LinkKind::Serial;
    } else if (positional.first() == u"udp") {
        options.link = LinkKind::Udp;
    } else {
        result.error =
            QStringLiteral("Unknown mode %1: say serial or udp.").arg(positional.first());
        return result;
    }

    if (parser.isSet(link)) {
        if (options.link != LinkKind::Serial) {
            result.error = QStringLiteral("--link belongs to serial mode.");
            return result;
        }
        options.linkName = parser.value(link);
        if (!isPlainLinkName(options.linkName)) {
            result.error =
                QStringLiteral("--link takes a plain name such as COM1, without a path.");
            return result;
        }
    }
    if (parser.isSet(port)) {
        if (options.link != LinkKind::Udp) {
            result.error = QStringLiteral("--port belongs to udp mode.");
            return result;
        }
        int number = 0;
        if (!programOptions.readNumber(port, 0, 65535, number, QStringLiteral("a port"))) {
            result.error = programOptions.error();
            return result;
        }
        if (number == kToolUdpPort) {
            result.error = QStringLiteral("--port 5000 is the tool's own port; choose another, "
                                          "for example 6000.");
            return result;
        }
        options.udpPort = quint16(number);
    }
    if (parser.isSet(answer)) {
        const auto mode = answerModeFromName(parser.value(answer));
        if (!mode) {
            result.error = QStringLiteral("--answer takes ack, nak, reply or silent.");
            return result;
        }
        options.answer = *mode;
    }
    if (parser.isSet(payload)) {
        const QString text = parser.value(payload);
        if (text.size() > kMaxPayloadBytes) {
            result.error =
                QStringLiteral("--payload takes at most %1 characters.").arg(kMaxPayloadBytes);
            return result;
        }
        for (const QChar character : text) {
            if (character.unicode() > 0xFF) {
                result.error = QStringLiteral("--payload takes single-byte (Latin-1) characters.");
                return result;
            }
        }
        options.payload = text.toLatin1();
    }
    if (!programOptions.readNumber(split, 1, kMaxSplitBytes, options.splitBytes,
                                   QStringLiteral("a number of bytes")) ||
        !programOptions.readNumber(delay, 0, kMaxDelayMs, options.delayMs) ||
        !programOptions.readNumber(gap, 0, kMaxGapMs, options.gapMs)) {
        result.error = programOptions.error();
        return result;
    }

    if (parser.isSet(address)) {
        options.addresses.clear();
        for (const QString& item : parser.value(address).split(u',')) {
            const auto value = boundedNumber(item, 0, kMaxAddress);
            if (!value || options.addresses.contains(*value)) {
                result.error = QStringLiteral("--address takes addresses from 0 to %1, each once, "
                                              "separated by commas.")
                                   .arg(kMaxAddress);
                return result;
            }
            options.addresses.append(*value);
        }
    }

    result.error = readReadingOptions(parser, options.reading);
    if (!result.error.isEmpty())
        return result;

    result.options = options;
    return result;
}

} // namespace vmx::sim
