#pragma once

#include <QPlainTextEdit>

#include <functional>

class QMimeData;
class QTextCursor;

namespace vmx {

// The message window's text box. What it hands out of a selection (Ctrl+C, the context menu's
// Copy, a drag, and on X the primary selection that any paste elsewhere reads) comes from the
// copier the message window sets: plain text of the lines as received, a shortened line whole.
// The text box's own copy would take a rich-text copy of the selection and, when anyone asks
// for it, turn all of it into HTML and OpenDocument as well: seconds and hundreds of megabytes
// for a selected window under a flood. Both of its scroll bars always show.
class MessageView : public QPlainTextEdit {
    Q_OBJECT
public:
    using SelectionCopier = std::function<QMimeData*(const QTextCursor& selection)>;

    explicit MessageView(QWidget* parent = nullptr);

    void setSelectionCopier(SelectionCopier copier);

protected:
    QMimeData* createMimeDataFromSelection() const override;

private:
    SelectionCopier copier_;
};

} // namespace vmx
