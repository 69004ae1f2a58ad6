#include "eventlog/event_log.h"

#include <QDateTime>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vmx {

bool EventLog::open(const QString& path, Warning warn) {
    warn_ = std::move(warn);
    path_ = path;
#ifdef Q_OS_UNIX
    // Appending through the system, not QFile's Append mode: that seeks to the end, which a
    // pipe or a device such as /dev/full refuses with a warning of Qt's own.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        fail(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!file_.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        ::close(fd);
#else
    file_.setFileName(path);
    file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
#endif
    if (!file_.isOpen()) {
        fail(file_.errorString());
        return false;
    }
    return true;
}

QString isoTimeWithOffset(const QDateTime& time) {
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

void EventLog::event(const QString& kind, const QString& details) {
    if (!file_.isOpen())
        return;
    QString line = isoTimeWithOffset(QDateTime::currentDateTime());
    line += u' ' + kind;
    if (!details.isEmpty())
        line += u' ' + details;
    const QByteArray bytes = line.toUtf8() + '\n';
    if (file_.write(bytes) != bytes.size() || !file_.flush())
        fail(file_.errorString());
}

void EventLog::bytesEvent(const QString& kind, QByteArrayView bytes) {
    event(kind, hexPairs(bytes));
}

void EventLog::fail(const QString& reason) {
    if (warn_)
        warn_(QStringLiteral("The log %1 cannot be written (%2); the exchanges go on without it.")
                  .arg(path_, reason));
    file_.close();
}

} // namespace vmx
