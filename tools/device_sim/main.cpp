#include "device_sim/device.h"
#include "device_sim/pty_line.h"
#include "device_sim/sim_options.h"
#include "device_sim/udp_endpoint.h"

#include "platform/signal_watch.h"
#include "velmarixon_version.h"

#include <QCoreApplication>

#include <cstdio>

using namespace vmx::sim;
using vmx::SignalWatch;

namespace {

void printLine(const QString& line) {
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void printError(const QString& line) {
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmarixon-device-sim"));

    const OptionsResult parsed = parseOptions(QCoreApplication::arguments());
    if (parsed.helpRequested) {
        std::fputs(parsed.helpText.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parsed.versionRequested) {
        printLine(QStringLiteral("velmarixon-device-sim %1").arg(QLatin1String(vmx::kVersion)));
        return 0;
    }
    if (!parsed.options) {
        printError(parsed.error);
        printError(QStringLiteral("Try velmarixon-device-sim --help."));
        return 2;
    }
    const SimOptions& options = *parsed.options;

    SignalWatch watch;
    if (!watch.isValid()) {
        printError(QStringLiteral("Cannot watch for SIGINT and SIGTERM."));
        return 1;
    }
    QObject::connect(&watch, &SignalWatch::arrived, &app, [](vmx::StopSignal) {
        printLine(QStringLiteral("-- ending"));
        QCoreApplication::quit();
    });

    const AnswerSettings answers{options.answer,     options.payload,
                                 options.splitBytes, options.delayMs,
                                 options.gapMs,      addressCharacters(options.addresses),
                                 options.reading};
    PtyLine line;
    UdpEndpoint endpoint;
    Device::Writer writer;
    if (options.link == LinkKind::Serial) {
        writer = [&line](QByteArrayView piece, const Destination&) { return line.write(piece); };
    } else {
        writer = [&endpoint](QByteArrayView piece, const Destination& to) {
            return endpoint.send(piece, to);
        };
    }
    Device device(answers, writer);
    QObject::connect(&device, &Device::logLine, &app, printLine);

    QString error;
    if (options.link == LinkKind::Serial) {
        if (!line.open(options.linkName, &error)) {
            printError(error);
            return 1;
        }
        QObject::connect(&line, &PtyLine::received, &device,
                         [&device](const QByteArray& bytes) { device.receiveStream(bytes); });
        QObject::connect(&line, &PtyLine::failed, &app, [](const QString& reason) {
            printError(reason);
            QCoreApplication::exit(1);
        });
        printLine(QStringLiteral("serial: %1 -> %2, address %3, answer %4; Ctrl+C ends and "
                                 "removes the link")
                      .arg(line.linkPath(), line.slavePath())
                      .arg(addressListText(options.addresses))
                      .arg(answerModeName(options.answer)));
    } else {
        if (!endpoint.open(options.udpPort, &error)) {
            printError(error);
            return 1;
        }
        endpoint.onDatagram([&device](const QByteArray& bytes, const Destination& from) {
            device.receiveDatagram(bytes, from);
        });
        QObject::connect(&endpoint, &UdpEndpoint::ignored, &app, printLine);
        printLine(
            QStringLiteral("udp: listening on 127.0.0.1:%1, address %2, answer %3; Ctrl+C ends")
                .arg(endpoint.localPort())
                .arg(addressListText(options.addresses))
                .arg(answerModeName(options.answer)));
    }

    const int status = QCoreApplication::exec();
    line.close();
    return status;
}
