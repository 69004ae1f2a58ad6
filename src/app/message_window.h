#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <vector>

class QMimeData;
class QPlainTextEdit;
class QTextCursor;

namespace vmx {

class AppendingTextLayout;

// How much the message window keeps: lines, characters of those lines as received, and
// characters of them as shown.
struct MessageWindowLimits {
    // When the widest line goes, the text box measures every line again, making a layout for
    // each one not shown yet, so the cost of that grows with the lines kept (figures in
    // docs/benchmarks.md).
    int lines = 25'000;
    int characters = 32 * 1024 * 1024;
    // The text box copies all of its text whenever as much has been removed from its start as
    // it holds (it keeps removed text until then), so that copy grows with the characters
    // shown (figures in docs/benchmarks.md).
    int shownCharacters = 2 * 1024 * 1024;
};

// The message window's list of answers. Lines are only ever appended after the text already
// there, which stays untouched, so each line costs the same whether it is the first or the
// millionth. Lines that arrive in one burst are gathered and inserted together once the event
// loop has handled what woke it; a short answer is painted right then.
//
// Anyone on the network may flood the window, so it keeps only the newest lines: at most
// Limits::lines of them and, of those, as many of the newest as hold at most Limits::characters
// characters as received and Limits::shownCharacters as shown; the oldest lines go first. The
// newest line always stays (an answer is at most about 1 Mi characters).
//
// A line longer than kShownCharacters is shown shortened: its first kShownCharacters characters
// and then a marker saying how many are left out. Qt shapes a line as a whole to measure and
// paint it, and a line of tens of thousands of characters would hold the window each time. The
// window keeps every line as received, so reading the text back and copying a selection (in a
// MessageView) give every line whole.
class MessageWindow : public QObject {
    Q_OBJECT
public:
    using Limits = MessageWindowLimits;
    // Moves of the caret to the end that come quicker than this are made once, at its end.
    static constexpr int kCaretMoveIntervalMs = 50;
    // Lines longer than this show only this many characters and the marker.
    static constexpr int kShownCharacters = 1000;

    explicit MessageWindow(QPlainTextEdit* view, QObject* parent = nullptr, Limits limits = {});

    // One answer: the item (one character per received byte) followed by a line break.
    void appendLine(const QByteArray& item);
    // Brings the end of the text into view with the caret there.
    void moveCaretToEnd();
    void clear();

    // The whole text with each line ended by CR LF, as the window lists it, every line whole.
    QString text();
    // The text of the view's selection `selection` as plain text, every line whole.
    QMimeData* copyOf(const QTextCursor& selection) const;
    // What the window shows for a line of `characters` characters beyond kShownCharacters.
    static QString omissionMarker(qsizetype characters);
    // Inserts whatever is still gathered and makes a pending caret move; done by itself at the
    // end of the event loop's current turn (the caret move at most once per
    // kCaretMoveIntervalMs).
    void flush();

private:
    // How many characters the window shows for a received line of `characters` characters.
    static qsizetype shownLength(qsizetype characters);
    void scheduleFlush();
    // A flush as an event of its own, handled in the event loop's next turn.
    void postFlush();
    // The event loop has handled what woke it, or is about to wait.
    void turnEnded();
    bool shortAnswerPending() const;
    void afterEvents();
    void insertPending();
    void dropOldestLines();
    void moveCaretNow();

    QPlainTextEdit* view_;
    AppendingTextLayout* layout_ = nullptr; // the layout of the view's document
    Limits limits_;
    // The lines as received, one per line of the document, oldest first, and their characters
    // counted with one line break each (as the document counts them).
    std::deque<QByteArray> lines_;
    qsizetype characters_ = 0;
    // Lines gathered for the next insertion: as shown, and as received.
    QString pending_;
    std::vector<QByteArray> pendingLines_;
    qsizetype pendingCharacters_ = 0;
    bool caretToEndPending_ = false;
    bool flushScheduled_ = false;
    bool flushPosted_ = false;
    // Whether the thread's event dispatcher reports the ends of the event loop's turns (it
    // always does once the application object exists).
    bool turnsReported_ = false;
    QTimer caretPause_;
};

} // namespace vmx
