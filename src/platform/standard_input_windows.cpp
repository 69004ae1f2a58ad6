#include "platform/standard_input.h"

#include <QMetaObject>
#include <QSemaphore>
#include <QThread>

#include <cstdio>

namespace vmx {

namespace {

// Windows cannot wait for a console or pipe handle in the event loop: a thread reads, hands
// each piece to the reader's thread, and waits for it to be handled before it reads the next.
// It is left blocked in its read at the end of the process rather than cut off.
class InputThread : public QThread {
public:
    explicit InputThread(StandardInputReader* reader) : reader_(reader) {}

    QSemaphore handled{1};

protected:
    void run() override {
        QByteArray buffer(64 * 1024, Qt::Uninitialized);
        while (true) {
            handled.acquire();
            const std::size_t got = std::fread(buffer.data(), 1, std::size_t(buffer.size()), stdin);
            StandardInputReader* reader = reader_;
            if (got == 0) {
                const QString error = std::ferror(stdin) ? QStringLiteral("read error") : QString();
                QMetaObject::invokeMethod(
                    reader, [reader, error] { emit reader->ended(error); }, Qt::QueuedConnection);
                return;
            }
            const QByteArray piece = buffer.left(qsizetype(got));
            QMetaObject::invokeMethod(
                reader,
                [this, reader, piece] {
                    emit reader->received(piece);
                    handled.release();
                },
                Qt::QueuedConnection);
        }
    }

private:
    StandardInputReader* reader_;
};

} // namespace

struct StandardInputReader::Private {
    InputThread* thread = nullptr;
};

StandardInputReader::StandardInputReader(QObject* parent) : QObject(parent), d_(new Private) {}

StandardInputReader::~StandardInputReader() {
    delete d_;
}

void StandardInputReader::start() {
    d_->thread = new InputThread(this);
    d_->thread->start();
}

} // namespace vmx
