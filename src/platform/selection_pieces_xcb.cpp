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
#include <vector>

namespace vmx {

namespace {

// A pasting program that stops asking for pieces (it ended, or hangs) is given up after this
// long, and at most this many transfers run at once; beyond that Qt answers as it always does.
constexpr qint64 kIdleTransferMs = 10'000;
constexpr size_t kMaxTransfers = 8;

// One text on its way to a pasting program: the property of its window that carries the
// pieces, and how much of the text went.
struct Transfer {
    xcb_window_t requestor = XCB_WINDOW_NONE;
    xcb_atom_t property = XCB_ATOM_NONE;
    xcb_atom_t type = XCB_ATOM_NONE;
    QByteArray text;
    qsizetype sent = 0;
    QElapsedTimer lastAsked;
};

class PieceServer : public QObject, public QAbstractNativeEventFilter {
public:
    PieceServer(xcb_connection_t* connection, QObject* parent)
        : QObject(parent), connection_(connection) {}

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
    enum Atom { Clipboard, Incr, Utf8String, PlainUtf8, AtomCount };

    // The atoms, interned together at the first request that may need them.
    xcb_atom_t atom(Atom which) {
        if (!interned_) {
            static constexpr std::array<const char*, AtomCount> names{
                "CLIPBOARD", "INCR", "UTF8_STRING", "text/plain;charset=utf-8"};
            std::array<xcb_intern_atom_cookie_t, AtomCount> cookies{};
            for (size_t i = 0; i < names.size(); ++i)
                cookies[i] =
                    xcb_intern_atom(connection_, 0, uint16_t(std::strlen(names[i])), names[i]);
            for (size_t i = 0; i < names.size(); ++i) {
                xcb_intern_atom_reply_t* reply =
                    xcb_intern_atom_reply(connection_, cookies[i], nullptr);
                atoms_[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
                std::free(reply);
            }
            interned_ = true;
        }
        return atoms_[which];
    }

    // A request for the text of a selection this program owns: taken over when it asks for
    // UTF-8 text of more than kLargeSelectionBytes.
    bool start(const xcb_selection_request_event_t& request) {
        dropIdle();
        QClipboard::Mode mode;
        if (request.selection == XCB_ATOM_PRIMARY)
            mode = QClipboard::Selection;
        else if (request.selection == atom(Clipboard))
            mode = QClipboard::Clipboard;
        else
            return false;
        if (request.target != atom(Utf8String) && request.target != atom(PlainUtf8))
            return false;
        QClipboard* clipboard = QGuiApplication::clipboard();
        const bool owned =
            mode == QClipboard::Selection ? clipboard->ownsSelection() : clipboard->ownsClipboard();
        const QMimeData* data = owned ? clipboard->mimeData(mode) : nullptr;
        if (!data || !data->hasText() || transfers_.size() >= kMaxTransfers)
            return false;
        // Text as UTF-8: what the formats asked for carry.
        QByteArray text = data->data(QStringLiteral("text/plain"));
        if (text.size() <= kLargeSelectionBytes)
            return false;

        Transfer transfer;
        transfer.requestor = request.requestor;
        // A requestor that names no property is an old one: the target is the property.
        transfer.property = request.property != XCB_ATOM_NONE ? request.property : request.target;
        transfer.type = request.target;
        transfer.text = std::move(text);
        transfer.lastAsked.start();
        // The requestor asks for each next piece by deleting the property.
        listenTo(transfer.requestor, true);
        const uint32_t size = uint32_t(transfer.text.size());
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, transfer.requestor,
                            transfer.property, atom(Incr), 32, 1, &size);
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = transfer.property;
        xcb_send_event(connection_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
        xcb_flush(connection_);
        transfers_.push_back(std::move(transfer));
        return true;
    }

    // The requestor deleted the property: it has read what was there and wants the next piece;
    // an empty piece tells it the text is complete.
    bool carryOn(const xcb_property_notify_event_t& change) {
        const auto found = std::find_if(transfers_.begin(), transfers_.end(), [&](const auto& t) {
            return t.requestor == change.window && t.property == change.atom;
        });
        if (found == transfers_.end())
            return false;
        if (change.state != XCB_PROPERTY_DELETE)
            return true; // our own piece arriving
        const qsizetype length =
            std::min<qsizetype>(kSelectionPieceBytes, found->text.size() - found->sent);
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, found->requestor, found->property,
                            found->type, 8, uint32_t(length),
                            found->text.constData() + found->sent);
        found->sent += length;
        found->lastAsked.restart();
        if (length == 0) {
            const xcb_window_t requestor = found->requestor;
            transfers_.erase(found);
            listenTo(requestor, false);
        }
        xcb_flush(connection_);
        return true;
    }

    // Transfers whose requestor stopped asking.
    void dropIdle() {
        for (auto it = transfers_.begin(); it != transfers_.end();) {
            if (it->lastAsked.elapsed() <= kIdleTransferMs) {
                ++it;
                continue;
            }
            const xcb_window_t requestor = it->requestor;
            it = transfers_.erase(it);
            listenTo(requestor, false);
        }
    }

    // Property changes of a requestor's window reach this program while a transfer to it runs.
    void listenTo(xcb_window_t requestor, bool listen) {
        if (!listen && std::any_of(transfers_.begin(), transfers_.end(),
                                   [&](const auto& t) { return t.requestor == requestor; }))
            return;
        const uint32_t mask = listen ? XCB_EVENT_MASK_PROPERTY_CHANGE : XCB_EVENT_MASK_NO_EVENT;
        xcb_change_window_attributes(connection_, requestor, XCB_CW_EVENT_MASK, &mask);
    }

    xcb_connection_t* connection_;
    bool interned_ = false;
    std::array<xcb_atom_t, AtomCount> atoms_{};
    std::vector<Transfer> transfers_;
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
