#pragma once

#include <QString>
#include <QStringList>

namespace vmx {

// velmarixon-send --list-ports: every serial port the system knows, one line each, with its
// stable /dev/serial/by-id name where there is one, its description, manufacturer, USB
// vendor:product and serial number; then where COM1 ... COM4 lead from the current folder.
QStringList portListing();

} // namespace vmx
