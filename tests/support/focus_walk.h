#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace vmx::test {

// The object name of the widget that has the keyboard focus, or "<none>".
QString focusName();

// Presses Tab (or Shift+Tab) on whatever has the focus, as the keyboard does, and lists where
// the focus went after each press.
QStringList tabWalk(int presses, bool forward);

// Gives `widget` the focus and waits until it has it.
bool focusOn(QWidget* widget);

} // namespace vmx::test
