#pragma once

#include "links/host_lookup.h"
#include "links/link.h"
#include "links/link_choice.h"
#include "links/link_target.h"
#include "protocol/command_frame.h"
#include "protocol/reply_assembler.h"
#include "supervision/reply_watchdog.h"

#include <QObject>
#include <QString>

#include <array>
#include <chrono>
#include <memory>
#include <optional>

namespace vmx {

// Everything one SEND needs, read from the window's boxes or the command line beforehand.
// Made by exchangeRequest() (exchange/request_choices.h) from the window's controls or the
// command line and the settings file.
struct ExchangeRequest {
    LinkTarget target; // of the chosen kind: port and line settings, IP texts, endpoint
    QString addressText;
    QString commandText;
    LinkKind link() const { return kindOf(target); }
};

// What a completed answer was: its terminator decides, not its text.
enum class Answer { Ack, Nak, Reply };

// What SEND leaves behind for the next SEND and for the reply handling.
struct ExchangeState {
    QString addressText;
    QString commandText;
    float commandLength = 0; // cuts the payload out of a reply
    CommandFrame frame;
    ReplyAssembler reply; // holds rxBuffer
    // The IP texts of the last SEND over a network link, taken before the link was prepared,
    // so that even a SEND that failed there has them.
    QString ipAddress;
    QString ipPort;
};

// One SEND and its answer, over the link the request chooses. It owns the links, the exchange
// state, the reply collection and the watchdog, and reports through its signals only. Bytes
// from any link feed the one collection, whichever link the last SEND used. The links and the
// watchdog are its children in Qt's object tree (the links named as in the table of link
// kinds), as the window's controls are the window's: what the links and the watchdog show of
// themselves is found there, with no accessor of its own.
class Exchange : public QObject {
    Q_OBJECT
public:
    explicit Exchange(HostResolver resolveHost = systemHostLookup,
                      std::chrono::milliseconds replyTimeout = kReplyTimeout,
                      QObject* parent = nullptr);
    ~Exchange() override;

    // Prepare the chosen link, then take the command and the address and build the frame, show
    // its echo, empty rxBuffer, write the frame, arm the watchdog. From the link preparation on,
    // a failure is reported once through `failed` and ends SEND; the steps that already ran stay
    // done (the command and address are taken only once the link is prepared, so a late answer
    // to the SEND before is still cut as that one's).
    //
    // The preparation may take a while (a TCP connection and its negotiation): the rest then
    // follows from the event loop when the link reports, and nothing waits meanwhile. A SEND
    // during that wait takes the place of the waiting one. False when SEND failed before
    // returning; true when the frame went out, or when the link is still being prepared
    // (`frameSent` or `failed` follows).
    bool send(const ExchangeRequest& request);

    // The run is ending: the watchdog stops and no arrival is taken any more.
    void stop();

    // velmarixon-send's rule (the window takes every completed answer): an answer is this
    // SEND's only while its watchdog runs and when it names no other frame (a full reply with
    // another address or command); any other is reported through `lateAnswer`, and the
    // watchdog runs on.
    void setOwnAnswersOnly(bool only) { ownAnswersOnly_ = only; }
    // velmarixon-send's rule (the window waits out its watchdog): the link of a SEND that waits
    // for its answer going away ends that SEND at once through `failed`, the watchdog stopped,
    // since nothing can arrive on it any more.
    void setLostLinkFails(bool fails) { lostLinkFails_ = fails; }

    const ExchangeState& state() const { return state_; }

signals:
    void echoed(const QString& echo);
    // The frame's bytes, once the link has taken them all.
    void frameSent(const QByteArray& frame);
    // Every chunk as it arrived, before it is judged.
    void received(vmx::LinkKind from, const QByteArray& bytes);
    // A completed answer and its line for the message window ("ACK", "NAK" or the payload). The
    // watchdog is already disarmed.
    void answered(vmx::Answer answer, const QByteArray& line);
    // With own answers only: a completed answer that is not the waiting SEND's, as collected.
    void lateAnswer(const QByteArray& answer);
    // Bytes of no completed answer that a new SEND drops from rxBuffer.
    void leftoverDropped(const QByteArray& bytes);
    // SEND failed: the chosen link's message ("COM Port error", "udp connection error") and
    // where and why.
    void failed(const QString& message, const QString& detail);
    // The watchdog expired: no answer completed in time.
    void noAnswer();
    // A link's device went away.
    void linkLost(vmx::LinkKind link);

private:
    Link& link(LinkKind kind) { return *links_[std::size_t(kind)]; }
    // Bytes `from` has received.
    void receive(LinkKind from, const QByteArray& bytes);
    void linkPrepared(LinkKind kind, bool ready);
    void linkWentAway(LinkKind kind);
    bool sendPrepared(const ExchangeRequest& request);
    bool fail(Link& link, const QString& detail);

    std::array<std::unique_ptr<Link>, kLinkKinds> links_; // by LinkKind
    ExchangeState state_;
    // What state_.frame gives, kept while the address and command texts stay the same: a
    // polled reading sends the same frame again and again, and each answer is checked against
    // it. After a failed build state_.frame is as far as it got, and frameBuilt_ is false.
    bool frameBuilt_ = false;
    QString echo_;
    QByteArray frameBytes_;
    std::optional<ExchangeRequest> waiting_; // for its link to be prepared
    bool sentNow_ = false;                   // the outcome of a SEND completed within send()
    ReplyWatchdog watchdog_;
    bool stopped_ = false;
    bool ownAnswersOnly_ = false;
    bool lostLinkFails_ = false;
    LinkKind sentOn_ = LinkKind::Serial; // the link of the last frame written
};

} // namespace vmx
