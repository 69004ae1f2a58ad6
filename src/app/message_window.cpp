#include "app/message_window.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

namespace vmx {

namespace {

constexpr QChar kCarriageReturnPicture(0x240D);
constexpr QChar kLineFeedPicture(0x240A);

// The item as the view holds it. A CR LF pair breaks the line, as it does in the window's text.
// A lone CR or LF would break it too, so it is held as its control picture instead, which no
// received byte can produce; text() gives back the character that came.
QString viewText(const QByteArray& item) {
    QString text = QString::fromLatin1(item);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
            ++i;
        else if (text[i] == QLatin1Char('\r'))
            text[i] = kCarriageReturnPicture;
        else if (text[i] == QLatin1Char('\n'))
            text[i] = kLineFeedPicture;
    }
    return text;
}

} // namespace

MessageWindow::MessageWindow(QPlainTextEdit* view, QObject* parent)
    : QObject(parent), view_(view) {}

void MessageWindow::appendLine(const QByteArray& item) {
    pending_ += viewText(item);
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
    raw.replace(kCarriageReturnPicture, QLatin1Char('\r'));
    raw.replace(kLineFeedPicture, QLatin1Char('\n'));
    return raw;
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
