#pragma once

#include <QFont>
#include <QString>

namespace vmx {

// A font by family and point size; where the family is missing Qt falls back to the
// platform's sans-serif.
inline QFont sansFont(const QString& family, double pointSize, bool bold) {
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

inline QFont windowFont() {
    return sansFont(QStringLiteral("MS Sans Serif"), 8.25, false);
}

} // namespace vmx
