#include "platform/standard_input.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace vmx {

struct StandardInputReader::Private {
    QSocketNotifier* notifier = nullptr;
};

StandardInputReader::StandardInputReader(QObject* parent) : QObject(parent), d_(new Private) {}

StandardInputReader::~StandardInputReader() {
    delete d_;
}

void StandardInputReader::start() {
    // poll() says when a read returns at once, for pipes, terminals and plain files alike.
    d_->notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(d_->notifier, &QSocketNotifier::activated, this, [this] {
        QByteArray buffer(64 * 1024, Qt::Uninitialized);
        const ssize_t got = ::read(STDIN_FILENO, buffer.data(), std::size_t(buffer.size()));
        if (got > 0) {
            buffer.truncate(got);
            emit received(buffer);
            return;
        }
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        const QString error = got < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QString();
        d_->notifier->setEnabled(false);
        emit ended(error);
    });
}

} // namespace vmx
