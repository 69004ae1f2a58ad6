#include "cli/line_output.h"

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vmx {

bool LineOutput::writeLine(const QString& text, const char* lineEnd) {
    return writeRaw(text.toUtf8() + lineEnd);
}

bool LineOutput::writeRaw(const QByteArray& bytes) {
    if (failed_)
        return false;
    if (closedAtStart_) {
        failed_ = true;
        failure_ = QString::fromLocal8Bit(std::strerror(EBADF));
        return false;
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
#ifdef Q_OS_WIN
        const auto n = ::_write(fd_, bytes.constData() + done, unsigned(bytes.size() - done));
#else
        const auto n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
#endif
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        failed_ = true;
        failure_ = QString::fromLocal8Bit(std::strerror(n < 0 ? errno : EIO));
        return false;
    }
    return true;
}

bool LineOutput::isTerminal() const {
#ifdef Q_OS_WIN
    return ::_isatty(fd_) != 0;
#else
    return !closedAtStart_ && ::isatty(fd_) == 1;
#endif
}

void LineOutput::guardClosedDescriptor() {
#ifndef Q_OS_WIN
    if (::fcntl(fd_, F_GETFD) != -1 || errno != EBADF)
        return;
    closedAtStart_ = true;
    const int placeholder = ::open("/dev/null", O_RDWR);
    if (placeholder >= 0 && placeholder != fd_) {
        ::dup2(placeholder, fd_);
        ::close(placeholder);
    }
#endif
}

} // namespace vmx
