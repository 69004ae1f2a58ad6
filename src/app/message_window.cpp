#include "app/message_window.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

namespace vmx {

MessageWindow::MessageWindow(QPlainTextEdit* view, QObject* parent)
    : QObject(parent), view_(view) {}

void MessageWindow::appendLine(const QByteArray& item) {
    pending_ += QString::fromLatin1(item);
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
    QString plain = view_->toPlainText();
    plain.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return plain;
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
