#pragma once

#include "device_sim/answer_builder.h"
#include "device_sim/frame_parser.h"
#include "device_sim/reading_source.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>

namespace vmx::sim {

// Where an answer goes: the serial line (no host), or the sender of a datagram.
struct Destination {
    QHostAddress host;
    quint16 port = 0;

    bool isDatagramSender() const { return !host.isNull(); }
    QString describe() const;
};

struct AnswerSettings {
    AnswerMode mode = AnswerMode::Reply;
    QByteArray payload = QByteArrayLiteral("12.5");
    int splitBytes = 0;
    int delayMs = 0;
    int gapMs = 20;
    // The two address characters of the frames this device answers, as a device on a shared
    // line does: it stays silent for every other address. Several play devices sharing the
    // line. Empty: it answers every address.
    QList<QByteArray> addresses;
    // When it changes, each reply carries its next reading instead of `payload`.
    ReadingPlan reading;
};

// The device's behaviour, apart from the line it sits on: it finds frames in what it receives,
// answers each one after the delay, piece by piece, and reports every frame and answer as one
// log line. Answers go out one after another in the order of their frames.
class Device : public QObject {
    Q_OBJECT
public:
    // Puts one piece of an answer on the line; false when it could not be written.
    using Writer = std::function<bool(QByteArrayView piece, const Destination& to)>;

    // Answers beyond this many waiting ones are dropped, so a flood of frames cannot make the
    // device hold ever more.
    static constexpr std::size_t kMaxWaitingAnswers = 64;

    Device(const AnswerSettings& settings, Writer writer, QObject* parent = nullptr);

    // The next bytes of the serial line; frames may be spread over any number of calls.
    void receiveStream(QByteArrayView bytes);
    // One datagram: the frames in it, answered to its sender. Nothing carries over to the next.
    void receiveDatagram(QByteArrayView bytes, const Destination& from);

    std::size_t waitingAnswers() const { return waiting_.size(); }

signals:
    void logLine(const QString& line);

private:
    struct WaitingAnswer {
        QList<QByteArray> pieces;
        qsizetype nextPiece = 0;
        QByteArray whole;
        QByteArray payload;
        Destination to;
        QDeadlineTimer due;
    };

    // `skipped` counts every byte of the delivery that is in no frame.
    void handle(const QList<ParsedFrame>& frames, qint64 skipped, const Destination& from);
    void pump();

    AnswerSettings settings_;
    ReadingSource reading_;
    Writer writer_;
    FrameParser streamParser_;
    std::deque<WaitingAnswer> waiting_;
    QTimer timer_;
};

} // namespace vmx::sim
