#include "settings/settings_file.h"

#include "platform/disk_sync.h"
#include "settings/settings_file_platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

namespace vmx {

namespace {

// A valid file is a few hundred bytes; reading more than this only wastes memory.
constexpr qint64 kMaxSettingsRead = qint64(64) * 1024 * 1024;

void setError(QString* error, const QString& reason) {
    if (error != nullptr)
        *error = reason;
}

} // namespace

std::optional<QByteArray> readSettingsBytes(const QString& path, QString* error) {
    const QFileInfo info(path);
    if (info.isDir()) {
        setError(error, QStringLiteral("%1 is a directory, not a file").arg(path));
        return std::nullopt;
    }
    // Opening a named pipe or a terminal would wait for a writer that never comes and hold up
    // the start: only a regular file (or a link to one) is read.
    if (info.exists() && !info.isFile()) {
        setError(error, QStringLiteral("%1 is not a regular file").arg(path));
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("cannot open %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    QByteArray bytes;
    char chunk[64 * 1024];
    // read() may return less than asked (pipes, special files); keep going until the end.
    while (bytes.size() < kMaxSettingsRead) {
        const qint64 want = std::min<qint64>(sizeof chunk, kMaxSettingsRead - bytes.size());
        const qint64 got = file.read(chunk, want);
        if (got < 0) {
            setError(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
            return std::nullopt;
        }
        if (got == 0)
            break;
        bytes.append(chunk, got);
    }
    return bytes;
}

namespace {

QString temporaryNameFor(const QString& target) {
    return QStringLiteral("%1.new-%2")
        .arg(target, QString::number(QRandomGenerator::global()->generate(), 16)
                         .rightJustified(8, QLatin1Char('0')));
}

// The new file takes the old one's place: it gets its permissions too.
void takePermissionsOf(const QString& target, QFile& file) {
    const QFileInfo existing(target);
    if (existing.exists())
        file.setPermissions(existing.permissions());
}

} // namespace

std::unique_ptr<QFile> makeUnnamedBeside(const QString& target, QString* reason) {
    const int fd = platform::openUnnamedFile(QFileInfo(target).absolutePath());
    if (fd < 0) {
        setError(reason, QStringLiteral("no unnamed file in this folder"));
        return nullptr;
    }
    auto file = std::make_unique<QFile>();
    // Unbuffered, so that a failing write is seen at the write and not lost in a flush.
    if (!file->open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                    QFileDevice::AutoCloseHandle)) {
#ifndef Q_OS_WIN
        ::close(fd);
#endif
        setError(reason, file->errorString());
        return nullptr;
    }
    takePermissionsOf(target, *file);
    // Where a settings file is there already, the complete file is named beside it for the
    // moment of the rename: a program starting just then must not take it for a leftover.
    platform::markInUse(fd);
    return file;
}

std::unique_ptr<QFile> makeNamedBeside(const QString& target, QString* reason) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name = temporaryNameFor(target);
        if (QFileInfo::exists(name))
            continue;
        auto file = std::make_unique<QFile>(name);
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            platform::markInUse(file->handle());
            takePermissionsOf(target, *file);
            return file;
        }
        setError(reason, file->errorString());
        // Another file took the name meanwhile: try another one; any other failure is final.
        if (!QFileInfo::exists(name))
            return nullptr;
    }
    return nullptr;
}

std::unique_ptr<QFile> makeTemporaryBeside(const QString& target, QString* reason) {
    if (auto unnamed = makeUnnamedBeside(target, reason))
        return unnamed;
    return makeNamedBeside(target, reason);
}

