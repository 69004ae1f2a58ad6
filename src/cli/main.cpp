// velmarixon-send: the window's exchange from a shell, for scripts and production lines.
#include "cli/send_options.h"
#include "cli/send_session.h"
#include "platform/signal_watch.h"
#include "settings/settings_file.h"
#include "velmarixon_version.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

using namespace vmx;

namespace {

const char kProgram[] = "velmarixon-send";

void print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
    // A script or a production line reads each line as it comes.
    std::fflush(stream);
}

int usageError(const QString& reason) {
    print(stderr, QStringLiteral("%1: %2 See %1 --help.").arg(QLatin1String(kProgram), reason));
    return kExitUsage;
}

// The current time in ISO 8601 with milliseconds and the offset from UTC.
QString timestamp() {
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

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
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(kProgram));

    const CommandLine line = parseCommandLine(QCoreApplication::arguments());
    if (line.helpRequested) {
        std::fputs(line.helpText.toUtf8().constData(), stdout);
        return 0;
    }
    if (line.versionRequested) {
        print(stdout,
              QStringLiteral("%1 %2").arg(QLatin1String(kProgram), QLatin1String(kVersion)));
        return 0;
    }
    if (!line.error.isEmpty())
        return usageError(line.error);
    QString reason;
    const std::optional<Settings> settings = startSettings(line.settingsPath, &reason);
    if (!settings)
        return usageError(reason);
    const PlanResult planned = planSend(line, *settings);
    if (!planned.plan)
        return usageError(planned.error);
    const SendPlan& plan = *planned.plan;

    const auto stamped = [&plan](const QString& text) {
        return plan.timestamps ? timestamp() + u' ' + text : text;
    };
    const SessionOutput output{
        [&stamped](const QString& text) { print(stdout, stamped(text)); },
        [&stamped](const QString& text) { print(stderr, stamped(text)); },
    };

    SendSession session(plan, output);
    QObject::connect(&session, &SendSession::finished, &app,
                     [](int status) { QCoreApplication::exit(status); });

    SignalWatch watch;
    if (!watch.isValid())
        print(stderr, QStringLiteral("%1: Ctrl+C cannot be caught; it ends the program at once.")
                          .arg(QLatin1String(kProgram)));
    QObject::connect(&watch, &SignalWatch::arrived, &session, &SendSession::stop);

    QTimer::singleShot(0, &session, &SendSession::start);
    return QCoreApplication::exec();
}
