#include "app/message_view.h"

#include "app/steady_scroll_bar.h"
#include "platform/selection_pieces.h"

#include <QMetaObject>
#include <QMimeData>
#include <QScrollBar>
#include <QTextCursor>

namespace vmx {

MessageView::MessageView(QWidget* parent) : QPlainTextEdit(parent) {
    // A selected window may hold tens of megabytes of text for a paste elsewhere.
    serveLargeSelectionsInPieces();
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A vertical bar that is not painted again for nothing while the lines fit the view. The
    // text box pages by the lines in view itself when the bar's groove is clicked, listening to
    // the bar it was built with, so the new bar is connected to that handler again; where the
    // handler is not found by name the standard bar stays (it only paints more).
    if (QPlainTextEdit::staticMetaObject.indexOfSlot("_q_verticalScrollbarActionTriggered(int)") >=
        0) {
        auto* bar = new SteadyScrollBar(Qt::Vertical);
        setVerticalScrollBar(bar);
        connect(bar, SIGNAL(actionTriggered(int)), this,
                SLOT(_q_verticalScrollbarActionTriggered(int)));
    }
    // The text box lays its bars out again after every change of a bar's range, to show or hide
    // them, and repaints its frame and both bars: once the lines fill the view, for every
    // answer. Both bars always show here, so where that handler is found by name it no longer
    // follows the ranges.
    if (QAbstractScrollArea::staticMetaObject.indexOfSlot("_q_showOrHideScrollBars()") >= 0) {
        for (QScrollBar* shown : {verticalScrollBar(), horizontalScrollBar()})
            disconnect(shown, SIGNAL(rangeChanged(int, int)), this,
                       SLOT(_q_showOrHideScrollBars()));
    }
}

void MessageView::setSelectionCopier(SelectionCopier copier) {
    copier_ = std::move(copier);
}

QMimeData* MessageView::createMimeDataFromSelection() const {
    if (!copier_)
        return QPlainTextEdit::createMimeDataFromSelection();
    return copier_(textCursor());
}

} // namespace vmx
