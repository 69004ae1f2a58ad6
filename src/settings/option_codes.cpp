#include "settings/option_codes.h"

namespace vmx {

int optionForFileCode(OptionGroup group, float code) {
    for (std::size_t i = 0; i < kOptionCodes.size(); ++i) {
        // Exact comparison on purpose: 1.5 or 7 in the file choose nothing.
        if (kOptionCodes[i].group == group && kOptionCodes[i].fileCode == code)
            return int(i);
    }
    return -1;
}

} // namespace vmx
