#pragma once

#include <QPlainTextDocumentLayout>

namespace vmx {

// The plain-text layout of the message window. Lines only ever come at the end of its text, and
// the text ends with a line break, so each new answer ends just before the empty last line;
// the standard layout then repaints the whole view for every answer. This one repaints only
// the lines that changed (which are usually out of view while older lines are being read) as
// long as an append brings a few lines, and leaves every other change to the standard layout.
class AppendingTextLayout : public QPlainTextDocumentLayout {
    Q_OBJECT
public:
    // Appends of up to this many lines are repainted line by line; larger ones as a whole.
    static constexpr int kMaxLinesRepaintedOneByOne = 16;

    explicit AppendingTextLayout(QTextDocument* document);

    // Whether an append repaints the empty line that ends the text. It shows nothing but the
    // caret, which is drawn only while the text box has the focus (taking the focus draws it).
    void setEmptyLastLineRepainted(bool repainted) { emptyLastLineRepainted_ = repainted; }

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    int knownBlocks_ = 0;
    bool emptyLastLineRepainted_ = true;
};

} // namespace vmx
