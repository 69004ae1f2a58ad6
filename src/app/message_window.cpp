#include "app/message_window.h"

#include "protocol/display_text.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace vmx {

namespace {

// Gathered lines go into the document once they reach this size even within one event, so a
// long burst never piles up outside the bounds of the window.
constexpr qsizetype kMaxPendingCharacters = 1024 * 1024;

} // namespace

MessageWindow::MessageWindow(QPlainTextEdit* view, QObject* parent, Limits limits)
    : QObject(parent), view_(view), limits_(limits) {
    // The document drops its oldest blocks itself, a few at a time as lines come, and gives
    // the room back. The text ends with a line break, so an empty block follows the last line.
    view_->document()->setMaximumBlockCount(limits_.lines + 1);
    caretPause_.setSingleShot(true);
    caretPause_.setInterval(kCaretMoveIntervalMs);
    connect(&caretPause_, &QTimer::timeout, this, [this] {
        if (caretToEndPending_) {
            moveCaretNow();
            caretPause_.start();
        }
    });
}

void MessageWindow::appendLine(const QByteArray& item) {
    pending_ += displayText(item);
    pending_ += QLatin1Char('\n');
    if (pending_.size() >= kMaxPendingCharacters)
        insertPending();
    scheduleFlush();
}

void MessageWindow::moveCaretToEnd() {
    caretToEndPending_ = true;
    scheduleFlush();
}

void MessageWindow::clear() {
    pending_.clear();
    view_->clear();
}

QString MessageWindow::text() {
    flush();
    // The raw text keeps every received character as it came (the plain-text view would turn a
    // no-break space 0xA0 into a blank); lines are separated by the paragraph separator, which
    // no received byte can produce either.
    QString raw = view_->document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QLatin1String("\r\n"));
    return receivedCharacters(raw);
}

void MessageWindow::scheduleFlush() {
    if (flushScheduled_)
        return;
    flushScheduled_ = true;
    QTimer::singleShot(0, this, &MessageWindow::afterEvents);
}

void MessageWindow::flush() {
    insertPending();
    if (caretToEndPending_)
        moveCaretNow();
}

void MessageWindow::afterEvents() {
    flushScheduled_ = false;
    insertPending();
    // Moving the caret scrolls and repaints the whole view: when answers come one after another
    // it is done for the first and then once per interval, the last move always following the
    // last answer.
    if (caretToEndPending_ && !caretPause_.isActive()) {
        moveCaretNow();
        caretPause_.start();
    }
}

void MessageWindow::insertPending() {
    if (pending_.isEmpty())
        return;
    // A cursor of our own at the end: the operator's caret and selection stay where they are.
    QTextCursor end(view_->document());
    end.movePosition(QTextCursor::End);
    end.insertText(pending_);
    pending_.clear();
    dropOldestCharacters();
}

void MessageWindow::dropOldestCharacters() {
    QTextDocument* document = view_->document();
    const int excess = document->characterCount() - limits_.characters;
    if (excess <= 0)
        return;
    // Whole lines from the start, as many as make up the excess, but never the newest line.
    const QTextBlock newest = document->lastBlock().previous();
    QTextBlock block = document->firstBlock();
    int dropped = 0;
    while (dropped < excess && block.isValid() && block != newest) {
        dropped += block.length();
        block = block.next();
    }
    if (dropped == 0)
        return;
    QTextCursor oldest(document);
    oldest.setPosition(dropped, QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
}

void MessageWindow::moveCaretNow() {
    caretToEndPending_ = false;
    QTextCursor caret = view_->textCursor();
    caret.movePosition(QTextCursor::End);
    view_->setTextCursor(caret);
    view_->ensureCursorVisible();
}

} // namespace vmx
