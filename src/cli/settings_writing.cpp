#include "cli/settings_writing.h"

#include "settings/option_codes.h"

namespace vmx {

namespace {

// The file code of `group` that stands for `value` (a baud rate or a format).
template <typename Value>
float fileCodeOf(OptionGroup group, Value value, Value OptionCode::*field) {
    for (const OptionCode& code : kOptionCodes)
        if (code.group == group && code.*field == value)
            return code.fileCode;
    return 0; // every value has its code
}

} // namespace

SettingsResult settingsToWrite(const CommandLine& line, const Settings& settings) {
    // The frame builder's checks, with the messages a run would give: an operator's first SEND
    // must not be the first to find the address or command unusable.
    if (const PlanResult planned = planSend(line, settings); !planned.plan)
        return {std::nullopt, planned.error};

    Settings written = settings;
    if (line.portButton)
        written.iniPort = kOptionCodes[std::size_t(*line.portButton)].fileCode;
    if (line.baud)
        written.iniBaud = fileCodeOf(OptionGroup::Baud, *line.baud, &OptionCode::baud);
    if (line.format)
        written.comFormat = fileCodeOf(OptionGroup::Format, *line.format, &OptionCode::format);
    // As EXIT stores the address box: its numeric value.
    if (line.address)
        written.iniAddress = numericValue(*line.address);
    written.iniCommand = line.command.value_or(written.iniCommand);
    written.ipAddress = line.ipAddress.value_or(written.ipAddress);
    written.ipPort = line.ipPort.value_or(written.ipPort);
    return {written, QString()};
}

} // namespace vmx
