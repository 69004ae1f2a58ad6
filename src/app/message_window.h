#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QPlainTextEdit;

namespace vmx {

// The message window's list of answers. Lines are only ever appended after the text already
// there, which stays untouched, so each line costs the same whether it is the first or the
// millionth. Lines that arrive in one burst are gathered and inserted together just after the
// event that produced them has been handled, before the window is painted again.
class MessageWindow : public QObject {
    Q_OBJECT
public:
    explicit MessageWindow(QPlainTextEdit* view, QObject* parent = nullptr);

    // One answer: the item (one character per received byte) followed by a line break.
    void appendLine(const QByteArray& item);
    // Brings the end of the text into view with the caret there.
    void moveCaretToEnd();
    void clear();

    // The whole text with each line ended by CR LF, as the window lists it.
    QString text();
    // Inserts whatever is still gathered; done by itself right after the current event.
    void flush();

private:
    void scheduleFlush();

    QPlainTextEdit* view_;
    QString pending_;
    bool caretToEndPending_ = false;
    bool flushScheduled_ = false;
};

} // namespace vmx
