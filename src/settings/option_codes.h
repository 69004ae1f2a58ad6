#pragma once

#include "links/link_choice.h"

#include <array>
#include <cstddef>

namespace vmx {

// The three stored choices: the port (iniPort), the baud rate (iniBaud), the format (comFormat).
enum class OptionGroup { Port, Baud, Format };

// One code the settings file stores for a choice, and what it stands for (the field of its
// group).
struct OptionCode {
    OptionGroup group;
    float fileCode;
    LinkKind link = LinkKind::Serial;
    int serialPort = 0; // COM1..COM4
    BaudRate baud = BaudRate::Baud1200;
    LineFormat format = LineFormat::E71;
};

// Every code, by group. Ports and baud rates count from 1 in the file; UDP is 99. The window's
// option buttons (app/option_buttons.h) come in this order.
inline constexpr std::array<OptionCode, 11> kOptionCodes{{
    {OptionGroup::Port, 1.0f, LinkKind::Serial, 1},
    {OptionGroup::Port, 2.0f, LinkKind::Serial, 2},
    {OptionGroup::Port, 3.0f, LinkKind::Serial, 3},
    {OptionGroup::Port, 4.0f, LinkKind::Serial, 4},
    {OptionGroup::Port, 99.0f, LinkKind::Udp},
    {OptionGroup::Baud, 1.0f, {}, 0, BaudRate::Baud1200},
    {OptionGroup::Baud, 2.0f, {}, 0, BaudRate::Baud2400},
    {OptionGroup::Baud, 3.0f, {}, 0, BaudRate::Baud9600},
    {OptionGroup::Baud, 4.0f, {}, 0, BaudRate::Baud19200},
    {OptionGroup::Format, 0.0f, {}, 0, {}, LineFormat::E71},
    {OptionGroup::Format, 1.0f, {}, 0, {}, LineFormat::N81},
}};

// The index in kOptionCodes of the code of a group that is exactly `code`, or -1 when none
// matches (a file may hold 7 or 1.5: then nothing of that group is chosen).
int optionForFileCode(OptionGroup group, float code);

} // namespace vmx
