#include "eventlog/event_log.h"

#include <QDateTime>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vmx {

namespace {

#ifdef Q_OS_UNIX
QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// A pipe whose reader has gone answers a write with SIGPIPE, which would end the window: for
// the write the signal is held back, and one that the write raised is taken away unseen, so
// that the write's EPIPE is all that remains of it.
class BrokenPipeHeld {
public:
    BrokenPipeHeld() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &before_);
    }
    ~BrokenPipeHeld() {
        sigset_t pending;
        sigpending(&pending);
        int taken = 0;
        if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1)
            sigwait(&pipe_, &taken);
        pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    }
    BrokenPipeHeld(const BrokenPipeHeld&) = delete;
    BrokenPipeHeld& operator=(const BrokenPipeHeld&) = delete;

private:
    sigset_t pipe_{};
    sigset_t before_{};
    bool wasPending_ = false;
};
#endif

} // namespace

EventLog::~EventLog() {
    close();
}

bool EventLog::open(const QString& path, Warning warn) {
    warn_ = std::move(warn);
    path_ = path;
#ifdef Q_OS_UNIX
    // Appending through the system, not QFile's Append mode: that seeks to the end, which a
    // pipe or a device such as /dev/full refuses with a warning of Qt's own. O_NONBLOCK: the
    // open of a pipe with no reader fails at once instead of waiting for one, and a pipe that
    // fills up fails a write instead of holding up the exchange.
    const QByteArray name = QFile::encodeName(path);
    fd_ = ::open(name.constData(),
                 O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd_ < 0) {
        const int error = errno;
        struct stat info {};
        const bool pipe = ::stat(name.constData(), &info) == 0 && S_ISFIFO(info.st_mode);
        fail(error == ENXIO && pipe ? QStringLiteral("a pipe that no program reads")
                                    : systemReason(error));
        return false;
    }
#else
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        fail(file_.errorString());
        return false;
    }
#endif
    return true;
}

bool EventLog::isOpen() const {
#ifdef Q_OS_UNIX
    return fd_ >= 0;
#else
    return file_.isOpen();
#endif
}

void EventLog::close() {
#ifdef Q_OS_UNIX
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
#else
    file_.close();
#endif
}

namespace {

void putDigits(char16_t*& at, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10)
        at[i] = char16_t(u'0' + value % 10);
    at += digits;
}

} // namespace

QString isoTimeWithOffset(const QDateTime& time) {
    // Written out by hand: Qt's text of the same time goes through its locale-aware formatter,
    // which costs more than a whole exchange of a polling run. The result is Qt's
    // ISODateWithMs of the time at its own offset, which is also taken for the years and
    // offsets this does not cover.
    const int offset = time.offsetFromUtc();
    constexpr qint64 kDayMs = 24 * 3600 * 1000;
    const qint64 localMs = time.toMSecsSinceEpoch() + qint64(offset) * 1000;
    const qint64 days = localMs >= 0 ? localMs / kDayMs : -((-localMs + kDayMs - 1) / kDayMs);
    int year = 0;
    int month = 0;
    int day = 0;
    QDate(1970, 1, 1).addDays(days).getDate(&year, &month, &day);
    if (!time.isValid() || offset % 60 != 0 || year < 1 || year > 9999)
        return time.toOffsetFromUtc(offset).toString(Qt::ISODateWithMs);
    const auto msOfDay = int(localMs - days * kDayMs);
    QString text(offset == 0 ? 24 : 29, Qt::Uninitialized);
    char16_t* at = reinterpret_cast<char16_t*>(text.data());
    putDigits(at, year, 4);
    *at++ = u'-';
    putDigits(at, month, 2);
    *at++ = u'-';
    putDigits(at, day, 2);
    *at++ = u'T';
    putDigits(at, msOfDay / 3600000, 2);
    *at++ = u':';
    putDigits(at, msOfDay / 60000 % 60, 2);
    *at++ = u':';
    putDigits(at, msOfDay / 1000 % 60, 2);
    *at++ = u'.';
    putDigits(at, msOfDay % 1000, 3);
    if (offset == 0) {
        *at = u'Z';
        return text;
    }
    *at++ = offset < 0 ? u'-' : u'+';
    putDigits(at, std::abs(offset) / 3600, 2);
    *at++ = u':';
    putDigits(at, std::abs(offset) / 60 % 60, 2);
    return text;
}

void EventLog::event(const QString& kind, const QString& details) {
    if (!isOpen())
        return;
    QString line = isoTimeWithOffset(QDateTime::currentDateTime());
    line += u' ' + kind;
    if (!details.isEmpty())
        line += u' ' + details;
    QString reason;
    if (!writeLine(line.toUtf8() + '\n', &reason))
        fail(reason);
}

bool EventLog::writeLine(const QByteArray& line, QString* reason) {
#ifdef Q_OS_UNIX
    // One write for the line; a short one (a disk that fills up, a size limit) is followed by
    // the rest, whose failure gives the system's reason, and then taken back: the file never
    // ends in a cut line. A pipe cannot take bytes back, but takes a line of up to PIPE_BUF
    // bytes whole or not at all.
    const BrokenPipeHeld held;
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd_, line.constData() + written, size_t(line.size() - written));
        if (n > 0) {
            written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        *reason = systemReason(n < 0 ? errno : ENOSPC);
        if (written > 0) {
            // Appending leaves the offset at the end of what this write put there.
            const off_t end = ::lseek(fd_, 0, SEEK_CUR);
            if (end >= off_t(written) && ::ftruncate(fd_, end - off_t(written)) != 0)
                *reason += QStringLiteral("; a cut line is left at the end");
        }
        return false;
    }
    return true;
#else
    if (file_.write(line) == line.size() && file_.flush())
        return true;
    *reason = file_.errorString();
    return false;
#endif
}

void EventLog::bytesEvent(const QString& kind, QByteArrayView bytes) {
    event(kind, hexPairs(bytes));
}

void EventLog::fail(const QString& reason) {
    if (warn_)
        warn_(QStringLiteral("The log %1 cannot be written (%2); the exchanges go on without it.")
                  .arg(path_, reason));
    close();
}

} // namespace vmx
