#pragma once

#include "device_sim/frame_parser.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringView>

#include <optional>

namespace vmx::sim {

// How the device answers a frame whose check is good.
enum class AnswerMode {
    Ack,   // the single byte ACK
    Nak,   // the single byte NAK
    Reply, // a full reply carrying the payload
    Silent // nothing at all
};

// "ack", "nak", "reply", "silent"; nullopt for any other name.
std::optional<AnswerMode> answerModeFromName(QStringView name);
QStringView answerModeName(AnswerMode mode);

// A full reply in the envelope of a command frame: start byte, the two address characters, the
// command as received, the payload, two check characters over everything before them, ETX.
QByteArray buildReply(QByteArrayView address, QByteArrayView command, QByteArrayView payload);

// What the device sends back for one frame; empty when it stays silent. A frame that is too
// short or fails its check is refused with NAK, unless the device is silent.
QByteArray answerFor(const ParsedFrame& frame, AnswerMode mode, QByteArrayView payload);

// The answer in pieces of pieceSize bytes, the last one possibly shorter; one piece when
// pieceSize is 0 or not smaller than the answer. An empty answer gives no pieces.
QList<QByteArray> splitIntoPieces(const QByteArray& answer, int pieceSize);

} // namespace vmx::sim
