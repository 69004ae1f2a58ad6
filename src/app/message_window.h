#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QPlainTextEdit;

namespace vmx {

// How much the message window keeps: lines, and characters of those lines.
struct MessageWindowLimits {
    int lines = 100'000;
    int characters = 32 * 1024 * 1024;
};

// The message window's list of answers. Lines are only ever appended after the text already
// there, which stays untouched, so each line costs the same whether it is the first or the
// millionth. Lines that arrive in one burst are gathered and inserted together just after the
// event that produced them has been handled, before the window is painted again.
//
// Anyone on the network may flood the window, so it keeps only the newest lines: at most
// Limits::lines of them and, of those, as many of the newest as hold at most Limits::characters
// characters; the oldest lines go first. The newest line always stays (an answer is at most
// about 1 Mi characters).
class MessageWindow : public QObject {
    Q_OBJECT
public:
    using Limits = MessageWindowLimits;
    // Moves of the caret to the end that come quicker than this are made once, at its end.
    static constexpr int kCaretMoveIntervalMs = 50;

    explicit MessageWindow(QPlainTextEdit* view, QObject* parent = nullptr, Limits limits = {});

    // One answer: the item (one character per received byte) followed by a line break.
    void appendLine(const QByteArray& item);
    // Brings the end of the text into view with the caret there.
    void moveCaretToEnd();
    void clear();

    // The whole text with each line ended by CR LF, as the window lists it.
    QString text();
    // Inserts whatever is still gathered and makes a pending caret move; done by itself right
    // after the current event (the caret move at most once per kCaretMoveIntervalMs).
    void flush();

private:
    void scheduleFlush();
    void afterEvents();
    void insertPending();
    void dropOldestLines();
    void moveCaretNow();

    QPlainTextEdit* view_;
    Limits limits_;
    QString pending_;
    bool caretToEndPending_ = false;
    bool flushScheduled_ = false;
    QTimer caretPause_;
};

} // namespace vmx
