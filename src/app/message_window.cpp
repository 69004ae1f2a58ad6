#include "app/message_window.h"

#include "app/appending_text_layout.h"
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
    // The same document as the view's own, laid out so that an answer repaints only its line.
    const QTextDocument* original = view_->document();
    auto* document = new QTextDocument(view_);
    document->setDocumentLayout(new AppendingTextLayout(document));
    document->setDefaultFont(original->defaultFont());
    document->setDocumentMargin(original->documentMargin());
    document->setUndoRedoEnabled(original->isUndoRedoEnabled());
    view_->setDocument(document);
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
    QTextDocument* document = view_->document();
    QTextCursor end(document);
    end.setPosition(document->characterCount() - 1);
    end.insertText(pending_);
    pending_.clear();
    dropOldestLines();
}

void MessageWindow::dropOldestLines() {
    // Whole lines from the start, in one removal: those beyond the newest Limits::lines, then
    // as many more as make the rest fit Limits::characters, but never the newest line. The
    // positions are found without laying the lines out (the document's own block limit moves a
    // cursor over every dropped line, which lays each one out first).
    QTextDocument* document = view_->document();
    // The text ends with a line break, so an empty block follows the last line.
    const int lines = document->blockCount() - 1;
    QTextBlock block = document->firstBlock();
    if (lines > limits_.lines)
        block = document->findBlockByNumber(lines - limits_.lines);
    int dropped = block.position();
    const QTextBlock newest = document->lastBlock().previous();
    const int excess = document->characterCount() - limits_.characters;
    while (dropped < excess && block.isValid() && block != newest) {
        dropped += block.length();
        block = block.next();
    }
    if (dropped == 0)
        return;
    QTextCursor oldest(document);
    // Within an edit block the cursor does not measure where it lands: it would lay out the
    // whole line there first.
    oldest.beginEditBlock();
    oldest.setPosition(dropped, QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
    oldest.endEditBlock();
}

void MessageWindow::moveCaretNow() {
    caretToEndPending_ = false;
    QTextCursor caret = view_->textCursor();
    caret.movePosition(QTextCursor::End);
    view_->setTextCursor(caret);
    view_->ensureCursorVisible();
}

} // namespace vmx
