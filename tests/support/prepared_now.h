#pragma once

#include "links/link.h"

#include <optional>

namespace vmx::test {

// Prepares a link that reports before returning (a serial port, a UDP socket) and gives its
// report; false as well when it has not reported by then.
inline bool preparedNow(Link& link, const LinkTarget& target) {
    std::optional<bool> ready;
    const auto report =
        QObject::connect(&link, &Link::prepared, &link, [&ready](bool ok) { ready = ok; });
    link.prepare(target);
    QObject::disconnect(report);
    return ready.value_or(false);
}

} // namespace vmx::test
