#include "platform/standard_input.h"

#include <QSemaphore>
#include <QThread>

#include <cstdio>

namespace vmx {

namespace {

// Windows cannot wait for a console or pipe handle in the event loop: a thread reads, and
// waits for each piece to be handled before it reads the next. It is left to the end of the
// process, blocked in its read, rather than cut off.
class InputThread : public QThread {
    Q_OBJECT
public:
    QSemaphore handled{1};

signals:
    void piece(const QByteArray& bytes);
    void finished(const QString& error);

protected:
    void run() override {
        QByteArray buffer(64 * 1024, Qt::Uninitialized);
        while (true) {
            handled.acquire();
            const std::size_t got = std::fread(buffer.data(), 1, std::size_t(buffer.size()), stdin);
            if (got == 0) {
                emit finished(std::ferror(stdin) ? QStringLiteral("read error") : QString());
                return;
            }
            emit piece(buffer.left(qsizetype(got)));
        }
    }
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
    d_->thread = new InputThread;
    connect(d_->thread, &InputThread::piece, this, [this](const QByteArray& bytes) {
        emit received(bytes);
        d_->thread->handled.release();
    });
    connect(d_->thread, &InputThread::finished, this, &StandardInputReader::ended);
    d_->thread->start();
}

} // namespace vmx

#include "standard_input_windows.moc"
