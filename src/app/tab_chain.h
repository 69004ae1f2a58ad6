#pragma once

#include <vector>

namespace vmx {

// One control of the window's tab order, as the keyboard sees it.
struct TabEntry {
    bool focusable = false; // shown and enabled
    int optionGroup = -1;   // option buttons: their frame; -1 for every other control
    bool checked = false;   // option buttons: chosen
};

// Whether entry `index` is a stop of the tab chain: every shown control; of an option group
// only the chosen button, or the group's first button while none is chosen so the group can
// still be reached by keyboard.
bool isTabStop(const std::vector<TabEntry>& entries, int index);

// The next stop after `current` in tab order (or before it, going backward), wrapping around.
// `current` may be -1 when the focus is on no entry. Returns -1 when nothing can take the focus.
int nextTabStop(const std::vector<TabEntry>& entries, int current, bool forward);

} // namespace vmx
