#pragma once

#include "links/host_lookup.h"
#include "links/link.h"
#include "links/link_target.h"

#include <QString>
#include <QStringView>

#include <array>
#include <memory>
#include <optional>

namespace vmx {

// What every part of the program needs to know of one kind of link, in one place: a new kind
// is its link file and one row here (and, for the window, a button where it gets one).
struct LinkKindRow {
    LinkKind kind;
    // Its name in the log ("link-gone serial") and its scheme in endpoints typed as
    // SCHEME://HOST:PORT; no scheme: it has no such form.
    const char* name;
    const char* scheme;
    // The name of its control in the window's object tree.
    const char* objectName;
    std::unique_ptr<Link> (*make)(const HostResolver& resolveHost);

    // The request fields it reads: the baud and format buttons, the window's IP address and
    // port boxes.
    bool readsLineSettings;
    bool readsIpBoxes;
    // Bytes come as a stream, not as datagrams: each arrival brings the end of the window's
    // list into view, and what waits when the link opens is dropped as late.
    bool stream;
    // A file COMn in the working folder may name an endpoint of it (a device server behind a
    // Com button).
    bool namedByComFile;

    // How records and the log name where a target leads: the port path, the IP texts, the
    // endpoint as typed.
    QString (*endpointText)(const LinkTarget& target);
    // Its target for an endpoint typed with its scheme and the line settings chosen; none for a
    // kind without a scheme.
    LinkTarget (*fromEndpoint)(const Endpoint& endpoint, const std::optional<LineSettings>& line);
};

const std::array<LinkKindRow, kLinkKinds>& linkKinds();
const LinkKindRow& linkKind(LinkKind kind);

inline QString endpointText(const LinkTarget& target) {
    return linkKind(kindOf(target)).endpointText(target);
}

// An endpoint typed as SCHEME://HOST:PORT, HOST an IPv4 address, an IPv6 address in brackets
// or a name, PORT 1..65535; the row of its scheme.
struct TypedEndpoint {
    const LinkKindRow* row = nullptr;
    Endpoint endpoint; // port 0: the text after the scheme is no HOST:PORT
    bool valid() const { return endpoint.port != 0; }
};
// nullopt when the text starts with no scheme of the table; else its row and the endpoint, or
// (not valid) the row and why the rest is no HOST:PORT in `error`.
std::optional<TypedEndpoint> typedEndpoint(QStringView text, QString* error = nullptr);

// "socket://HOST:PORT, rfc2217://HOST:PORT, udp://HOST:PORT": the schemes for help texts,
// `only` those named by COMn files when asked.
QString schemeForms(bool onlyComFiles = false);

} // namespace vmx
