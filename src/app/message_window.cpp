#include "app/message_window.h"

#include "app/appending_text_layout.h"
#include "app/message_view.h"
#include "app/selection_text.h"
#include "protocol/display_text.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <iterator>

namespace vmx {

namespace {

// Gathered lines go into the document once they reach this size even within one event, so a
// long burst never piles up outside the bounds of the window.
constexpr qsizetype kMaxPendingCharacters = 1024 * 1024;

// Where a position in a line as shown falls in the line as received: anywhere in the marker of
// a shortened line is its end.
qsizetype receivedPosition(const QByteArray& line, qsizetype shown) {
    if (line.size() > MessageWindow::kShownCharacters && shown > MessageWindow::kShownCharacters)
        return line.size();
    return std::min(shown, line.size());
}

} // namespace

MessageWindow::MessageWindow(QPlainTextEdit* view, QObject* parent, Limits limits)
    : QObject(parent), view_(view), limits_(limits) {
    // The same document as the view's own, laid out so that an answer repaints only its line.
    const QTextDocument* original = view_->document();
    auto* document = new QTextDocument(view_);
    layout_ = new AppendingTextLayout(document);
    document->setDocumentLayout(layout_);
    document->setDefaultFont(original->defaultFont());
    document->setDocumentMargin(original->documentMargin());
    document->setUndoRedoEnabled(original->isUndoRedoEnabled());
    view_->setDocument(document);
    if (auto* messageView = qobject_cast<MessageView*>(view_)) {
        const QPointer<MessageWindow> self(this);
        messageView->setSelectionCopier([self](const QTextCursor& selection) {
            return self ? self->copyOf(selection) : nullptr;
        });
    }
    // The event loop's dispatcher reports when it has handled what woke it and when it is
    // about to wait again; a short answer goes in and is painted then. A flush posted as an
    // event of its own comes only with a further pass of the loop (a poll and every source
    // checked), before which the answer could not show.
    if (auto* dispatcher = QAbstractEventDispatcher::instance(thread())) {
        turnsReported_ = true;
        connect(dispatcher, &QAbstractEventDispatcher::awake, this, &MessageWindow::turnEnded);
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &MessageWindow::turnEnded);
    }
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
    // A CR LF pair in an item is a line break as shown: each part is a line of its own.
    qsizetype from = 0;
    for (;;) {
        const qsizetype lineBreak = item.indexOf("\r\n", from);
        const QByteArray line = item.mid(from, lineBreak < 0 ? -1 : lineBreak - from);
        if (line.size() > kShownCharacters) {
            pending_ += displayText(QByteArrayView(line).first(kShownCharacters));
            pending_ += omissionMarker(line.size() - kShownCharacters);
        } else {
            pending_ += displayText(line);
        }
        pending_ += QLatin1Char('\n');
        pendingCharacters_ += line.size() + 1;
        pendingLines_.push_back(line);
        if (lineBreak < 0)
            break;
        from = lineBreak + 2;
    }
    if (pendingCharacters_ >= kMaxPendingCharacters)
        insertPending();
    scheduleFlush();
}

QString MessageWindow::omissionMarker(qsizetype characters) {
    return QChar(0x2026) + (characters == 1
                                ? QStringLiteral("(1 more character)")
                                : QStringLiteral("(%1 more characters)").arg(characters));
}

qsizetype MessageWindow::shownLength(qsizetype characters) {
    if (characters <= kShownCharacters)
        return characters;
    return kShownCharacters + omissionMarker(characters - kShownCharacters).size();
}

void MessageWindow::moveCaretToEnd() {
    caretToEndPending_ = true;
    scheduleFlush();
}

void MessageWindow::clear() {
    pending_.clear();
    pendingLines_.clear();
    pendingCharacters_ = 0;
    lines_.clear();
    characters_ = 0;
    view_->clear();
}

QString MessageWindow::text() {
    flush();
    QString text;
    text.reserve(characters_ + qsizetype(lines_.size()));
    for (const QByteArray& line : lines_) {
        text += QLatin1StringView(line);
        text += QLatin1StringView("\r\n");
    }
    return text;
}

QMimeData* MessageWindow::copyOf(const QTextCursor& selection) const {
    // The document's lines are the received lines one for one, followed by an empty line.
    const QTextDocument* document = view_->document();
    const QTextBlock first = document->findBlock(selection.selectionStart());
    const QTextBlock last = document->findBlock(selection.selectionEnd());
    const auto lineAt = [this](int number) {
        return size_t(number) < lines_.size() ? lines_[size_t(number)] : QByteArray();
    };
    std::vector<QByteArray> covered;
    covered.reserve(size_t(std::max(1, last.blockNumber() - first.blockNumber() + 1)));
    for (int number = first.blockNumber(); number <= last.blockNumber(); ++number)
        covered.push_back(lineAt(number));
    const qsizetype from =
        receivedPosition(covered.front(), selection.selectionStart() - first.position());
    const qsizetype to =
        receivedPosition(covered.back(), selection.selectionEnd() - last.position());
    return new SelectionText(std::move(covered), from, to);
}

