#include "support/pty_pair.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vmx::test {

PtyPair::PtyPair() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    slavePath_ = QString::fromLocal8Bit(name);
    // Raw mode on the slave so nothing the device sends is translated or echoed.
    termios raw{};
    if (tcgetattr(slave_, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(slave_, TCSANOW, &raw);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
}

bool PtyPair::linkAs(int portNumber) const {
    const QString link = QStringLiteral("COM%1").arg(portNumber);
    QFile::remove(link);
    return QFile::link(slavePath_, link);
}

QByteArray readRunningEvents(int fd, qsizetype count, int timeoutMs) {
    QByteArray got;
    QDeadlineTimer deadline(timeoutMs);
    while (got.size() < count && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN)) {
            char buf[4096];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
    }
    return got;
}

QByteArray PtyPair::readMaster(int count, int timeoutMs) {
    return readRunningEvents(master_, count, timeoutMs);
}

QByteArray PtyPair::drainMaster(int settleMs) {
    QByteArray got;
    QDeadlineTimer deadline(settleMs);
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        char buf[4096];
        ssize_t n;
        while ((n = ::read(master_, buf, sizeof buf)) > 0)
            got.append(buf, n);
    } while (!deadline.hasExpired());
    return got;
}

int PtyPair::pendingOnMaster(int atLeast, int timeoutMs) const {
    QDeadlineTimer deadline(timeoutMs);
    int count = 0;
    while (::ioctl(master_, FIONREAD, &count) == 0 && count < atLeast && !deadline.hasExpired()) {
        pollfd p{master_, POLLIN, 0};
        ::poll(&p, 1, 5);
    }
    return count;
}

bool PtyPair::writeMaster(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (n > 0)
            done += n;
    }
    return true;
}

void PtyPair::closeMaster() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

bool PtyPair::slaveTermios(termios& out) const {
    return tcgetattr(slave_, &out) == 0;
}

} // namespace vmx::test
