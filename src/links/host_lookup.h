#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>

namespace vmx {

// How a host name becomes addresses: a look-up that may block and may run on any thread. It
// returns the IPv4 addresses of the name, or none when the name is unknown or the look-up
// failed. Tests give their own; the program uses systemHostLookup.
using HostResolver = std::function<QList<QHostAddress>(const QString& name)>;

// The longest a SEND waits for a host name to be resolved.
inline constexpr std::chrono::milliseconds kHostLookupLimit{2000};

// The system's own look-up of the IPv4 addresses of `name` (hosts file, name servers, as the
// platform is set up). It blocks for as long as the name servers take.
QList<QHostAddress> systemHostLookup(const QString& name);

// Runs `resolver` for `name` on a thread of its own and waits at most `limit` for its answer.
// No answer in time counts as none. A later answer is dropped: the thread owns everything it
// touches and ends by itself, so the caller, the program and its end never wait for it.
QList<QHostAddress> lookUpWithin(const HostResolver& resolver, const QString& name,
                                 std::chrono::milliseconds limit = kHostLookupLimit);

} // namespace vmx
