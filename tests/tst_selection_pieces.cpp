// Another program pasting this program's selection over X11: a large text comes by incremental
// transfer in bounded pieces and arrives whole; a small one comes at once, as Qt sends it.
// Runs on an X display (under xvfb-run); elsewhere it is skipped.
#include "platform/selection_pieces.h"

#include <QClipboard>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// What a pasting program received: the text, and how it came.
struct Paste {
    QByteArray text;
    bool incremental = false;
    int pieces = 0;
    int largestPiece = 0;
    bool complete = false;
};

// A pasting program on a connection of its own, reading as the X protocol's conventions say:
// it asks for `selection` as UTF-8, reads the property the owner names, and when that says
// INCR reads and deletes piece after piece until an empty one. The program's own event loop
// runs between its steps, so its windows answer as they would for any other program.
Paste pasteFromOtherProgram(xcb_atom_t selection) {
    Paste paste;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, &mask);
    const xcb_atom_t utf8 = atom(c, "UTF8_STRING");
    const xcb_atom_t incr = atom(c, "INCR");
    const xcb_atom_t property = atom(c, "VMX_TEST_PASTE");
    xcb_convert_selection(c, window, selection, utf8, property, XCB_CURRENT_TIME);
    xcb_flush(c);

    // Reads and deletes the property: its type and bytes.
    const auto take = [&](xcb_atom_t* type) {
        const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
            xcb_get_property_reply(
                c, xcb_get_property(c, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 24),
                nullptr),
            &std::free);
        *type = reply ? reply->type : xcb_atom_t(XCB_ATOM_NONE);
        return reply ? QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                  xcb_get_property_value_length(reply.get()))
                     : QByteArray();
    };
    const QDeadlineTimer deadline(20'000);
    bool notified = false;
    while (!paste.complete && !deadline.hasExpired() && !xcb_connection_has_error(c)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const uint8_t type = event->response_type & 0x7f;
            const auto* change = reinterpret_cast<xcb_property_notify_event_t*>(event);
            xcb_atom_t got = XCB_ATOM_NONE;
            if (type == XCB_SELECTION_NOTIFY && !notified) {
                notified = true;
                const QByteArray value = take(&got);
                paste.incremental = got == incr;
                if (!paste.incremental) {
                    paste.text = value;
                    paste.complete = true;
                }
            } else if (type == XCB_PROPERTY_NOTIFY && paste.incremental &&
                       change->atom == property && change->state == XCB_PROPERTY_NEW_VALUE) {
                const QByteArray piece = take(&got);
                paste.complete = piece.isEmpty();
                paste.text += piece;
                paste.pieces += piece.isEmpty() ? 0 : 1;
                paste.largestPiece = std::max(paste.largestPiece, int(piece.size()));
            }
            std::free(event);
            xcb_flush(c);
        }
    }
    xcb_disconnect(c);
    return paste;
}

// Text of `size` bytes of UTF-8 that shows where each part of it came from.
QString numberedText(int size) {
    QString text;
    for (int line = 0; text.size() < size; ++line)
        text += QStringLiteral("line %1 \u00e4\u00f6\u00fc\n").arg(line);
    return text;
}

} // namespace

class TestSelectionPieces : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X display (run under xvfb-run with QT_QPA_PLATFORM=xcb)");
        vmx::serveLargeSelectionsInPieces();
    }

    void largeTextsComeInPiecesAndWhole_data() {
        QTest::addColumn<bool>("primary");
        QTest::newRow("primary selection") << true;
        QTest::newRow("clipboard") << false;
    }
    void largeTextsComeInPiecesAndWhole() {
        QFETCH(bool, primary);
        const QString text = numberedText(3 * 1024 * 1024);
        QGuiApplication::clipboard()->setText(text, primary ? QClipboard::Selection
                                                            : QClipboard::Clipboard);
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const xcb_atom_t selection = primary ? xcb_atom_t(XCB_ATOM_PRIMARY) : atom(c, "CLIPBOARD");
        xcb_disconnect(c);

        const Paste paste = pasteFromOtherProgram(selection);
        QVERIFY(paste.complete);
        QVERIFY(paste.incremental);
        QVERIFY(paste.pieces >= text.toUtf8().size() / vmx::kSelectionPieceBytes);
        QVERIFY(paste.largestPiece <= vmx::kSelectionPieceBytes);
        QCOMPARE(paste.text, text.toUtf8());
        // Once more: a finished transfer leaves nothing behind that would disturb the next.
        QCOMPARE(pasteFromOtherProgram(selection).text, text.toUtf8());
    }

    void smallTextsComeAtOnce() {
        const QString text = numberedText(10'000);
        QGuiApplication::clipboard()->setText(text, QClipboard::Selection);
        const Paste paste = pasteFromOtherProgram(XCB_ATOM_PRIMARY);
        QVERIFY(paste.complete);
        QVERIFY(!paste.incremental);
        QCOMPARE(paste.text, text.toUtf8());
    }
};

QTEST_MAIN(TestSelectionPieces)
#include "tst_selection_pieces.moc"
