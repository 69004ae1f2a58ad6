#include "exchange/exchange.h"

#include "links/link_kinds.h"

namespace vmx {

namespace {

QString frameErrorText(FrameError error) {
    switch (error) {
    case FrameError::None:
        break;
    case FrameError::AddressNotANumber:
        return QStringLiteral("the address is not a number");
    case FrameError::AddressOutOfRange:
        return QStringLiteral("the address is out of range");
    case FrameError::EmptyCommand:
        return QStringLiteral("the command is empty");
    case FrameError::CharacterNotSingleByte:
        return QStringLiteral("the command has a character beyond Latin-1");
    }
    return QString();
}

} // namespace

Exchange::Exchange(HostResolver resolveHost, std::chrono::milliseconds replyTimeout,
                   QObject* parent)
    : QObject(parent), watchdog_(replyTimeout) {
    watchdog_.setParent(this);
    for (const LinkKindRow& row : linkKinds()) {
        const LinkKind kind = row.kind;
        links_[std::size_t(kind)] = row.make(resolveHost);
        link(kind).setParent(this);
        link(kind).setObjectName(QLatin1String(row.objectName));
        connect(&link(kind), &Link::prepared, this,
                [this, kind](bool ready) { linkPrepared(kind, ready); });
        connect(&link(kind), &Link::bytesArrived, this,
                [this, kind](const QByteArray& bytes) { receive(kind, bytes); });
        connect(&link(kind), &Link::lost, this, [this, kind] { linkWentAway(kind); });
    }
    connect(&watchdog_, &ReplyWatchdog::expired, this, [this] {
        if (!stopped_)
            emit noAnswer();
    });
}

Exchange::~Exchange() = default;

bool Exchange::send(const ExchangeRequest& request) {
    if (const auto* udp = std::get_if<UdpTarget>(&request.target)) {
        state_.ipAddress = udp->ipAddress;
        state_.ipPort = udp->ipPort;
    }
    waiting_ = request;
    sentNow_ = false;
    link(request.link()).prepare(request.target);
    // A link that needed no waiting has reported already, and SEND has run to its end.
    return waiting_ ? true : sentNow_;
}

void Exchange::linkPrepared(LinkKind kind, bool ready) {
    // A link left for another kind by a later SEND may still report: that SEND is not its.
    if (!waiting_ || waiting_->link() != kind || stopped_)
        return;
    const ExchangeRequest request = std::move(*waiting_);
    waiting_.reset();
    Link& chosen = link(kind);
    sentNow_ = ready ? sendPrepared(request) : fail(chosen, chosen.failureDetail());
}

bool Exchange::sendPrepared(const ExchangeRequest& request) {
    Link& chosen = link(request.link());
    // The frame is a function of the two texts alone: the same texts again give the same frame,
    // its echo and its bytes, and commandLength as it is.
    const bool sameTexts = frameBuilt_ && request.addressText == state_.addressText &&
                           request.commandText == state_.commandText;
    state_.commandText = request.commandText;
    state_.addressText = request.addressText;
    if (!sameTexts) {
        frameBuilt_ = false;
        const FrameError error = buildCommandFrame(state_.addressText, state_.commandText,
                                                   state_.frame, state_.commandLength);
        if (error != FrameError::None)
            return fail(chosen, frameErrorText(error));
        echo_ = echoText(state_.frame);
        frameBytes_ = sendingOrder(state_.frame);
        frameBuilt_ = true;
    }

    emit echoed(echo_);
    if (!state_.reply.rxBuffer().isEmpty())
        emit leftoverDropped(state_.reply.rxBuffer());
    state_.reply.clear();

    if (!chosen.write(frameBytes_))
        return fail(chosen, chosen.failureDetail());
    emit frameSent(frameBytes_);

    sentOn_ = request.link();
    watchdog_.arm();
    return true;
}

void Exchange::linkWentAway(LinkKind kind) {
    emit linkLost(kind);
    if (!lostLinkFails_ || stopped_ || !watchdog_.isRunning() || sentOn_ != kind)
        return;
    watchdog_.disarm();
    fail(link(kind), link(kind).failureDetail());
}

bool Exchange::fail(Link& chosen, const QString& detail) {
    emit failed(chosen.failureMessage(), detail);
    return false;
}

void Exchange::stop() {
    stopped_ = true;
    waiting_.reset();
    watchdog_.disarm();
}

void Exchange::receive(LinkKind from, const QByteArray& bytes) {
    if (bytes.isEmpty() || stopped_)
        return;
    emit received(from, bytes);
    const auto line = state_.reply.receive(bytes, state_.commandLength);
    if (!line)
        return;
    if (ownAnswersOnly_ && (!watchdog_.isRunning() ||
                            !mayAnswer(state_.reply.answer(),
                                       frameBuilt_ ? frameBytes_ : sendingOrder(state_.frame)))) {
        emit lateAnswer(state_.reply.answer());
        return;
    }
    watchdog_.disarm();
    const char last = state_.reply.lastChar();
    emit answered(last == kAck ? Answer::Ack : last == kNak ? Answer::Nak : Answer::Reply, *line);
}

} // namespace vmx
