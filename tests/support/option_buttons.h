#pragma once

#include "settings/settings_codec.h"

#include <QStringList>

class QWidget;

namespace vmx::test {

// The IP address and port fields with their captions, shown only while "Udp" is chosen.
inline const char* const kIpFields[] = {"Label4", "Text3", "Label5", "Text4"};

// Settings with the given file codes for port, baud rate and format, address 2 and command RD.
// The IP fields aim at this machine and their port text is no number, so a SEND over UDP fails
// at its first step and nothing is ever sent.
Settings optionCodes(float port, float baud, float format);

// The names of the option buttons of `window` that are switched on, Option1 to Option11.
QStringList chosenOptions(const QWidget& window);

// How many of the four IP fields of `window` are shown: 0 or 4 are the only sane answers.
int ipFieldsShown(const QWidget& window);

} // namespace vmx::test
