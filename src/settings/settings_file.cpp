#include "settings/settings_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

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

bool writeSettingsFile(const QString& path, const Settings& settings, QString* error) {
    const QFileInfo info(path);
    if (info.isDir()) {
        setError(error, QStringLiteral("cannot write %1: it is a directory").arg(path));
        return false;
    }
    QSaveFile file(path);
    // Never fall back to writing the file in place: that could leave it cut short.
    file.setDirectWriteFallback(false);
    // Unbuffered, so that a failing write is seen here and by commit(): a failure while a
    // buffer is flushed inside commit() would otherwise go unnoticed and the short temporary
    // file would replace the good one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    const QByteArray bytes = encodeSettings(settings);
    const qint64 written = file.write(bytes);
    if (written != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        // A short write sets no error of its own: say what happened (usually a full disk).
        const QString reason =
            file.error() != QFileDevice::NoError || written < 0
                ? file.errorString()
                : QStringLiteral("only %1 of %2 bytes could be written; the disk may be full")
                      .arg(written)
                      .arg(bytes.size());
        file.cancelWriting();
        setError(error, QStringLiteral("cannot write %1: %2").arg(path, reason));
        return false;
    }
    if (!file.commit()) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

} // namespace vmx
