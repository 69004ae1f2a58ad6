#include "app/tab_chain.h"

#include <cstddef>

namespace vmx {

bool isTabStop(const std::vector<TabEntry>& entries, int index) {
    if (index < 0 || index >= static_cast<int>(entries.size()))
        return false;
    const TabEntry& entry = entries[static_cast<std::size_t>(index)];
    if (!entry.focusable)
        return false;
    if (entry.optionGroup < 0 || entry.checked)
        return true;
    bool groupHasChoice = false;
    int firstOfGroup = -1;
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        const TabEntry& other = entries[static_cast<std::size_t>(i)];
        if (other.optionGroup != entry.optionGroup || !other.focusable)
            continue;
        groupHasChoice = groupHasChoice || other.checked;
        if (firstOfGroup < 0)
            firstOfGroup = i;
    }
    return !groupHasChoice && firstOfGroup == index;
}

int nextTabStop(const std::vector<TabEntry>& entries, int current, bool forward) {
    const int count = static_cast<int>(entries.size());
    if (count == 0)
        return -1;
    int index = current;
    if (index < 0)
        index = forward ? -1 : count;
    for (int step = 0; step < count; ++step) {
        index = forward ? (index + 1) % count : (index - 1 + count) % count;
        if (isTabStop(entries, index))
            return index;
    }
    return -1;
}

} // namespace vmx
