#pragma once

#include "cli/exchange_record.h"

#include <QByteArrayView>
#include <QString>

namespace vmx::trend {

// One record of velmarixon-send (--output jsonl or csv) as the trend needs it.
struct TrendRecord {
    qint64 timeMs = 0;     // since the epoch, UTC
    int offsetSeconds = 0; // the offset from UTC the record was written in
    // As read (UTF-8): a series is found by comparing them, text is made once per series.
    QByteArray port; // the endpoint: serial device or HOST:PORT
    QByteArray address;
    QByteArray command;
    Outcome outcome = Outcome::NoAnswer;
    QString payload;      // as shown
    bool isPoint = false; // a reply whose payload reads as a decimal number
    double value = 0;     // finite when isPoint
};

enum class LineKind {
    Record,  // a record
    Ignored, // an empty line or CSV's header
    Skipped, // not a record: counted
};

// Reads one line (without its line end; a CR before it is allowed) of either format: a line
// starting with '{' as JSON, anything else as CSV. Fields beyond the known ones are ignored.
LineKind parseRecordLine(QByteArrayView line, TrendRecord& record);

// "2026-12-07T16:24:04.348+01:00" (milliseconds optional, "Z" for UTC) into milliseconds since
// the epoch and the offset; false for anything else.
bool parseRecordTime(QByteArrayView text, qint64& timeMs, int& offsetSeconds);

} // namespace vmx::trend
