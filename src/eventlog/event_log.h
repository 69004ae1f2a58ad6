#pragma once

#include "protocol/hex_text.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QFile>
#include <QString>

#include <functional>

namespace vmx {

// `time` in ISO 8601 with milliseconds and its offset from UTC, as every record and log line
// of the programs shows it.
QString isoTimeWithOffset(const QDateTime& time);

// The commissioning record of a run (--log FILE, for the window and velmarixon-send alike):
// every event appended to the file with its time, one line each, written through at once so
// that the record survives the program:
//
//   2026-12-07T16:31:02.114+01:00 sent 07 30 31 52 44 46 45 03
//   2026-12-07T16:31:02.121+01:00 received 07 30 31 52 44 31 32 2E 35 44 46 03
//   2026-12-07T16:31:02.121+01:00 reply 12.5
//
// A log that cannot be opened or written is reported once, through `warn`, with the system's
// reason, and the program goes on without it: the record must never stop or hold up an
// exchange or the window. Each line is in the file whole or not at all.
class EventLog {
public:
    using Warning = std::function<void(const QString&)>;

    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Opens the file for appending (creating it) without waiting: a pipe that nobody reads is
    // refused at once. False, after warning, when it cannot be opened.
    bool open(const QString& path, Warning warn);
    bool isOpen() const;

    // One event: its kind ("sent", "reply", "link-error"...) and its details.
    void event(const QString& kind, const QString& details = QString());
    // An event whose details are bytes, written as hex pairs.
    void bytesEvent(const QString& kind, QByteArrayView bytes);

private:
    // False when the line could not be written whole; nothing of it is left then.
    bool writeLine(const QByteArray& line, QString* reason);
    void fail(const QString& reason);
    void close();

    QString path_;
#ifdef Q_OS_UNIX
    int fd_ = -1;
#else
    QFile file_;
#endif
    Warning warn_;
};

// Bytes as the log writes them: upper-case hex pairs separated by blanks.
inline QString hexPairs(QByteArrayView bytes) {
    return hexText(bytes, kHexPairs);
}

} // namespace vmx
