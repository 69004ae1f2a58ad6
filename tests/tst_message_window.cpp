// The message window under a flood: it keeps the newest lines within its bounds, and what it
// lists is exactly the bytes received in them.
#include "app/message_window.h"
#include "support/loopback_peer.h"
#include "support/window_fixture.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

using vmx::MessageWindow;
using vmx::test::WindowFixture;

namespace {

// Counts the paints of a widget and gathers what they painted.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }
    int count = 0;
    QRegion painted;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++count;
            painted += static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }
};

// A full reply whose payload is `payload` (the SEND that set the link up had no command, so
// none is echoed).
QByteArray replyWith(const QByteArray& payload) {
    return "\x07"
           "02" +
           payload + "xy\x03";
}

// A started window whose UDP link a SEND without a command has set up (the SEND fails on the
// empty command and sends nothing), and a device on 127.0.0.1 whose datagrams reach the
// window's port 5000 as any device's do.
class UdpWindow : public WindowFixture {
public:
    bool start() {
        if (!WindowFixture::start() || !device_.bound)
            return false;
        click("Option9");
        box("Text3")->setText(vmx::test::kLoopbackText);
        box("Text4")->setText(device_.portText());
        box("xxx")->clear();
        click("Command1");
        return vmx::test::udpSocketSetUp(form());
    }

    // Each reply as one datagram; after every 500 the window takes them all before more go, so
    // that none is dropped from a full receive buffer. False when some never arrive.
    bool deliver(const QList<QByteArray>& replies) {
        QSignalSpy taken(&form().exchange(), &vmx::Exchange::received);
        for (qsizetype i = 0; i < replies.size(); ++i) {
            if (!device_.answer(replies[i]))
                return false;
            if ((i + 1) % 500 == 0 || i + 1 == replies.size()) {
                if (!QTest::qWaitFor([&] { return taken.size() == i + 1; }, 5000))
                    return false;
            }
        }
        return true;
    }
    bool deliver(const QByteArray& reply) { return deliver(QList<QByteArray>{reply}); }

private:
    vmx::test::LoopbackPeer device_;
};

} // namespace

