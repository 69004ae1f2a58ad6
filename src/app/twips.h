#pragma once

#include <QRect>

namespace vmx {

// Layouts are given in twips: 1/1440 inch, 15 to a pixel at 96 dpi. Other densities are left
// to Qt's high-DPI scaling.
constexpr int twips(int value) {
    return value / 15;
}

inline QRect twipRect(int left, int top, int width, int height) {
    return {twips(left), twips(top), twips(width), twips(height)};
}

} // namespace vmx
