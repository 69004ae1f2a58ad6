#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace vmx {

// Reads standard input without ever blocking the event loop: each piece as it arrives, then its
// end. The next piece is read only after the previous one was handled, so a fast writer cannot
// pile up memory here. One file per platform.
class StandardInputReader : public QObject {
    Q_OBJECT
public:
    explicit StandardInputReader(QObject* parent = nullptr);
    ~StandardInputReader() override;
    void start();

signals:
    void received(const QByteArray& bytes);
    // The input ended; `error` is empty at a plain end of input.
    void ended(const QString& error);

private:
    struct Private;
    Private* d_;
};

} // namespace vmx
