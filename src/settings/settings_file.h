#pragma once

#include "settings/settings_codec.h"

#include <QString>

#include <optional>

namespace vmx {

// Reads the file's bytes; nullopt with a reason in `error` when it cannot be opened or read.
// Only the head of a huge file is read: the fourteen items a valid file holds sit at its start.
std::optional<QByteArray> readSettingsBytes(const QString& path, QString* error = nullptr);

// Replaces the file atomically: the new content goes to a temporary file beside it, which is
// renamed over the old one only when fully written, so a failed write never leaves a truncated
// or empty file behind. Returns false with a reason in `error`.
bool writeSettingsFile(const QString& path, const Settings& settings, QString* error = nullptr);

} // namespace vmx
