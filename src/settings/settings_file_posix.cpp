// The settings writer's file operations on POSIX systems; the unnamed file is Linux's alone.
#include "settings/settings_file_platform.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vmx::platform {

namespace {

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// An unnamed file is given its name through its entry in /proc: without /proc it could be
// written but never named.
constexpr char kOwnDescriptors[] = "/proc/self/fd";

QByteArray descriptorPath(int fd) {
    return QByteArray(kOwnDescriptors) + '/' + QByteArray::number(fd);
}

} // namespace

int openUnnamedFile(const QString& folder) {
#ifdef O_TMPFILE
    if (::access(kOwnDescriptors, X_OK) != 0)
        return -1;
    // Created with the mode a new file gets (0666 less the umask); the writer then gives it the
    // old file's permissions.
    return ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#else
    (void)folder;
    return -1;
#endif
}

std::optional<QString> nameUnnamedFile(int fd, const QString& target, const QString& freshName) {
    const QByteArray from = descriptorPath(fd);
    const QByteArray to = QFile::encodeName(target);
    // linkat() never replaces a name: with no file there yet the new file takes the name at once.
    if (::linkat(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), AT_SYMLINK_FOLLOW) == 0)
        return std::nullopt;
    if (errno != EEXIST)
        return errnoText(errno);
    // The complete file is named beside the old one for the moment of the rename only.
    const QByteArray fresh = QFile::encodeName(freshName);
    if (::linkat(AT_FDCWD, from.constData(), AT_FDCWD, fresh.constData(), AT_SYMLINK_FOLLOW) != 0)
        return errnoText(errno);
    if (std::rename(fresh.constData(), to.constData()) == 0)
        return std::nullopt;
    const int renameError = errno;
    ::unlink(fresh.constData());
    return errnoText(renameError);
}

void markInUse(int fd) {
    // A lock held by a process goes with the process: a killed writer's file is free again.
    (void)::flock(fd, LOCK_EX | LOCK_NB);
}

bool isAbandonedTemporary(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status {};
    const bool abandoned = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                           status.st_uid == ::geteuid() && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return abandoned;
}

} // namespace vmx::platform