class TestMessageWindow : public QObject {
    Q_OBJECT
private slots:
    // Through the window's receive path: the oldest lines go, the newest stay in order.
    void keepsTheNewestLines() {
        UdpWindow fx;
        QVERIFY(fx.start());
        constexpr int kKept = MessageWindow::Limits{}.lines;
        constexpr int kSent = kKept + 77;
        QList<QByteArray> replies;
        for (int i = 0; i < kSent; ++i)
            replies << replyWith("#" + QByteArray::number(i));
        QVERIFY(fx.deliver(replies));
        const QStringList lines = fx.messageText().split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), kKept + 1); // after the last CR LF: nothing
        QCOMPARE(lines.front(), QStringLiteral("#77"));
        QCOMPARE(lines[lines.size() - 2], QStringLiteral("#%1").arg(kSent - 1));
        QCOMPARE(lines.back(), QString());
    }

    // The characters are bounded too: whole lines go from the start, the newest stay exactly as
    // received (control characters included), and a newest line above the bound still stays.
    void keepsTheNewestCharacters() {
        QPlainTextEdit view;
        MessageWindow window(&view, nullptr, {1000, 10'000});
        QString expected;
        QStringList kept;
        for (int i = 0; i < 40; ++i) {
            QByteArray item(900 + i, char('a' + i % 26));
            item[0] = char(i % 32); // a control character, shown as its picture
            window.appendLine(item);
            kept << QString::fromLatin1(item) + QStringLiteral("\r\n");
            if (i % 7 == 0)
                QCoreApplication::processEvents();
        }
        const QString text = window.text();
        // The kept lines are the newest ones, as many as fit: one more would not.
        qsizetype size = 0;
        int fit = 0;
        for (qsizetype i = kept.size() - 1; i >= 0 && size + kept[i].size() - 1 <= 10'000; --i) {
            size += kept[i].size() - 1; // one paragraph separator per line in the document
            ++fit;
        }
        QVERIFY(fit > 1 && fit < 40);
        QCOMPARE(text, kept.mid(kept.size() - fit).join(QString()));

        const QByteArray huge(25'000, 'H');
        window.appendLine(huge);
        QCOMPARE(window.text(), QString::fromLatin1(huge) + QStringLiteral("\r\n"));
    }

    // Lines far longer than the window shows are shown shortened with a marker of what is left
    // out, yet count whole against the bound, and the document stays in step with the lines
    // kept as they are dropped.
    void longLinesCountWholeAndShowTheirStart() {
        QPlainTextEdit view;
        MessageWindow window(&view, nullptr, {1000, 10'000});
        for (int i = 0; i < 10; ++i)
            window.appendLine(QByteArray(1, char('a' + i)) + QByteArray(2999, '.'));
        window.appendLine("short");
        window.flush();
        // 3,000 characters and a line break each: the newest three long lines and "short" fit.
        const QStringList lines = window.text().split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QLatin1Char('h') + QString(2999, QLatin1Char('.')));
        QCOMPARE(lines[3], QStringLiteral("short"));
        const QString marker =
            MessageWindow::omissionMarker(3000 - MessageWindow::kShownCharacters);
        QVERIFY(marker.contains(QStringLiteral("2000")));
        QCOMPARE(view.document()->blockCount(), 5);
        QCOMPARE(view.document()->firstBlock().text(),
                 QLatin1Char('h') + QString(MessageWindow::kShownCharacters - 1, QLatin1Char('.')) +
                     marker);
        QCOMPARE(view.document()->findBlockByNumber(3).text(), QStringLiteral("short"));
    }

    // The characters as shown are bounded on their own: long lines count what they show, the
    // marker included, and the document never holds more (the kept lines are as many of the
    // newest as fit).
    void keepsTheNewestShownCharacters() {
        QPlainTextEdit view;
        constexpr int kShownBound = 5'000;
        MessageWindow window(&view, nullptr, {1000, 1'000'000, kShownBound});
        QList<qsizetype> shownLengths; // with the line break
        for (int i = 0; i < 12; ++i) {
            const int size = 3000 + i;
            window.appendLine(QByteArray(1, char('a' + i)) + QByteArray(size - 1, '.'));
            shownLengths << MessageWindow::kShownCharacters +
                                MessageWindow::omissionMarker(size -
                                                              MessageWindow::kShownCharacters)
                                    .size() +
                                1;
            window.appendLine(QByteArray(40, char('A' + i)));
            shownLengths << 41;
        }
        window.flush();
        const QTextDocument* document = view.document();
        // One paragraph separator per line; the last, empty line has none of its own.
        const int shown = document->characterCount() - 1;
        QVERIFY(shown <= kShownBound);
        const int kept = document->blockCount() - 1;
        QVERIFY(kept > 2 && kept < 24);
        // The next older line would not have fit.
        QVERIFY(shown + shownLengths[shownLengths.size() - kept - 1] > kShownBound);
        const QStringList lines = window.text().split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size() - 1, kept);
        QCOMPARE(lines[lines.size() - 2], QString(40, QLatin1Char('L')));
        QCOMPARE(lines[lines.size() - 3].size(), 3000 + 11); // read back whole
    }

    // Through the window's receive path: a reply of 60,000 characters with control bytes in it
    // is shown shortened, read back whole, and Ctrl+A, Ctrl+C copies every line whole as plain
    // text only. The copy is the window at the time of the copy, however many lines come after.
    void copiesLongLinesWhole() {
        UdpWindow fx;
        QVERIFY(fx.start());
        QByteArray payload(60'000, 'L');
        payload[0] = '\x1b';
        payload[59'999] = char(0xE9);
        QVERIFY(fx.deliver({replyWith("12.5"), replyWith(payload), replyWith("x\r\ny")}));
        vmx::test::messageWindow(fx.form()).flush();
        const QString shownPayload =
            QChar(0x241B) + QString(59'998, QLatin1Char('L')) + QChar(0xE9);
        QCOMPARE(fx.messageText(), QStringLiteral("12.5\r\n") + QString::fromLatin1(payload) +
                                       QStringLiteral("\r\nx\r\ny\r\n"));
        auto* view = fx.control<QPlainTextEdit>("Text2");
        QCOMPARE(view->document()->findBlockByNumber(1).text(),
                 shownPayload.left(MessageWindow::kShownCharacters) +
                     MessageWindow::omissionMarker(60'000 - MessageWindow::kShownCharacters));

        QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        const QString copied = QStringLiteral("12.5\n") + shownPayload + QStringLiteral("\nx\ny\n");
        const QMimeData* clipboard = QGuiApplication::clipboard()->mimeData();
        QVERIFY(clipboard);
        QCOMPARE(clipboard->formats(), QStringList{QStringLiteral("text/plain")});
        QCOMPARE(clipboard->data(QStringLiteral("text/plain")), copied.toUtf8());

        // A selection from inside the first line into the marker of the long one.
        QTextCursor partial(view->document());
        partial.setPosition(2);
        partial.setPosition(view->document()->findBlockByNumber(1).position() +
                                MessageWindow::kShownCharacters + 3,
                            QTextCursor::KeepAnchor);
        view->setTextCursor(partial);
        view->copy();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral(".5\n") + shownPayload);

        // The copy of the whole window stays as it was while a flood pushes its lines out.
        QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QVERIFY(fx.deliver(QList<QByteArray>(MessageWindow::Limits{}.lines + 10, "\x06")));
        QCOMPARE(fx.messageText().count(QStringLiteral("ACK")), MessageWindow::Limits{}.lines);
        QCOMPARE(QGuiApplication::clipboard()->text(), copied);
    }

    // A short answer is inserted and painted at the end of the event loop's turn that brought
    // it; a long line waits a turn more, and for the window's next paint.
    void aShortAnswerIsPaintedWhenItIsInserted() {
        QPlainTextEdit view;
        MessageWindow window(&view);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCoreApplication::processEvents();
        auto* paints = new PaintCounter(view.viewport());

        window.appendLine("12.5");
        QCOMPARE(paints->count, 0);
        // Only the end of the event loop's turn as its dispatcher reports it: nothing else
        // waiting is handled.
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        emit dispatcher->awake();
        QCOMPARE(view.toPlainText(), QStringLiteral("12.5\n"));
        QCOMPARE(paints->count, 1);

        // A long line goes in with the next turn, with whatever that brings, and is painted by
        // the window's own paint.
        window.appendLine(QByteArray(MessageWindow::kShownCharacters + 1, 'x'));
        emit dispatcher->awake();
        QCOMPARE(view.document()->blockCount(), 2);
        window.appendLine("12.6");
        QCoreApplication::sendPostedEvents(&window, QEvent::MetaCall);
        QCOMPARE(view.document()->blockCount(), 4);
        QCOMPARE(paints->count, 1);
        QTRY_COMPARE(paints->count, 2);
    }

    // An answer taken in outside a pass of the event loop that waited (by a slot called
    // directly, or by a pass that did not wait) shows before the loop waits again, when nothing
    // else may come to wake it.
    void anAnswerShowsBeforeTheEventLoopWaits() {
        QPlainTextEdit view;
        MessageWindow window(&view);
        // Nothing else waiting that could wake the loop.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        window.appendLine("12.5");
        QEventLoop loop;
        bool timedOut = false;
        connect(view.document(), &QTextDocument::contentsChanged, &loop, &QEventLoop::quit);
        QTimer::singleShot(5000, &loop, [&] {
            timedOut = true;
            loop.quit();
        });
        loop.exec();
        QVERIFY(!timedOut);
        QCOMPARE(view.toPlainText(), QStringLiteral("12.5\n"));
    }

    // Once the lines fill the view, an answer repaints the vertical bar it changes (and the
    // frame behind it) once, and not the horizontal bar.
    void anAnswerIntoAFullViewPaintsOnlyWhatItChanged() {
        UdpWindow fx;
        QVERIFY(fx.start());
        auto* view = fx.control<QPlainTextEdit>("Text2");
        QVERIFY(QTest::qWaitForWindowExposed(view->window()));
        QList<QByteArray> replies;
        for (int i = 0; i < 100; ++i)
            replies << replyWith("#" + QByteArray::number(i));
        QVERIFY(fx.deliver(replies));
        vmx::test::messageWindow(fx.form()).flush();
        QTRY_VERIFY(view->verticalScrollBar()->maximum() > 0);
        QCoreApplication::processEvents();
        auto* verticalPaints = new PaintCounter(view->verticalScrollBar());
        auto* horizontalPaints = new PaintCounter(view->horizontalScrollBar());
        auto* framePaints = new PaintCounter(view);

        const int maximum = view->verticalScrollBar()->maximum();
        QVERIFY(fx.deliver(replyWith("12.5")));
        QTRY_COMPARE(view->verticalScrollBar()->maximum(), maximum + 1);
        QTRY_COMPARE(verticalPaints->count, 1);
        QTest::qWait(50);
        QCOMPARE(verticalPaints->count, 1);
        QCOMPARE(horizontalPaints->count, 0);
        QVERIFY(framePaints->count <= 1);
    }

    // An answer repaints its own line, and the empty line after it only where a caret can show
    // there: in a text box with the focus, the caret the answer pushed onto that line must show
    // in the same paint.
    void aFocusedWindowShowsTheCaretAfterTheAnswer() {
        UdpWindow fx;
        QVERIFY(fx.start());
        auto* view = fx.control<QPlainTextEdit>("Text2");
        // A steady caret: a blinking one would be repainted by its own timer as well.
        const int flashTime = QApplication::cursorFlashTime();
        const auto restoreFlashTime =
            qScopeGuard([flashTime] { QApplication::setCursorFlashTime(flashTime); });
        QApplication::setCursorFlashTime(0);
        view->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view->window()));
        view->setFocus();
        QTRY_VERIFY(view->hasFocus());
        QVERIFY(fx.deliver(replyWith("12.5")));
        vmx::test::messageWindow(fx.form()).flush();
        QCoreApplication::processEvents();
        QCOMPARE(view->textCursor().position(), view->document()->characterCount() - 1);

        auto* paints = new PaintCounter(view->viewport());
        QVERIFY(fx.deliver(replyWith("13.5")));
        QTRY_VERIFY(paints->count > 0);
        QCOMPARE(view->textCursor().blockNumber(), 2); // the empty line after "13.5"
        QVERIFY2((QRegion(view->cursorRect()) - paints->painted).isEmpty(),
                 "the caret's new line was not painted");
    }

    // While the answers fit the view the vertical bar is not painted again for them (it would
    // look the same); once they do not, it tracks them exactly as a plain text box's bar does,
    // and a click in its groove pages the same way.
    void verticalBarTracksTheLines() {
        UdpWindow fx;
        QVERIFY(fx.start());
        auto* view = fx.control<QPlainTextEdit>("Text2");
        QScrollBar* bar = view->verticalScrollBar();
        QVERIFY(QTest::qWaitForWindowExposed(view->window()));
        QCoreApplication::processEvents();
        view->window()->repaint(); // nothing left to paint from the start
        auto* barPaints = new PaintCounter(bar);
        auto* linePaints = new PaintCounter(view->viewport());

        QVERIFY(fx.deliver(replyWith("12.5")));
        QTRY_VERIFY(linePaints->count > 0);
        QVERIFY(fx.deliver(replyWith("13.5")));
        QTRY_VERIFY(linePaints->count > 1);
        QCoreApplication::processEvents();
        QCOMPARE(barPaints->count, 0);
        QCOMPARE(bar->maximum(), 0);

        QList<QByteArray> replies;
        for (int i = 0; i < 300; ++i)
            replies << replyWith("#" + QByteArray::number(i));
        QVERIFY(fx.deliver(replies));
        vmx::test::messageWindow(fx.form()).flush();
        QTRY_VERIFY(barPaints->count > 0);

        QPlainTextEdit plain;
        plain.setFont(view->font());
        plain.setLineWrapMode(QPlainTextEdit::NoWrap);
        plain.setHorizontalScrollBarPolicy(view->horizontalScrollBarPolicy());
        plain.setVerticalScrollBarPolicy(view->verticalScrollBarPolicy());
        plain.setFixedSize(view->size());
        plain.setPlainText(view->toPlainText());
        plain.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plain));
        QScrollBar* plainBar = plain.verticalScrollBar();
        QTRY_COMPARE(bar->maximum(), plainBar->maximum());
        QVERIFY(bar->maximum() > 200);
        QCOMPARE(bar->pageStep(), plainBar->pageStep());
        QCOMPARE(bar->value(), 0); // UDP answers do not scroll
        for (QScrollBar* paged : {bar, plainBar}) {
            paged->triggerAction(QAbstractSlider::SliderPageStepAdd);
            paged->triggerAction(QAbstractSlider::SliderPageStepAdd);
            paged->triggerAction(QAbstractSlider::SliderPageStepSub);
        }
        QVERIFY(bar->value() > 0);
        QCOMPARE(bar->value(), plainBar->value());
        QCOMPARE(view->cursorForPosition(QPoint(0, 0)).blockNumber(),
                 plain.cursorForPosition(QPoint(0, 0)).blockNumber());
    }
};

QTEST_MAIN(TestMessageWindow)
#include "tst_message_window.moc"
