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
    for (QTextBlock block = document->findBlock(from); block.isValid(); block = block.next())
        emit updateBlock(block);
}

} // namespace vmx
