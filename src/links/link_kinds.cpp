#include "links/link_kinds.h"

#include "links/rfc2217_link.h"
#include "links/serial_link.h"
#include "links/tcp_link.h"
#include "links/udp_link.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace vmx {

namespace {

template <typename Kind> std::unique_ptr<Link> make(const HostResolver& resolveHost) {
    return std::make_unique<Kind>(resolveHost);
}

template <> std::unique_ptr<Link> make<SerialLink>(const HostResolver&) {
    return std::make_unique<SerialLink>();
}

QString serialText(const LinkTarget& target) {
    const auto& serial = std::get<SerialTarget>(target);
    return serial.serialPath.isEmpty() ? serialPortPath(serial.serialPort) : serial.serialPath;
}

QString udpText(const LinkTarget& target) {
    const auto& udp = std::get<UdpTarget>(target);
    return udp.ipAddress + u':' + udp.ipPort;
}

template <typename Target> QString serverText(const LinkTarget& target) {
    return std::get<Target>(target).endpoint.text;
}

LinkTarget udpTarget(const Endpoint& endpoint, const std::optional<LineSettings>&) {
    return UdpTarget{endpoint.host, QString::number(endpoint.port)};
}

LinkTarget tcpTarget(const Endpoint& endpoint, const std::optional<LineSettings>&) {
    return TcpTarget{endpoint};
}

LinkTarget rfc2217Target(const Endpoint& endpoint, const std::optional<LineSettings>& line) {
    return Rfc2217Target{endpoint, line};
}

const std::array<LinkKindRow, kLinkKinds> kRows{{
    {LinkKind::Serial, "serial", nullptr, "MSComm1", make<SerialLink>, true, false, true, false,
     serialText, nullptr},
    {LinkKind::Udp, "udp", "udp", "Winsock1", make<UdpLink>, false, true, false, false, udpText,
     udpTarget},
    {LinkKind::Tcp, "socket", "socket", "Socket1", make<TcpLink>, false, false, true, true,
     serverText<TcpTarget>, tcpTarget},
    {LinkKind::Rfc2217, "rfc2217", "rfc2217", "Rfc2217Socket1", make<Rfc2217Link>, true, false,
     true, true, serverText<Rfc2217Target>, rfc2217Target},
}};

// HOST:PORT, HOST in brackets when it is an IPv6 address.
std::optional<Endpoint> hostAndPort(QStringView text, const QString& typed) {
    static const QRegularExpression form(
        QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([^\\[\\]:/\\s]+)):([0-9]{1,5})$"));
    const auto match = form.match(text.toString());
    if (!match.hasMatch())
        return std::nullopt;
    const int port = match.captured(3).toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    Endpoint endpoint{typed, match.hasCaptured(1) ? match.captured(1) : match.captured(2),
                      quint16(port)};
    if (match.hasCaptured(1)) {
        const QHostAddress address(endpoint.host);
        if (address.protocol() != QAbstractSocket::IPv6Protocol)
            return std::nullopt;
    }
    return endpoint;
}

} // namespace

const std::array<LinkKindRow, kLinkKinds>& linkKinds() {
    return kRows;
}

const LinkKindRow& linkKind(LinkKind kind) {
    return kRows[std::size_t(kind)];
}

std::optional<TypedEndpoint> typedEndpoint(QStringView text, QString* error) {
    for (const LinkKindRow& row : kRows) {
        if (!row.scheme)
            continue;
        const QString prefix = QLatin1String(row.scheme) + QStringLiteral("://");
        if (!text.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        TypedEndpoint typed{&row, {}};
        if (const auto endpoint = hostAndPort(text.mid(prefix.size()), text.toString()))
            typed.endpoint = *endpoint;
        else if (error)
            *error = QStringLiteral("%1HOST:PORT needs a host (an IPv4 address, an IPv6 address "
                                    "in brackets or a name) and a port from 1 to 65535, for "
                                    "example %1%2.")
                         .arg(prefix, QStringLiteral("127.0.0.1:4001"));
        return typed;
    }
    return std::nullopt;
}

QString schemeForms(bool onlyComFiles) {
    QStringList forms;
    for (const LinkKindRow& row : kRows) {
        if (row.scheme && (!onlyComFiles || row.namedByComFile))
            forms.append(QLatin1String(row.scheme) + QStringLiteral("://HOST:PORT"));
    }
    return forms.join(QStringLiteral(", "));
}

} // namespace vmx
