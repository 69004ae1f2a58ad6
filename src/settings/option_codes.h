#pragma once

#include <array>

namespace vmx {

// The three frames of option buttons and what each button stands for.
enum class OptionGroup { Port, Baud, Format };

struct OptionButton {
    const char* objectName; // "Option1" ... "Option11"
    const char* caption;
    OptionGroup group;
    float selectorValue; // written to portSelect, baudSelect or comFormat when chosen
    float fileCode;      // what the settings file stores for this choice
};

// Ports and baud rates count from 0 in the selectors but from 1 in the file; UDP is 99 in both.
inline constexpr std::array<OptionButton, 11> kOptionButtons{{
    {"Option1", "Com1", OptionGroup::Port, 0.0f, 1.0f},
    {"Option2", "Com2", OptionGroup::Port, 1.0f, 2.0f},
    {"Option3", "Com3", OptionGroup::Port, 2.0f, 3.0f},
    {"Option4", "Com4", OptionGroup::Port, 3.0f, 4.0f},
    {"Option9", "Udp", OptionGroup::Port, 99.0f, 99.0f},
    {"Option5", "1200", OptionGroup::Baud, 0.0f, 1.0f},
    {"Option6", "2400", OptionGroup::Baud, 1.0f, 2.0f},
    {"Option7", "9600", OptionGroup::Baud, 2.0f, 3.0f},
    {"Option8", "19200", OptionGroup::Baud, 3.0f, 4.0f},
    {"Option10", "E71", OptionGroup::Format, 0.0f, 0.0f},
    {"Option11", "N81", OptionGroup::Format, 1.0f, 1.0f},
}};

inline constexpr float kUdpPortSelect = 99.0f;

// The button of a group whose file code is exactly `code`, or nullptr when none matches
// (a file may hold 7 or 1.5: then no button of that group is chosen).
const OptionButton* buttonForFileCode(OptionGroup group, float code);

// The button with the given object name, or nullptr.
const OptionButton* buttonNamed(const char* objectName);

} // namespace vmx
