#include "settings/option_codes.h"

#include <cstring>

namespace vmx {

const OptionButton* buttonForFileCode(OptionGroup group, float code) {
    for (const OptionButton& button : kOptionButtons) {
        // Exact comparison on purpose: 1.5 or 7 in the file choose nothing.
        if (button.group == group && button.fileCode == code)
            return &button;
    }
    return nullptr;
}

const OptionButton* buttonNamed(const char* objectName) {
    if (objectName == nullptr)
        return nullptr;
    for (const OptionButton& button : kOptionButtons) {
        if (std::strcmp(button.objectName, objectName) == 0)
            return &button;
    }
    return nullptr;
}

} // namespace vmx
