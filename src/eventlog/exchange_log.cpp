#include "eventlog/exchange_log.h"

#include "eventlog/event_log.h"
#include "exchange/exchange.h"
#include "links/link_kinds.h"
#include "protocol/display_text.h"
#include "supervision/reply_watchdog.h"

namespace vmx {

void logExchange(const Exchange& exchange, EventLog& log) {
    QObject::connect(&exchange, &Exchange::frameSent, &exchange, [&log](const QByteArray& frame) {
        log.bytesEvent(QStringLiteral("sent"), frame);
    });
    QObject::connect(&exchange, &Exchange::received, &exchange,
                     [&log](LinkKind, const QByteArray& bytes) {
                         log.bytesEvent(QStringLiteral("received"), bytes);
                     });
    QObject::connect(&exchange, &Exchange::answered, &exchange,
                     [&log](Answer answer, const QByteArray& line) {
                         switch (answer) {
                         case Answer::Ack:
                             log.event(QStringLiteral("ack"));
                             break;
                         case Answer::Nak:
                             log.event(QStringLiteral("nak"));
                             break;
                         case Answer::Reply:
                             log.event(QStringLiteral("reply"), singleLineText(line));
                             break;
                         }
                     });
    QObject::connect(&exchange, &Exchange::lateAnswer, &exchange, [&log](const QByteArray& answer) {
        log.bytesEvent(QStringLiteral("late"), answer);
    });
    QObject::connect(
        &exchange, &Exchange::leftoverDropped, &exchange,
        [&log](const QByteArray& bytes) { log.bytesEvent(QStringLiteral("dropped"), bytes); });
    QObject::connect(&exchange, &Exchange::failed, &exchange,
                     [&log](const QString& message, const QString& detail) {
                         log.event(QStringLiteral("link-error"),
                                   detail.isEmpty() ? message
                                                    : message + QStringLiteral(": ") + detail);
                     });
    QObject::connect(&exchange, &Exchange::noAnswer, &exchange, [&log] {
        log.event(QStringLiteral("no-answer"), kNoAnswerMessage.trimmed());
    });
    QObject::connect(&exchange, &Exchange::linkLost, &exchange, [&log](LinkKind link) {
        log.event(QStringLiteral("link-gone"), QLatin1String(linkKind(link).name));
    });
}

QString logPathArgument(const QStringList& arguments) {
    const qsizetype at = arguments.indexOf(QStringLiteral("--log"));
    return at > 0 && at + 1 < arguments.size() ? arguments[at + 1] : QString();
}

} // namespace vmx
