#include "settings/option_codes.h"

namespace vmx {

int buttonForFileCode(OptionGroup group, float code) {
    for (std::size_t i = 0; i < kOptionButtons.size(); ++i) {
        // Exact comparison on purpose: 1.5 or 7 in the file choose nothing.
        if (kOptionButtons[i].group == group && kOptionButtons[i].fileCode == code)
            return int(i);
    }
    return -1;
}

} // namespace vmx
