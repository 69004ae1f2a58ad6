#include "app/message_window.h"

#include "protocol/display_text.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

namespace vmx {

MessageWindow::MessageWindow(QPlainTextEdit* view, QObject* parent)
    : QObject(parent), view_(view) {}

void MessageWindow::appendLine(const QByteArray& item) {
    pending_ += displayText(item);
    pending_ += QLatin1Char('\n');
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
    QTimer::singleShot(0, this, &MessageWindow::flush);
}

void MessageWindow::flush() {
    flushScheduled_ = false;
    if (!pending_.isEmpty()) {
        // A cursor of our own at the end: the operator's caret and selection stay where they are.
        QTextCursor end(view_->document());
        end.movePosition(QTextCursor::End);
        end.insertText(pending_);
        pending_.clear();
    }
    if (caretToEndPending_) {
        caretToEndPending_ = false;
        QTextCursor caret = view_->textCursor();
        caret.movePosition(QTextCursor::End);
        view_->setTextCursor(caret);
        view_->ensureCursorVisible();
    }
}

} // namespace vmx
