#include "platform/selection_pieces.h"

#include <QAbstractNativeEventFilter>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace vmx {

// Why this takes over every request for a large text instead of only some: Qt answers a text
// target by making the whole text in the encoding asked for on the window's thread and writing
// it to the X server in one request; for STRING and TEXT that is a 16-bit copy and a Latin-1
// copy per request (ten pastes of 18 MB at once held the window 2 s and took it to 427 MB), and
// a request for what it cannot give (COMPOUND_TEXT, MULTIPLE) still makes the copy before
// refusing. So for a large text Qt keeps only TARGETS and TIMESTAMP, which need no text; every
// other request is answered here: the text targets in pieces, anything else refused.

namespace {

// A pasting program that stops asking for pieces (it ended, or hangs) is given up after this
// long.
constexpr qint64 kIdleTransferMs = 10'000;

// The atoms this needs, the text targets last: those answered with the text as it is, UTF-8,
// then those answered in Latin-1, made piece by piece from it. ICCCM: STRING (a predefined
// atom) is Latin-1, and for TEXT the owner chooses the encoding and names it as the type, here
// STRING. COMPOUND_TEXT starts out in Latin-1 and needs no escape sequence for it; Qt does not
// offer it, but a pasting program that asks gets the same bytes as for STRING.
enum Atom { Clipboard, Incr, Targets, Timestamp, Utf8String, PlainText, Text, CompoundText, Count };
constexpr std::array<const char*, Count> kAtomNames{"CLIPBOARD", "INCR",         "TARGETS",
                                                    "TIMESTAMP", "UTF8_STRING",  "text/plain",
                                                    "TEXT",      "COMPOUND_TEXT"};

// One text on its way to a pasting program: the property of its window that carries the
// pieces, and how much of the text went. The text is shared with the other transfers of the
// same selection, never copied.
struct Transfer {
    QClipboard::Mode mode = QClipboard::Clipboard;
    xcb_window_t requestor = XCB_WINDOW_NONE;
    xcb_atom_t property = XCB_ATOM_NONE;
    xcb_atom_t type = XCB_ATOM_NONE;
    bool latin1 = false;
    QByteArray utf8;
    qsizetype sent = 0;  // bytes of utf8
    bool asking = false; // for the next piece
    // This program's own event mask on the requestor's window before the first transfer to it.
    uint32_t priorMask = 0;
    QElapsedTimer lastAsked;
};

// The character of `utf8` at `at` as Latin-1 allows it in STRING and COMPOUND_TEXT: printable,
// tab or newline; anything else is a question mark. Moves `at` past it.
char toLatin1(const QByteArray& utf8, qsizetype& at) {
    const auto lead = uchar(utf8[at++]);
    if (lead >= 0xC0) {
        const auto next = uchar(utf8.constData()[at]); // at worst the terminating zero
        while (at < utf8.size() && (uchar(utf8[at]) & 0xC0) == 0x80)
            ++at;
        const uint code = lead < 0xC4 ? uint((lead & 0x1F) << 6) | (next & 0x3F) : 0x100;
        return code >= 0xA0 && code <= 0xFF ? char(code) : '?';
    }
    return lead == '\t' || lead == '\n' || (lead >= 0x20 && lead < 0x7F) ? char(lead) : '?';
}

class PieceServer : public QObject, public QAbstractNativeEventFilter {
public:
    PieceServer(xcb_connection_t* connection, QObject* parent)
        : QObject(parent), connection_(connection) {
        // The transfers of a selection that changed end: they would keep the old text alive.
        connect(QGuiApplication::clipboard(), &QClipboard::changed, this,
                [this](QClipboard::Mode mode) {
                    texts_[mode == QClipboard::Selection] = {};
                    for (auto it = transfers_.begin(); it != transfers_.end();)
                        it = it->mode == mode ? finish(it) : it + 1;
                });
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        switch (event->response_type & 0x7f) {
        case XCB_SELECTION_REQUEST:
            return start(*reinterpret_cast<const xcb_selection_request_event_t*>(event));
        case XCB_PROPERTY_NOTIFY:
            return carryOn(*reinterpret_cast<const xcb_property_notify_event_t*>(event));
        default:
            return false;
        }
    }

private:
    // The atoms, interned together at the first request that may need them.
    xcb_atom_t atom(Atom which) {
        if (!interned_) {
            std::array<xcb_intern_atom_cookie_t, Count> cookies{};
            for (size_t i = 0; i < kAtomNames.size(); ++i)
                cookies[i] = xcb_intern_atom(connection_, 0, uint16_t(std::strlen(kAtomNames[i])),
                                             kAtomNames[i]);
            for (size_t i = 0; i < kAtomNames.size(); ++i) {
                xcb_intern_atom_reply_t* reply =
                    xcb_intern_atom_reply(connection_, cookies[i], nullptr);
                atoms_[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
                std::free(reply);
            }
            interned_ = true;
        }
        return atoms_[which];
    }

    // The UTF-8 text of the selection `mode` as it is now, made once for all its requests
    // (a QMimeData of a QString makes a new copy each time it is asked).
    QByteArray textOf(QClipboard::Mode mode, const QMimeData* data) {
        Cached& text = texts_[mode == QClipboard::Selection];
        if (text.source != data) {
            text.source = data;
            text.utf8 = data->data(QStringLiteral("text/plain"));
        }
        return text.utf8;
    }

    // A request for a selection this program owns whose text is more than kLargeSelectionBytes.
    bool start(const xcb_selection_request_event_t& request) {
        dropIdle();
        QClipboard::Mode mode;
        if (request.selection == XCB_ATOM_PRIMARY)
            mode = QClipboard::Selection;
        else if (request.selection == atom(Clipboard))
            mode = QClipboard::Clipboard;
        else
            return false;
        if (request.target == atom(Targets) || request.target == atom(Timestamp))
            return false;
        QClipboard* clipboard = QGuiApplication::clipboard();
        const bool owned =
            mode == QClipboard::Selection ? clipboard->ownsSelection() : clipboard->ownsClipboard();
        const QMimeData* data = owned ? clipboard->mimeData(mode) : nullptr;
        if (!data || !data->hasText())
            return false;
        QByteArray text = textOf(mode, data);
        if (text.size() <= kLargeSelectionBytes)
            return false;

        // A window of this program's own: no pasting program's, and changing the mask of its
        // events would end what Qt hears of it. Not even a refusal goes to it.
        const xcb_setup_t* setup = xcb_get_setup(connection_);
        if ((request.requestor & ~setup->resource_id_mask) == setup->resource_id_base)
            return true;
        const auto found = std::find(atoms_.begin() + Utf8String, atoms_.end(), request.target);
        const bool latin1 = request.target == XCB_ATOM_STRING ||
                            (found != atoms_.end() && found >= atoms_.begin() + Text);
        // A requestor that names no property is an old one: the target is the property.
        const xcb_atom_t property =
            request.property != XCB_ATOM_NONE ? request.property : request.target;
        const bool running = std::any_of(transfers_.begin(), transfers_.end(), [&](auto& t) {
            return t.requestor == request.requestor && t.property == property;
        });
        uint32_t priorMask = 0;
        if ((found == atoms_.end() && !latin1) || running ||
            transfers_.size() >= size_t(kMaxSelectionTransfers) ||
            !listenTo(request.requestor, &priorMask))
            return answer(request, XCB_ATOM_NONE);

        Transfer transfer;
        transfer.mode = mode;
        transfer.requestor = request.requestor;
        transfer.property = property;
        transfer.latin1 = latin1;
        transfer.type = latin1 && request.target != atom(CompoundText) ? xcb_atom_t(XCB_ATOM_STRING)
                                                                       : request.target;
        transfer.utf8 = std::move(text);
        transfer.priorMask = priorMask;
        transfer.lastAsked.start();
        // The size is a lower bound, as ICCCM asks: Latin-1 takes at least one byte for every
        // four of UTF-8.
        const auto size = uint32_t(transfer.utf8.size() / (transfer.latin1 ? 4 : 1));
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, transfer.requestor, property,
                            atom(Incr), 32, 1, &size);
        transfers_.push_back(std::move(transfer));
        return answer(request, property);
    }

