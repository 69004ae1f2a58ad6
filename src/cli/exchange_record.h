#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace vmx {

// How one exchange ended, as the records name it.
enum class Outcome {
    Reply,     // a full reply (ETX), its payload
    Ack,       // an acknowledgement
    Nak,       // a refusal
    NoAnswer,  // the watchdog expired first
    LinkError, // the link could not be prepared or written, or went away
    Late,      // an answer not the exchange's own, or bytes left from an earlier exchange
};

QString outcomeName(Outcome outcome);

// One line of a run's record: every exchange gives one, failures included.
struct ExchangeRecord {
    QDateTime time;
    QString port;    // the serial device opened, or HOST:PORT
    QString address; // late: the address the bytes name, if any
    QString command;
    Outcome outcome = Outcome::NoAnswer;
    QByteArray payload; // the reply's payload, or the late bytes; empty otherwise
    std::optional<double> roundTripMs;
    QString error; // the message a failure shows, with its detail
};

enum class RecordFormat { Text, Csv, Jsonl };

// The header line a format starts with, if it has one (CSV's column names).
std::optional<QString> recordHeader(RecordFormat format);

// The record as one line, without the line end. Text is what the window's message window shows
// (the payload, "ACK" or "NAK") and is meant for standard output; failures and late bytes have
// their own text lines (see textFailureLine). The payload always stays on its one line: control
// characters, CR LF among them, are shown as their control pictures.
QString formatRecord(RecordFormat format, const ExchangeRecord& record);

// The record as one JSON object in UTF-8, without the line end: what JSON lines output writes.
QByteArray jsonRecord(const ExchangeRecord& record);

// Text format only: the line that goes to standard error for a record that is no answer (the
// watchdog's message, the link's message, the dropped late bytes); nullopt for an answer.
std::optional<QString> textFailureLine(const ExchangeRecord& record);

// The time as every record writes it: ISO 8601, milliseconds and the offset from UTC.
QString recordTime(const QDateTime& time);

// The current local time with its offset from UTC, for records. Asking the system's time zone
// rules costs more than a whole exchange over UDP, so the offset is looked up again only once
// every quarter of an hour, the finest step in which zones change their offset.
QDateTime recordClock();

} // namespace vmx
