#include "device_sim/pty_line.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace vmx::sim {

namespace {

QString errorText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Where the link at `path` points, or an empty text when it is no link.
QByteArray linkTarget(const QByteArray& path) {
    char target[PATH_MAX] = {};
    const ssize_t length = ::readlink(path.constData(), target, sizeof target - 1);
    if (length <= 0)
        return {};
    return QByteArray(target, length);
}

} // namespace

PtyLine::PtyLine(QObject* parent) : QObject(parent) {}

PtyLine::~PtyLine() {
    close();
}

bool PtyLine::open(const QString& linkName, QString* error) {
    close();
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
        *error = QStringLiteral("No pseudo-terminal: %1").arg(errorText());
        master_ = slave_ = -1;
        return false;
    }
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);

    char name[PATH_MAX] = {};
    if (::ttyname_r(slave_, name, sizeof name) != 0) {
        *error = QStringLiteral("The pseudo-terminal has no name: %1").arg(errorText());
        close();
        return false;
    }
    slavePath_ = QString::fromLocal8Bit(name);

    // Raw until the tool sets the line up itself: nothing echoed back, nothing translated.
    // These settings come back each time the last client has gone.
    if (::tcgetattr(slave_, &lineSettings_) == 0) {
        ::cfmakeraw(&lineSettings_);
        ::tcsetattr(slave_, TCSANOW, &lineSettings_);
    }

    const QString path = QDir::current().absoluteFilePath(linkName);
    const QByteArray encoded = QFile::encodeName(path);
    struct stat existing {};
    if (::lstat(encoded.constData(), &existing) == 0) {
        struct stat pointedAt {};
        const bool stale = S_ISLNK(existing.st_mode) &&
                           ::stat(encoded.constData(), &pointedAt) != 0 && errno == ENOENT &&
                           linkTarget(encoded).startsWith("/dev/");
        if (!stale || ::unlink(encoded.constData()) != 0) {
            *error =
                QStringLiteral("%1 exists already; remove it or choose another --link.").arg(path);
            close();
            return false;
        }
    }
    if (::symlink(name, encoded.constData()) != 0) {
        *error = QStringLiteral("Cannot make the link %1: %2").arg(path, errorText());
        close();
        return false;
    }
    linkPath_ = path;

    notifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PtyLine::readMaster);
    watchClients();
    return true;
}

void PtyLine::watchClients() {
    // Without the watch the line works as before; it only cannot tidy up after a dead client.
    clientWatch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (clientWatch_ < 0)
        return;
    if (::inotify_add_watch(clientWatch_, QFile::encodeName(slavePath_).constData(),
                            IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        ::close(clientWatch_);
        clientWatch_ = -1;
        return;
    }
    clientsOpen_ = 0;
    clientNotifier_ = new QSocketNotifier(clientWatch_, QSocketNotifier::Read, this);
    connect(clientNotifier_, &QSocketNotifier::activated, this, &PtyLine::clientsChanged);
}

void PtyLine::clientsChanged() {
    alignas(inotify_event) char buffer[4096];
    bool lastGone = false;
    for (;;) {
        const ssize_t n = ::read(clientWatch_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_OPEN)
                ++clientsOpen_;
            if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                // A close seen without its open (the watch began late) counts as the last.
                clientsOpen_ = clientsOpen_ > 0 ? clientsOpen_ - 1 : 0;
                lastGone = lastGone || clientsOpen_ == 0;
            }
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    if (lastGone && clientsOpen_ == 0)
        restoreLine();
}

void PtyLine::restoreLine() {
    if (slave_ < 0)
        return;
    ::tcsetattr(slave_, TCSANOW, &lineSettings_);
    ::ioctl(slave_, TIOCNXCL);
}

void PtyLine::close() {
    delete clientNotifier_;
    clientNotifier_ = nullptr;
    if (clientWatch_ >= 0)
        ::close(clientWatch_);
    clientWatch_ = -1;
    if (notifier_) {
        notifier_->setEnabled(false);
        delete notifier_;
        notifier_ = nullptr;
    }
    if (!linkPath_.isEmpty()) {
        // Only the link this pair made goes; someone may have replaced it meanwhile.
        const QByteArray encoded = QFile::encodeName(linkPath_);
        if (linkTarget(encoded) == QFile::encodeName(slavePath_))
            ::unlink(encoded.constData());
        linkPath_.clear();
    }
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = slave_ = -1;
    slavePath_.clear();
}

bool PtyLine::write(QByteArrayView bytes) {
    if (master_ < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // The line's buffer is full (nobody reads the slave side) or the line is gone.
            return false;
        }
    }
    return true;
}

void PtyLine::readMaster() {
    QByteArray bytes;
    for (;;) {
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, n);
            if (bytes.size() >= 65536)
                break; // hand on what has come; the notifier fires again for the rest
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // End of file or an error: the line cannot be read any more.
        const QString reason = n == 0 ? QStringLiteral("the line was closed") : errorText();
        notifier_->setEnabled(false);
        if (!bytes.isEmpty())
            emit received(bytes);
        emit failed(QStringLiteral("Reading the pseudo-terminal failed: %1").arg(reason));
        return;
    }
    if (!bytes.isEmpty())
        emit received(bytes);
}

} // namespace vmx::sim
