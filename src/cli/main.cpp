// velmarixon-send: the window's exchange from a shell, for scripts and production lines.
#include "cli/line_output.h"
#include "cli/port_listing.h"
#include "cli/record_sink.h"
#include "cli/send_options.h"
#include "cli/send_session.h"
#include "cli/settings_writing.h"
#include "eventlog/event_log.h"
#include "eventlog/exchange_log.h"
#include "platform/signal_watch.h"
#include "settings/settings_file.h"
#include "velmarixon_version.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <optional>

using namespace vmx;

namespace {

const char kProgram[] = "velmarixon-send";

// The settings the window would start with: the file when there is one, else its defaults.
// nullopt with the reason when a file is there but cannot be used.
std::optional<Settings> startSettings(const QString& explicitPath, QString* reason) {
    const QString path =
        explicitPath.isEmpty() ? QString::fromLatin1(kSettingsFileName) : explicitPath;
    if (explicitPath.isEmpty() && !QFileInfo::exists(path))
        return defaultSettings(0.0f);
    QString why;
    const std::optional<QByteArray> bytes = readSettingsBytes(path, &why);
    if (!bytes) {
        *reason = QStringLiteral("ini file load error: %1.").arg(why);
        return std::nullopt;
    }
    Settings settings;
    if (!decodeSettings(*bytes, settings)) {
        *reason = QStringLiteral("ini file load error: %1 ends before its seventh value.")
                      .arg(QFileInfo(path).absoluteFilePath());
        return std::nullopt;
    }
    return settings;
}

} // namespace

int main(int argc, char* argv[]) {
    // Before anything opens a file: a port must never take the number of a closed stdout.
    LineOutput out(1);
    LineOutput err(2);
    out.guardClosedDescriptor();
    err.guardClosedDescriptor();
    ignoreBrokenPipe();

    // Qt's own event dispatcher instead of GLib's: a poll at speed turns the event loop once or
    // twice per exchange, and GLib's costs more per turn. Nothing here needs GLib's.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(kProgram));

    const auto programError = [&err](const QString& text) {
        err.writeLine(QStringLiteral("%1: %2").arg(QLatin1String(kProgram), text));
    };
    const auto outputStatus = [&out, &programError](int status) {
        if (!out.failed())
            return status;
        programError(QStringLiteral("standard output cannot be written: %1").arg(out.failure()));
        return kExitOutputFailed;
    };
    const auto usageError = [&programError](const QString& reason) {
        programError(QStringLiteral("%1 See %2 --help.").arg(reason, QLatin1String(kProgram)));
        return kExitUsage;
    };

    const CommandLine line = parseCommandLine(QCoreApplication::arguments());
    if (line.helpRequested) {
        out.writeRaw(line.helpText.toUtf8());
        return outputStatus(0);
    }
    if (line.versionRequested) {
        out.writeLine(
            QStringLiteral("%1 %2").arg(QLatin1String(kProgram), QLatin1String(kVersion)));
        return outputStatus(0);
    }
    if (!line.error.isEmpty())
        return usageError(line.error);
    if (line.listPorts) {
        for (const QString& text : portListing())
            out.writeLine(text);
        return outputStatus(0);
    }
    QString reason;
    const std::optional<Settings> settings = startSettings(line.settingsPath, &reason);
    if (!settings)
        return usageError(reason);
    if (!line.writeSettingsPath.isEmpty()) {
        // Through the window's own codec and writer: the file is as EXIT would have saved it.
        const SettingsResult written = settingsToWrite(line, *settings);
        if (!written.settings)
            return usageError(written.error);
        if (!writeSettingsFile(line.writeSettingsPath, *written.settings, &reason)) {
            programError(QStringLiteral("the settings file %1 could not be written: %2")
                             .arg(QFileInfo(line.writeSettingsPath).absoluteFilePath(), reason));
            return kExitNotWritten;
        }
        return 0;
    }
    const PlanResult planned = planSend(line, *settings);
    if (!planned.plan)
        return usageError(planned.error);
    const SendPlan& plan = *planned.plan;

    RecordSink sink(plan.output, plan.timestamps, out, err);
    EventLog log;
    SendSession session(plan, sink);
    if (!plan.logPath.isEmpty() && log.open(plan.logPath, programError))
        logExchange(session.exchange(), log);
    QObject::connect(&session, &SendSession::finished, &app,
                     [](int status) { QCoreApplication::exit(status); });

    SignalWatch watch;
    if (!watch.isValid())
        programError(QStringLiteral("Ctrl+C cannot be caught; it ends the program at once."));
    QObject::connect(&watch, &SignalWatch::arrived, &session,
                     [&session](StopSignal signal) { session.stop(signalNumber(signal)); });

    QTimer::singleShot(0, &session, &SendSession::start);
    const int status = QCoreApplication::exec();
    return outputStatus(status);
}
