#pragma once

#include "cli/send_options.h"
#include "settings/settings_codec.h"

#include <QString>

#include <optional>

namespace vmx {

// --write-settings: `settings` with the command line's port, baud rate, format, address, command
// and IP fields over them, as the window would save them had they been chosen and typed there.
// Refused, with a usage error, where a run of the same options would be.
struct SettingsResult {
    std::optional<Settings> settings;
    QString error; // a usage error, one line
};
SettingsResult settingsToWrite(const CommandLine& line, const Settings& settings);

} // namespace vmx
