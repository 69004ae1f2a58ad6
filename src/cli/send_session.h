#pragma once

#include "cli/exchange_record.h"
#include "cli/send_options.h"
#include "exchange/exchange.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

namespace vmx {

class RecordSink;

// The exchanges of one velmarixon-send run, on the event loop: --count of them, or one per
// address of a scan. Each one is the window's SEND and its answer; every exchange ends in one
// record (reply, ack, nak, no-answer or link-error) and the run goes on after a failure, so a
// device that goes away and comes back is polled again. Only an exchange's own answer ends it:
// any other answer, and bytes left over from an earlier exchange, are recorded as late, with the
// address they came from. After an exchange with no answer the next one waits for the line to
// be quiet for the guard time, so that a late ACK or NAK (they name no address) is seen as late.
class SendSession : public QObject {
    Q_OBJECT
public:
    SendSession(const SendPlan& plan, RecordSink& sink, QObject* parent = nullptr);

    // Starts the first exchange; `finished` follows once all are done.
    void start();
    // Ends the run now because of this signal (0: no signal): an exchange still waiting does
    // not count, and a run with no exchange completed ends with 128 + the signal's number.
    void stop(int signalNumber = 0);

    int status() const { return status_; }
    int exchangesDone() const { return done_; }
    // The exchange itself, for what else listens to it (the commissioning log).
    Exchange& exchange() { return exchange_; }

signals:
    void finished(int status);

private:
    void sendNext();
    bool guardHolds();
    QString serialDevice();
    QString followedDevice(const QString& path);
    void dropWaitingBytes();
    void late(const QByteArray& bytes);
    void answered(Answer answer, const QByteArray& line);
    void noAnswer();
    void linkFailed(const QString& message, const QString& detail);
    void exchangeEnded(Outcome outcome, const QByteArray& payload, const QString& error);
    bool writeRecord(Outcome outcome, const QByteArray& payload, const QString& error);
    QString portName() const;
    QString currentAddress() const;
    void outputFailed();
    void finish();

    SendPlan plan_;
    RecordSink& sink_;
    Exchange exchange_;
    QString endpoint_; // how records name a network link's endpoint
    QTimer nextExchange_;
    QElapsedTimer sinceSend_;
    QElapsedTimer runClock_;
    QHash<int, qint64> frameSentAt_; // by address: runClock_'s nanoseconds at its last frame
    QElapsedTimer quiet_;            // since the last bytes arrived or the last wait ended
    QElapsedTimer guarding_;         // since the guard began to hold the next exchange
    bool guardPending_ = false;      // the last exchange got no answer
    QString serialDevice_;           // the serial device of the last exchange
    QString comPath_;                // COMn in the current folder
    QString followedPath_;           // the port's name the last exchange followed
    QString followedLinkText_;       // what it read as a link then
    bool comInFolder_ = false;       // COMn has stood for a file in the current folder in this run
    bool awaiting_ = false;
    bool portOpened_ = false; // the serial port is open since an exchange of this run
    bool finished_ = false;
    bool foundAny_ = false;
    int done_ = 0;
    int status_ = kExitAnswered;
};

} // namespace vmx
