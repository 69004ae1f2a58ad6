#include "cli/record_sink.h"

#include "protocol/display_text.h"

#include <QDateTime>

namespace vmx {

QString RecordSink::stamped(const QString& text) const {
    return timestamps_ ? recordTime(recordClock()) + u' ' + text : text;
}

void RecordSink::showProgress(const QString& text) {
    if (!err_.isTerminal() || (text.isEmpty() && !progressShown_))
        return;
    // Carriage return, the text, then the rest of the line erased (ANSI "erase to end").
    err_.writeRaw("\r" + text.toUtf8() + "\x1b[K");
    progressShown_ = !text.isEmpty();
}

bool RecordSink::writeOut(const QString& text) {
    return writeOut(text.toUtf8());
}

bool RecordSink::writeOut(QByteArray line) {
    if (progressShown_)
        showProgress(QString());
    // RFC 4180 ends every line with CR LF.
    line += format_ == RecordFormat::Csv ? "\r\n" : "\n";
    return out_.writeRaw(line);
}

bool RecordSink::begin() {
    const auto header = recordHeader(format_);
    return !header || writeOut(*header);
}

bool RecordSink::writeStructured(const ExchangeRecord& record) {
    // A JSON line goes out as the bytes it is made of, without a text in between.
    if (format_ == RecordFormat::Jsonl)
        return writeOut(jsonRecord(record));
    return writeOut(formatRecord(format_, record));
}

bool RecordSink::write(const ExchangeRecord& record) {
    if (format_ != RecordFormat::Text)
        return writeStructured(record);
    if (const auto failure = textFailureLine(record)) {
        writeError(*failure);
        return true;
    }
    return writeOut(stamped(formatRecord(format_, record)));
}

bool RecordSink::writeFound(const ExchangeRecord& record) {
    if (format_ != RecordFormat::Text)
        return writeStructured(record);
    QString line = record.address + u' ' + formatRecord(format_, record);
    if (record.outcome == Outcome::Reply)
        line = record.address + QStringLiteral(" reply ") + singleLineText(record.payload);
    return writeOut(stamped(line));
}

bool RecordSink::writeTextLine(const QString& text) {
    return format_ != RecordFormat::Text || writeOut(stamped(text));
}

void RecordSink::writeError(const QString& text) {
    if (progressShown_)
        showProgress(QString());
    err_.writeLine(stamped(text));
}

} // namespace vmx