namespace {

// The file a chain of symbolic links ends at, even when it does not exist yet; the path itself
// when it is no link or the chain does not end.
QString linkTarget(const QString& path) {
    QFileInfo info(path);
    for (int depth = 0; depth < 64; ++depth) {
        if (!info.isSymLink())
            return info.filePath();
        info.setFile(info.symLinkTarget());
    }
    return path;
}

// Writes all the bytes from the file's current position; the reason of a failure, or nothing.
// `afterHalfWritten`, when set, runs between the two halves.
std::optional<QString> writeWhole(QFile& file, const QByteArray& bytes,
                                  const std::function<void()>& afterHalfWritten = {}) {
    const qint64 half = afterHalfWritten ? bytes.size() / 2 : 0;
    qint64 written = half > 0 ? file.write(bytes.constData(), half) : 0;
    if (written == half) {
        if (half > 0)
            afterHalfWritten();
        const qint64 rest = file.write(bytes.constData() + half, bytes.size() - half);
        written = rest < 0 ? rest : half + rest;
    }
    if (written == bytes.size() && file.flush() && file.error() == QFileDevice::NoError)
        return std::nullopt;
    // A short write sets no error of its own: say what happened (usually a full disk).
    if (file.error() != QFileDevice::NoError || written < 0)
        return file.errorString();
    return QStringLiteral("only %1 of %2 bytes could be written; the disk may be full")
        .arg(written)
        .arg(bytes.size());
}

std::optional<QString> checkSize(const QFile& file, qint64 expected) {
    const qint64 size = file.size();
    if (size == expected)
        return std::nullopt;
    return QStringLiteral("the file holds %1 bytes instead of %2").arg(size).arg(expected);
}

// The bytes reach the disk before the name moves over the old file, so that a power cut right
// after EXIT leaves the old file or the new one, never an empty one.
std::optional<QString> syncToDisk(QFile& file) {
    if (forceToDisk(file.handle()))
        return std::nullopt;
    return QStringLiteral("the file could not be forced to the disk");
}

std::filesystem::path fileSystemPath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

// Files written while forcing new files is deferred, and whether it is.
bool deferringNewFiles = false;
std::vector<QString> deferredFiles;

// The temporary file, written whole, takes the target's name: the unnamed one by a link, the
// named one by a rename.
std::optional<QString> nameTemporary(QFile& temporary, const QString& target) {
    if (temporary.fileName().isEmpty())
        return platform::nameUnnamedFile(temporary.handle(), target, temporaryNameFor(target));
#ifdef Q_OS_WIN
    // Windows renames no file that is open. Elsewhere it stays open, and marked as in use,
    // until it has its new name.
    temporary.close();
#endif
    std::error_code renameError;
    std::filesystem::rename(fileSystemPath(temporary.fileName()), fileSystemPath(target),
                            renameError);
    if (!renameError)
        return std::nullopt;
    return QString::fromStdString(renameError.message());
}

// The atomic way: a temporary file, written whole and forced to the disk, takes the target's
// name.
std::optional<QString> replaceThrough(QFile& temporary, const QString& target,
                                      const QByteArray& bytes,
                                      const std::function<void()>& afterHalfWritten) {
    const bool deferForcing = deferringNewFiles && !QFileInfo::exists(target);
    std::optional<QString> failure = writeWhole(temporary, bytes, afterHalfWritten);
    if (!failure)
        failure = checkSize(temporary, bytes.size());
    if (!failure && !deferForcing)
        failure = syncToDisk(temporary);
    if (!failure)
        failure = nameTemporary(temporary, target);
    temporary.close();
    if (!failure) {
        if (deferForcing)
            deferredFiles.push_back(target);
        return std::nullopt;
    }
    if (!temporary.fileName().isEmpty())
        temporary.remove();
    return failure;
}

// The way left where no new file can be made: over the old content, then cut to the new size.
// Nothing is truncated before the new bytes are in: overwriting blocks the file already has
// needs no new room on the disk.
std::optional<QString> writeInPlace(const QString& target, const QByteArray& bytes,
                                    const std::function<void()>& afterHalfWritten) {
    QFile file(target);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return file.errorString();
    std::optional<QString> failure = writeWhole(file, bytes, afterHalfWritten);
    if (!failure && !file.resize(bytes.size()))
        failure = file.errorString();
    if (!failure)
        failure = checkSize(file, bytes.size());
    if (!failure)
        failure = syncToDisk(file);
    return failure;
}

} // namespace

bool writeSettingsFile(const QString& path, const Settings& settings, QString* error,
                       const SettingsWriteSteps& steps) {
    const QString target = linkTarget(path);
    if (QFileInfo(target).isDir()) {
        setError(error, QStringLiteral("cannot write %1: it is a directory").arg(path));
        return false;
    }
    const QByteArray bytes = encodeSettings(settings);
    QString noTemporary;
    const std::unique_ptr<QFile> temporary = steps.makeTemporary(target, &noTemporary);
    const std::optional<QString> failure =
        temporary ? replaceThrough(*temporary, target, bytes, steps.afterHalfWritten)
                  : writeInPlace(target, bytes, steps.afterHalfWritten);
    if (failure) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(path, *failure));
        return false;
    }
    return true;
}

void deferForcingNewFiles() {
    deferringNewFiles = true;
}

void forceDeferredWrites() {
    deferringNewFiles = false;
    for (const QString& target : std::exchange(deferredFiles, {})) {
        // A file that can no longer be opened is no longer the one written here: left alone.
        QFile file(target);
        if (file.open(QIODevice::ReadOnly) && syncToDisk(file))
            QFile::remove(target);
    }
}

int removeLeftoverTemporaries(const QString& path) {
    const QFileInfo target(linkTarget(path));
    const QRegularExpression ownName(QStringLiteral("^%1\\.new-[0-9a-f]{8}$")
                                         .arg(QRegularExpression::escape(target.fileName())));
    QDir folder = target.absoluteDir();
    folder.setFilter(QDir::Files | QDir::Hidden | QDir::System);
    folder.setNameFilters({target.fileName() + QStringLiteral(".new-*")});
    int removed = 0;
    for (const QString& name : folder.entryList()) {
        const QString candidate = folder.filePath(name);
        if (ownName.match(name).hasMatch() && platform::isAbandonedTemporary(candidate) &&
            QFile::remove(candidate))
            ++removed;
    }
    return removed;
}

} // namespace vmx
