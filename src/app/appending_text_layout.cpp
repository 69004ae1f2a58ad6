#include "app/appending_text_layout.h"

#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextDocument>

namespace vmx {

AppendingTextLayout::AppendingTextLayout(QTextDocument* document)
    : QPlainTextDocumentLayout(document), knownBlocks_(document->blockCount()) {}

void AppendingTextLayout::documentChanged(int from, int charsRemoved, int charsAdded) {
    QTextDocument* document = this->document();
    const int blocksBefore = knownBlocks_;
    knownBlocks_ = document->blockCount();
    const int newBlocks = knownBlocks_ - blocksBefore;
    // Text added at the end only: nothing above `from` moves, so repainting the lines from
    // there to the end shows the change exactly.
    const bool appendOnly =
        charsRemoved == 0 && charsAdded > 0 && from + charsAdded == document->characterCount() - 1;
    // Whole lines dropped from the start: the lines after them are untouched and keep their
    // layout. The standard layout would throw away the layouts of as many characters after the
    // change as were removed (a screenful of long lines then takes hundreds of milliseconds to
    // lay out again), so it is told about the first line only.
    const bool oldestDropped = from == 0 && charsAdded == 0 && charsRemoved > 0 && newBlocks < 0;
    if (oldestDropped) {
        QPlainTextDocumentLayout::documentChanged(0, 1, 0);
        return;
    }
    if (!appendOnly || newBlocks < 1 || newBlocks > kMaxLinesRepaintedOneByOne) {
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
        return;
    }
    {
        // The standard layout keeps its bookkeeping; only its "repaint everything" is held back.
        const QSignalBlocker quiet(this);
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
    }
    emit documentSizeChanged(documentSize());
    // The text ends with an empty line; what it shows is only the caret.
    const QTextBlock last = document->lastBlock();
    for (QTextBlock block = document->findBlock(from); block.isValid(); block = block.next()) {
        if (block != last || emptyLastLineRepainted_ || block.length() > 1)
            emit updateBlock(block);
    }
}

} // namespace vmx
