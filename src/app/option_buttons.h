#pragma once

#include "settings/option_codes.h"

#include <array>

namespace vmx {

// One option button: its control name, its caption, and the stored choice it stands for.
struct OptionButton {
    const char* objectName;
    const char* caption;
    OptionCode meaning;
};

// Every option button, by frame, in the order of kOptionCodes: the window builds its three
// frames of buttons from this table, and a button's index is its code's.
inline constexpr std::array<OptionButton, kOptionCodes.size()> kOptionButtons{{
    {"Option1", "Com1", kOptionCodes[0]},
    {"Option2", "Com2", kOptionCodes[1]},
    {"Option3", "Com3", kOptionCodes[2]},
    {"Option4", "Com4", kOptionCodes[3]},
    {"Option9", "Udp", kOptionCodes[4]},
    {"Option5", "1200", kOptionCodes[5]},
    {"Option6", "2400", kOptionCodes[6]},
    {"Option7", "9600", kOptionCodes[7]},
    {"Option8", "19200", kOptionCodes[8]},
    {"Option10", "E71", kOptionCodes[9]},
    {"Option11", "N81", kOptionCodes[10]},
}};

} // namespace vmx
