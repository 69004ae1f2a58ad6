#include "device_sim/answer_builder.h"

#include "protocol/reply_assembler.h"

namespace vmx::sim {

std::optional<AnswerMode> answerModeFromName(QStringView name) {
    if (name == u"ack")
        return AnswerMode::Ack;
    if (name == u"nak")
        return AnswerMode::Nak;
    if (name == u"reply")
        return AnswerMode::Reply;
    if (name == u"silent")
        return AnswerMode::Silent;
    return std::nullopt;
}

QStringView answerModeName(AnswerMode mode) {
    switch (mode) {
    case AnswerMode::Ack:
        return u"ack";
    case AnswerMode::Nak:
        return u"nak";
    case AnswerMode::Reply:
        return u"reply";
    case AnswerMode::Silent:
        return u"silent";
    }
    return u"reply";
}

QByteArray buildReply(QByteArrayView address, QByteArrayView command, QByteArrayView payload) {
    QByteArray reply;
    reply.reserve(1 + address.size() + command.size() + payload.size() + 3);
    reply.append(char(kStartByte));
    reply.append(address);
    reply.append(command);
    reply.append(payload);
    reply.append(checkCharacters(reply));
    reply.append(kEtx);
    return reply;
}

QByteArray answerFor(const ParsedFrame& frame, AnswerMode mode, QByteArrayView payload) {
    if (mode == AnswerMode::Silent)
        return {};
    if (frame.status != FrameStatus::Ok)
        return QByteArray(1, kNak);
    switch (mode) {
    case AnswerMode::Ack:
        return QByteArray(1, kAck);
    case AnswerMode::Nak:
        return QByteArray(1, kNak);
    case AnswerMode::Reply:
        return buildReply(frame.address, frame.command, payload);
    case AnswerMode::Silent:
        break;
    }
    return {};
}

QList<QByteArray> splitIntoPieces(const QByteArray& answer, int pieceSize) {
    QList<QByteArray> pieces;
    if (answer.isEmpty())
        return pieces;
    if (pieceSize <= 0 || pieceSize >= answer.size()) {
        pieces.append(answer);
        return pieces;
    }
    for (qsizetype at = 0; at < answer.size(); at += pieceSize)
        pieces.append(answer.mid(at, pieceSize));
    return pieces;
}

} // namespace vmx::sim
