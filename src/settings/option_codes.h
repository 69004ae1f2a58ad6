#pragma once

#include "links/link_choice.h"

#include <array>
#include <cstddef>

namespace vmx {

// The three frames of option buttons and what each button stands for.
enum class OptionGroup { Port, Baud, Format };

// One option button: its control name and caption, what choosing it means (the field of its
// group) and the code the settings file stores for it.
struct OptionButton {
    const char* objectName;
    const char* caption;
    OptionGroup group;
    float fileCode;
    LinkKind link = LinkKind::Serial;
    int serialPort = 0; // COM1..COM4
    BaudRate baud = BaudRate::Baud1200;
    LineFormat format = LineFormat::E71;
};

// Every option button, by frame. Ports and baud rates count from 1 in the file; UDP is 99.
inline constexpr std::array<OptionButton, 11> kOptionButtons{{
    {"Option1", "Com1", OptionGroup::Port, 1.0f, LinkKind::Serial, 1},
    {"Option2", "Com2", OptionGroup::Port, 2.0f, LinkKind::Serial, 2},
    {"Option3", "Com3", OptionGroup::Port, 3.0f, LinkKind::Serial, 3},
    {"Option4", "Com4", OptionGroup::Port, 4.0f, LinkKind::Serial, 4},
    {"Option9", "Udp", OptionGroup::Port, 99.0f, LinkKind::Udp},
    {"Option5", "1200", OptionGroup::Baud, 1.0f, {}, 0, BaudRate::Baud1200},
    {"Option6", "2400", OptionGroup::Baud, 2.0f, {}, 0, BaudRate::Baud2400},
    {"Option7", "9600", OptionGroup::Baud, 3.0f, {}, 0, BaudRate::Baud9600},
    {"Option8", "19200", OptionGroup::Baud, 4.0f, {}, 0, BaudRate::Baud19200},
    {"Option10", "E71", OptionGroup::Format, 0.0f, {}, 0, {}, LineFormat::E71},
    {"Option11", "N81", OptionGroup::Format, 1.0f, {}, 0, {}, LineFormat::N81},
}};

// The index in kOptionButtons of the button of a group whose file code is exactly `code`, or -1
// when none matches (a file may hold 7 or 1.5: then no button of that group is chosen).
int buttonForFileCode(OptionGroup group, float code);

} // namespace vmx
