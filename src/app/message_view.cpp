#include "app/message_view.h"

#include <QMimeData>
#include <QTextCursor>

namespace vmx {

MessageView::MessageView(QWidget* parent) : QPlainTextEdit(parent) {}

void MessageView::setSelectionCopier(SelectionCopier copier) {
    copier_ = std::move(copier);
}

QMimeData* MessageView::createMimeDataFromSelection() const {
    if (!copier_)
        return QPlainTextEdit::createMimeDataFromSelection();
    return copier_(textCursor());
}

} // namespace vmx
