#pragma once

#include "cli/exchange_record.h"
#include "cli/line_output.h"

#include <QString>

namespace vmx {

// Where a run's records go, in the format --output chose. Text is what the window shows:
// answers on standard output, failures (the watchdog's and the link's messages, dropped late
// bytes) on standard error, each line after the time with --timestamps. CSV and JSON lines put
// every record on standard output, failures included, so one stream holds the whole run.
class RecordSink {
public:
    RecordSink(RecordFormat format, bool timestamps, LineOutput& out, LineOutput& err)
        : format_(format), timestamps_(timestamps), out_(out), err_(err) {}

    // The header line, if the format has one. False when standard output failed.
    bool begin();
    // One record. False when standard output failed.
    bool write(const ExchangeRecord& record);
    // A scan's finding: the address and how it answered, one line; in CSV and JSON the record.
    bool writeFound(const ExchangeRecord& record);
    // A text line that belongs to text output only (the frame's echo).
    bool writeTextLine(const QString& text);
    // A line on standard error, after the time with --timestamps.
    void writeError(const QString& text);
    // Where a long run stands, on standard error when that is a terminal: one line that each
    // call overwrites; an empty text clears it.
    void showProgress(const QString& text);

    RecordFormat format() const { return format_; }

private:
    QString stamped(const QString& text) const;
    // A record in CSV or JSON lines.
    bool writeStructured(const ExchangeRecord& record);
    bool writeOut(const QString& text);
    bool writeOut(QByteArray line);

    RecordFormat format_;
    bool timestamps_;
    LineOutput& out_;
    LineOutput& err_;
    bool progressShown_ = false;
};

} // namespace vmx
