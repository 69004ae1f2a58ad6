#pragma once

#include <QString>
#include <QStringList>

namespace vmx {

class EventLog;
class Exchange;

// Feeds the commissioning log from an exchange's signals: frames sent and bytes received in
// hex, the outcomes, bytes dropped before a SEND, link errors and a device that went away. The
// log must outlive the exchange's use; it only listens and changes nothing.
void logExchange(const Exchange& exchange, EventLog& log);

// The window's `--log FILE`: the file named, or an empty text when none is.
QString logPathArgument(const QStringList& arguments);

} // namespace vmx
