#pragma once

#include "settings/settings_codec.h"

#include <QFile>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace vmx {

// Reads the file's bytes; nullopt with a reason in `error` when it cannot be opened or read.
// Only the head of a huge file is read: the fourteen items a valid file holds sit at its start.
std::optional<QByteArray> readSettingsBytes(const QString& path, QString* error = nullptr);

// Makes a new, empty file beside `target` under a name no other file has, open for writing;
// nullptr with a reason when the folder takes no new file (no write permission, a sticky or
// immutable folder, no room for another entry).
using TemporaryFileMaker =
    std::function<std::unique_ptr<QFile>(const QString& target, QString* reason)>;
std::unique_ptr<QFile> makeTemporaryBeside(const QString& target, QString* reason);

// Replaces the file (the file a symbolic link leads to, the link staying a link). As a rule
// atomically: the new content goes to a temporary file beside it, which is renamed over the old
// one only when fully written, so a failed write never leaves a truncated or empty file behind.
// Where no temporary file can be made, the file is written in place instead: every write and the
// final size are checked, and a failure is reported the same way (the file may then be damaged,
// there being no other place to write to). Returns false with a reason in `error`.
// `makeTemporary` is how the temporary file is made; tests replace it.
bool writeSettingsFile(const QString& path, const Settings& settings, QString* error = nullptr,
                       const TemporaryFileMaker& makeTemporary = makeTemporaryBeside);

} // namespace vmx