void MessageWindow::scheduleFlush() {
    if (flushScheduled_)
        return;
    flushScheduled_ = true;
    if (!turnsReported_)
        postFlush();
}

void MessageWindow::postFlush() {
    if (flushPosted_)
        return;
    flushPosted_ = true;
    QTimer::singleShot(0, this, [this] {
        flushPosted_ = false;
        afterEvents();
    });
}

bool MessageWindow::shortAnswerPending() const {
    return !pendingLines_.empty() && pendingCharacters_ <= kShownCharacters;
}

void MessageWindow::turnEnded() {
    if (!flushScheduled_ || flushPosted_)
        return;
    // A burst or a long line waits a turn more and goes in with whatever that turn brings:
    // under a flood of 64 KiB replies, inserting and painting each one in the turn that read
    // it listed half as many.
    if (shortAnswerPending())
        afterEvents();
    else
        postFlush();
}

void MessageWindow::flush() {
    insertPending();
    if (caretToEndPending_)
        moveCaretNow();
}

void MessageWindow::afterEvents() {
    if (!flushScheduled_)
        return;
    flushScheduled_ = false;
    // Short answers are painted at once, not with the window's own paint one turn of the event
    // loop later. A burst or a long line waits for that paint, which then also covers what has
    // come in meanwhile: under a flood of them, painting each at once held the window longer.
    const bool paintNow = shortAnswerPending();
    insertPending();
    // Moving the caret scrolls and repaints the whole view: when answers come one after another
    // it is done for the first and then once per interval, the last move always following the
    // last answer.
    if (caretToEndPending_ && !caretPause_.isActive()) {
        moveCaretNow();
        caretPause_.start();
    }
    if (paintNow) {
        // What the text box has queued for itself comes first, so that it goes into this paint
        // instead of into a second one.
        QCoreApplication::sendPostedEvents(view_, QEvent::MetaCall);
        QCoreApplication::sendPostedEvents(view_->window(), QEvent::UpdateRequest);
    }
}

void MessageWindow::insertPending() {
    if (pendingLines_.empty())
        return;
    // A cursor of our own at the end: the operator's caret and selection stay where they are.
    QTextDocument* document = view_->document();
    QTextCursor end(document);
    end.setPosition(document->characterCount() - 1);
    // An operator's caret at the end moves on to the new empty last line; it shows only while
    // the text box has the focus.
    layout_->setEmptyLastLineRepainted(view_->hasFocus());
    end.insertText(pending_);
    lines_.insert(lines_.end(), std::make_move_iterator(pendingLines_.begin()),
                  std::make_move_iterator(pendingLines_.end()));
    characters_ += pendingCharacters_;
    pending_.clear();
    pendingLines_.clear();
    pendingCharacters_ = 0;
    dropOldestLines();
}

void MessageWindow::dropOldestLines() {
    // Whole lines from the start, in one removal: those beyond the newest Limits::lines, then
    // as many more as make the rest fit Limits::characters as received (a line shown shortened
    // counts whole) and Limits::shownCharacters as shown, but never the newest line; each line
    // break counts one. The position in the document is found without laying the
    // lines out (the document's own block limit moves a cursor over every dropped line, which
    // lays each one out first).
    // The document holds the lines as shown, each with its line break, and then the empty line.
    const qsizetype shownCharacters = view_->document()->characterCount() - 1;
    size_t dropped = 0;
    qsizetype droppedCharacters = 0;
    qsizetype droppedShown = 0;
    const auto dropOne = [&] {
        const qsizetype size = lines_[dropped++].size();
        droppedCharacters += size + 1;
        droppedShown += shownLength(size) + 1;
    };
    const auto tooMany = [&] {
        return characters_ - droppedCharacters > limits_.characters ||
               shownCharacters - droppedShown > limits_.shownCharacters;
    };
    while (lines_.size() - dropped > size_t(limits_.lines))
        dropOne();
    while (tooMany() && dropped + 1 < lines_.size())
        dropOne();
    if (dropped == 0)
        return;
    QTextDocument* document = view_->document();
    const int end = document->findBlockByNumber(int(dropped)).position();
    QTextCursor oldest(document);
    // Within an edit block the cursor does not measure where it lands: it would lay out the
    // whole line there first.
    oldest.beginEditBlock();
    oldest.setPosition(end, QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
    oldest.endEditBlock();
    lines_.erase(lines_.begin(), lines_.begin() + qsizetype(dropped));
    characters_ -= droppedCharacters;
}

void MessageWindow::moveCaretNow() {
    caretToEndPending_ = false;
    QTextCursor caret = view_->textCursor();
    caret.movePosition(QTextCursor::End);
    view_->setTextCursor(caret);
    view_->ensureCursorVisible();
}

} // namespace vmx
