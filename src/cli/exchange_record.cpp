#include "cli/exchange_record.h"

#include "cli/json_text.h"
#include "eventlog/event_log.h"
#include "protocol/display_text.h"
#include "protocol/hex_text.h"
#include "supervision/reply_watchdog.h"

#include <QStringList>

namespace vmx {

namespace {

// RFC 4180: a field with a comma, a quote or a line break is quoted, its quotes doubled.
QString csvField(const QString& text) {
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\r') &&
        !text.contains(u'\n'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString roundTripText(const ExchangeRecord& record) {
    return record.roundTripMs ? QString::number(*record.roundTripMs, 'f', 3) : QString();
}

} // namespace

QString outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Reply:
        return QStringLiteral("reply");
    case Outcome::Ack:
        return QStringLiteral("ack");
    case Outcome::Nak:
        return QStringLiteral("nak");
    case Outcome::NoAnswer:
        return QStringLiteral("no-answer");
    case Outcome::LinkError:
        return QStringLiteral("link-error");
    case Outcome::Late:
        return QStringLiteral("late");
    }
    return {};
}

QString recordTime(const QDateTime& time) {
    return isoTimeWithOffset(time);
}

QDateTime recordClock() {
    static constexpr qint64 kQuarterHourMs = 15 * 60 * 1000;
    static qint64 quarter = -1;
    static int offsetSeconds = 0;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now / kQuarterHourMs != quarter) {
        quarter = now / kQuarterHourMs;
        offsetSeconds = QDateTime::fromMSecsSinceEpoch(now).offsetFromUtc();
    }
    return QDateTime::fromMSecsSinceEpoch(now, Qt::OffsetFromUTC, offsetSeconds);
}

std::optional<QString> recordHeader(RecordFormat format) {
    if (format != RecordFormat::Csv)
        return std::nullopt;
    return QStringLiteral(
        "time,port,address,command,outcome,payload,payload_hex,round_trip_ms,error");
}

QByteArray jsonRecord(const ExchangeRecord& record) {
    // The members in the order of their names, as QJsonObject keeps them.
    JsonLine line;
    line.add("address", record.address);
    line.add("command", record.command);
    line.add("error", record.error);
    line.add("outcome", outcomeName(record.outcome));
    line.add("payload", singleLineText(record.payload));
    line.add("payload_hex", hexText(record.payload, kHexPacked));
    line.add("port", record.port);
    line.add("round_trip_ms", record.roundTripMs);
    line.add("time", recordTime(record.time));
    return line.take();
}

QString formatRecord(RecordFormat format, const ExchangeRecord& record) {
    switch (format) {
    case RecordFormat::Text:
        switch (record.outcome) {
        case Outcome::Ack:
            return QStringLiteral("ACK");
        case Outcome::Nak:
            return QStringLiteral("NAK");
        case Outcome::Reply:
            return singleLineText(record.payload);
        default:
            return *textFailureLine(record);
        }
    case RecordFormat::Csv:
        return QStringList{csvField(recordTime(record.time)),
                           csvField(record.port),
                           csvField(record.address),
                           csvField(record.command),
                           outcomeName(record.outcome),
                           csvField(singleLineText(record.payload)),
                           hexText(record.payload, kHexPacked),
                           roundTripText(record),
                           csvField(record.error)}
            .join(u',');
    case RecordFormat::Jsonl:
        return QString::fromUtf8(jsonRecord(record));
    }
    return {};
}

std::optional<QString> textFailureLine(const ExchangeRecord& record) {
    switch (record.outcome) {
    case Outcome::NoAnswer:
        return kNoAnswerMessage;
    case Outcome::LinkError:
        return record.error;
    case Outcome::Late:
        if (record.address.isEmpty())
            return QStringLiteral("late: dropped %1 byte(s) left from an earlier exchange: %2")
                .arg(record.payload.size())
                .arg(singleLineText(record.payload));
        if (!record.roundTripMs)
            return QStringLiteral("late: %1 answered a frame from before this run: %2")
                .arg(record.address, singleLineText(record.payload));
        return QStringLiteral("late: %1 answered after %2 ms, not in its exchange: %3")
            .arg(record.address, QString::number(*record.roundTripMs, 'f', 0),
                 singleLineText(record.payload));
    default:
        return std::nullopt;
    }
}

} // namespace vmx
