// Another program pasting this program's selection over X11: a large text comes by incremental
// transfer in bounded pieces and arrives whole, as UTF-8 or Latin-1 as asked; a small one comes
// at once, as Qt sends it. A hostile program that names this program's own window or the root
// window as its requestor, or pastes many times at once, neither changes what this program
// hears of its windows nor makes it copy the text. Runs on an X display (under xvfb-run);
// elsewhere it is skipped.
#include "platform/selection_pieces.h"

#include <QClipboard>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QTest>
#include <QWindow>

#include <sys/resource.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

using namespace Qt::StringLiterals;

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
    xcb_atom_t type = XCB_ATOM_NONE; // of the text, or of its pieces
};

// A pasting program on a connection of its own, reading as the X protocol's conventions say:
// it asks for `selection` as `target`, reads the property the owner names, and when that says
// INCR reads and deletes piece after piece until an empty one. The program's own event loop
// runs between its steps, so its windows answer as they would for any other program. It
// receives on a window of its own or, with `onRoot`, on the root window.
Paste pasteFromOtherProgram(xcb_atom_t selection, const char* target = "UTF8_STRING",
                            bool onRoot = false) {
    Paste paste;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_window_t window = screen->root;
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    if (onRoot) {
        xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
    } else {
        window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK,
                          &mask);
    }
    const xcb_atom_t incr = atom(c, "INCR");
    const xcb_atom_t property = atom(c, "VMX_TEST_PASTE");
    xcb_convert_selection(c, window, selection, atom(c, target), property, XCB_CURRENT_TIME);
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
            const bool newValue = type == XCB_PROPERTY_NOTIFY && change->atom == property &&
                                  change->state == XCB_PROPERTY_NEW_VALUE;
            // A notice sent to the root window reaches no client: there the owner's first
            // writing of the property says the answer is there.
            if ((type == XCB_SELECTION_NOTIFY || (onRoot && newValue)) && !notified) {
                notified = true;
                const QByteArray value = take(&got);
                paste.type = got;
                paste.incremental = got == incr;
                if (!paste.incremental) {
                    paste.text = value;
                    paste.complete = true;
                }
            } else if (newValue && paste.incremental) {
                const QByteArray piece = take(&got);
                paste.type = got;
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

// Text of `size` bytes of UTF-8 that shows where each part of it came from; some of its
// characters are in Latin-1, one is not.
QString numberedText(int size) {
    QString text;
    for (int line = 0; text.size() < size; ++line)
        text += QStringLiteral("line %1 \u00e4\u00f6\u00fc \u2400\n").arg(line);
    return text;
}

// The most memory the calling program has held so far, in KiB.
long peakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// This program's own event mask on `window`, as its own connection selected it.
uint32_t ownMaskOn(xcb_window_t window) {
    auto* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> reply(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr),
        &std::free);
    return reply ? reply->your_event_mask : 0;
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
        QTest::addColumn<QByteArray>("target");
        for (const QByteArray target : {"UTF8_STRING", "STRING", "TEXT", "COMPOUND_TEXT"}) {
            QTest::newRow("primary selection " + target) << true << target;
            QTest::newRow("clipboard " + target) << false << target;
        }
    }
    void largeTextsComeInPiecesAndWhole() {
        QFETCH(bool, primary);
        QFETCH(QByteArray, target);
        // TEXT leaves the encoding to the owner, and names it in the type: here STRING.
        const QByteArray type = target == "TEXT" ? "STRING"_ba : target;
        const QString text = numberedText(3 * 1024 * 1024);
        QGuiApplication::clipboard()->setText(text, primary ? QClipboard::Selection
                                                            : QClipboard::Clipboard);
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const xcb_atom_t selection = primary ? xcb_atom_t(XCB_ATOM_PRIMARY) : atom(c, "CLIPBOARD");
        const xcb_atom_t expectedType = atom(c, type.constData());
        xcb_disconnect(c);
        // Latin-1 has no U+2400: a question mark stands for it.
        const QByteArray expected = type == "UTF8_STRING"
                                        ? text.toUtf8()
                                        : QString(text).replace(QChar(0x2400), u'?').toLatin1();

        const Paste paste = pasteFromOtherProgram(selection, target.constData());
        QVERIFY(paste.complete);
        QVERIFY(paste.incremental);
        QCOMPARE(paste.type, expectedType);
        QVERIFY(paste.pieces >= expected.size() / vmx::kSelectionPieceBytes);
        QVERIFY(paste.largestPiece <= vmx::kSelectionPieceBytes);
        QCOMPARE(paste.text, expected);
        // Once more: a finished transfer leaves nothing behind that would disturb the next.
        QCOMPARE(pasteFromOtherProgram(selection, target.constData()).text, expected);
    }

    // Changing the mask of the program's own window for its events (as a transfer to it once
    // did) ends its keys and exposures; its mask on the root window is Qt's too.
    void requestorsWindowsKeepTheProgramsEventMasks() {
        QGuiApplication::clipboard()->setText(numberedText(1024 * 1024), QClipboard::Selection);
        QWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const xcb_window_t own = xcb_window_t(window.winId());
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        const uint32_t ownMask = ownMaskOn(own);
        const uint32_t rootMask = ownMaskOn(root);
        xcb_convert_selection(c, own, XCB_ATOM_PRIMARY, atom(c, "UTF8_STRING"),
                              atom(c, "VMX_TEST_PASTE"), XCB_CURRENT_TIME);
        // Once the server answers this, the request above went to the program; the program
        // answers requests in turn, so once a later paste is done, so is that one.
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        QVERIFY(pasteFromOtherProgram(XCB_ATOM_PRIMARY, "TARGETS").complete);
        xcb_disconnect(c);
        QCOMPARE(ownMaskOn(own), ownMask);

        const Paste toRoot = pasteFromOtherProgram(XCB_ATOM_PRIMARY, "UTF8_STRING", true);
        QVERIFY(toRoot.complete && toRoot.incremental);
        QCOMPARE(ownMaskOn(root), rootMask);
    }

    // Pastes at once share the one text; each beyond the bound is refused.
    void manyPastesAtOnceShareTheText() {
        const QString text = numberedText(18'000'000);
        QGuiApplication::clipboard()->setText(text, QClipboard::Selection);
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        // Each paste waits for its answer, so the first has the text made before the count.
        int incremental = 0;
        long before = 0;
        for (int i = 0; i < 12; ++i) {
            const QByteArray property = "VMX_TEST_PASTE_" + QByteArray::number(i);
            xcb_convert_selection(c, window, XCB_ATOM_PRIMARY, atom(c, "STRING"),
                                  atom(c, property.constData()), XCB_CURRENT_TIME);
            xcb_flush(c);
            xcb_generic_event_t* event = nullptr;
            QTRY_VERIFY((event = event ? event : xcb_poll_for_event(c)) != nullptr);
            const auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(event);
            QCOMPARE(event->response_type & 0x7f, XCB_SELECTION_NOTIFY);
            incremental += notify->property != XCB_ATOM_NONE ? 1 : 0;
            std::free(event);
            before = i == 0 ? peakKiB() : before;
        }
        const long grown = peakKiB() - before;
        xcb_disconnect(c);
        QVERIFY2(grown * 1024 < text.size() / 2, qPrintable(QString::number(grown) + " KiB"));
        QCOMPARE(incremental, vmx::kMaxSelectionTransfers);
    }

    // Only text is handed over: MULTIPLE, whose pairs a hostile program chooses, is refused.
    void otherTargetsOfLargeTextsAreRefused() {
        QGuiApplication::clipboard()->setText(numberedText(1024 * 1024), QClipboard::Selection);
        const Paste paste = pasteFromOtherProgram(XCB_ATOM_PRIMARY, "MULTIPLE");
        QVERIFY(paste.complete);
        QCOMPARE(paste.type, xcb_atom_t(XCB_ATOM_NONE));
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