    // Tells the requestor where its answer is (XCB_ATOM_NONE: refused).
    bool answer(const xcb_selection_request_event_t& request, xcb_atom_t property) {
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = property;
        xcb_send_event(connection_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
        xcb_flush(connection_);
        return true;
    }

    // The requestor deleted the property: it has read what was there and wants the next piece.
    bool carryOn(const xcb_property_notify_event_t& change) {
        const auto found = std::find_if(transfers_.begin(), transfers_.end(), [&](const auto& t) {
            return t.requestor == change.window && t.property == change.atom;
        });
        if (found == transfers_.end())
            return false;
        // (A new value is our own piece arriving.)
        if (change.state == XCB_PROPERTY_DELETE && !std::exchange(found->asking, true) &&
            !std::exchange(serving_, true))
            QMetaObject::invokeMethod(this, &PieceServer::serve, Qt::QueuedConnection);
        return true;
    }

    // The next piece to each requestor that asked for one, once a turn of the event loop: Qt
    // handles X events until none are left, and a piece written at once brings the request for
    // the next before that, so eight pastes at once held timers, sockets and paints for 850 ms.
    // An empty piece tells the requestor that the text is complete.
    void serve() {
        serving_ = false;
        for (auto it = transfers_.begin(); it != transfers_.end();) {
            if (!std::exchange(it->asking, false)) {
                ++it;
                continue;
            }
            const QByteArray& utf8 = it->utf8;
            qsizetype to = std::min<qsizetype>(it->sent + kSelectionPieceBytes, utf8.size());
            // Whole characters in each piece, so each converts by itself.
            while (to < utf8.size() && (uchar(utf8[to]) & 0xC0) == 0x80)
                --to;
            const char* piece = utf8.constData() + it->sent;
            qsizetype length = to - it->sent;
            if (it->latin1) {
                piece_.resize(length);
                length = 0;
                for (qsizetype at = it->sent; at < to;)
                    piece_[length++] = toLatin1(utf8, at);
                piece = piece_.constData();
            }
            quietly(xcb_change_property_checked(connection_, XCB_PROP_MODE_REPLACE, it->requestor,
                                                it->property, it->type, 8, uint32_t(length),
                                                piece));
            it->sent = to;
            it->lastAsked.restart();
            it = length == 0 ? finish(it) : it + 1;
        }
        xcb_flush(connection_);
    }

    // Transfers whose requestor stopped asking.
    void dropIdle() {
        for (auto it = transfers_.begin(); it != transfers_.end();)
            it = it->lastAsked.elapsed() > kIdleTransferMs ? finish(it) : it + 1;
    }

    // Property changes of the requestor's window reach this program while a transfer to it
    // runs: its own mask there, read from the server or from a transfer to the same window, with
    // PropertyChangeMask added, so whatever Qt selected on that window (on the root window, say)
    // stays. False when the window does not exist.
    bool listenTo(xcb_window_t requestor, uint32_t* priorMask) {
        const auto same = std::find_if(transfers_.begin(), transfers_.end(),
                                       [&](auto& t) { return t.requestor == requestor; });
        if (same != transfers_.end()) {
            *priorMask = same->priorMask;
            return true;
        }
        xcb_generic_error_t* error = nullptr;
        xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, requestor), &error);
        std::free(error);
        if (!attributes)
            return false;
        *priorMask = attributes->your_event_mask;
        std::free(attributes);
        if (!(*priorMask & XCB_EVENT_MASK_PROPERTY_CHANGE))
            setMask(requestor, *priorMask | XCB_EVENT_MASK_PROPERTY_CHANGE);
        return true;
    }

