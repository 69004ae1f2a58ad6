#pragma once

#include <QByteArray>
#include <QMimeData>

#include <memory>
#include <vector>

namespace vmx {

// A selection of the message window as plain text, for the clipboard, the X primary selection
// or a drag. It holds the received lines it covers (shared with the window, not copied) and
// makes their text, in the one format text needs, in a worker thread as soon as it is created:
// a selection of millions of characters costs the window's thread next to nothing, neither when
// it is made nor when a paste elsewhere asks for it (making tens of megabytes of text takes
// longer than the window may be held).
// The text is what the window shows, with every line whole (a line the window shows shortened
// is copied as received) and lines separated by line feeds.
class SelectionText : public QMimeData {
    Q_OBJECT
public:
    // `lines` are the received lines from the selection's first to its last; the selection
    // starts at character `firstFrom` of the first and ends before character `lastTo` of the
    // last.
    SelectionText(std::vector<QByteArray> lines, qsizetype firstFrom, qsizetype lastTo);
    ~SelectionText() override;

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    struct Making;
    // The text, once the worker has made it (waits for it until then).
    const QByteArray& utf8() const;

    std::shared_ptr<Making> making_;
};

} // namespace vmx
