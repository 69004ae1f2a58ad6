#pragma once

#include "links/rfc2217_client.h"
#include "links/tcp_link.h"

#include <optional>

namespace vmx {

// A serial device server that takes the line settings over Telnet's COM-PORT-OPTION
// (`rfc2217://HOST:PORT`). On connecting it asks for the baud rate and format of the SEND and
// is ready once the server has confirmed them; a refusal or another value fails the SEND with
// what the server did. The payload is Telnet-escaped both ways, so a byte 0xFF of the command
// reaches the line once and one of the reply reaches the payload once.
//
// Other line settings than the connection's close it and connect again with the new ones:
// each SEND applies the current choice, as the serial link does.
class Rfc2217Link : public TcpLink {
    Q_OBJECT
public:
    using TcpLink::TcpLink;

protected:
    void connectionUp(const LinkTarget& target) override;
    void takeBytes(const QByteArray& bytes) override;
    QByteArray encoded(QByteArrayView frame) const override;
    bool sameSettings(const LinkTarget& current, const LinkTarget& wanted) const override;

private:
    std::optional<Rfc2217Client> client_;
};

} // namespace vmx