    // Ends a transfer; the last to a window puts this program's mask there back as it was.
    std::vector<Transfer>::iterator finish(std::vector<Transfer>::iterator transfer) {
        const xcb_window_t requestor = transfer->requestor;
        const uint32_t priorMask = transfer->priorMask;
        transfer = transfers_.erase(transfer);
        const bool more = std::any_of(transfers_.begin(), transfers_.end(),
                                      [&](auto& t) { return t.requestor == requestor; });
        if (!more && !(priorMask & XCB_EVENT_MASK_PROPERTY_CHANGE))
            setMask(requestor, priorMask);
        return transfer;
    }

    void setMask(xcb_window_t window, uint32_t mask) {
        quietly(
            xcb_change_window_attributes_checked(connection_, window, XCB_CW_EVENT_MASK, &mask));
    }

    // A pasting program may destroy its window at any time: the error that a request to it
    // then earns says nothing to anyone here.
    void quietly(xcb_void_cookie_t request) { xcb_discard_reply(connection_, request.sequence); }

    struct Cached {
        QPointer<const QMimeData> source;
        QByteArray utf8;
    };

    xcb_connection_t* connection_;
    bool interned_ = false;
    std::array<xcb_atom_t, Count> atoms_{};
    std::array<Cached, 2> texts_; // the clipboard's, the primary selection's
    std::vector<Transfer> transfers_;
    QByteArray piece_;
    bool serving_ = false; // a call of serve() is on its way
};

} // namespace

void serveLargeSelectionsInPieces() {
    static QPointer<PieceServer> server;
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (server || !application)
        return;
    auto* x11 = application->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    server = new PieceServer(x11->connection(), application);
    application->installNativeEventFilter(server);
}

} // namespace vmx
