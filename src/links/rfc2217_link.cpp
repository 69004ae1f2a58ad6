#include "links/rfc2217_link.h"

namespace vmx {

namespace {

LineSettings lineOf(const LinkTarget& target) {
    const auto* rfc2217 = std::get_if<Rfc2217Target>(&target);
    return rfc2217 && rfc2217->line ? *rfc2217->line : LineSettings{};
}

} // namespace

void Rfc2217Link::connectionUp(const LinkTarget& target) {
    client_.emplace(lineOf(target));
    if (!sendToServer(client_->opening()))
        failPreparation(QStringLiteral("the server takes nothing"));
}

void Rfc2217Link::takeBytes(const QByteArray& bytes) {
    if (!client_)
        return;
    QByteArray data;
    QByteArray reply;
    client_->feed(bytes, data, reply);
    // What the device sent before the line was set arrives first; SEND drops it as left over.
    if (!data.isEmpty())
        emit bytesArrived(data);
    if (!reply.isEmpty() && !sendToServer(reply)) {
        const QString reason = QStringLiteral("the server does not take what is sent to it");
        return negotiating() ? failPreparation(reason) : dropConnection(reason);
    }
    switch (client_->state()) {
    case Rfc2217Client::State::Negotiating:
        break;
    case Rfc2217Client::State::Ready:
        if (negotiating())
            becomeReady();
        break;
    case Rfc2217Client::State::Failed: {
        const QString reason = client_->failure();
        client_.reset();
        // A server that breaks the protocol later (a subnegotiation without end) loses its
        // connection: nothing it sends can be trusted to be the device's any more.
        if (negotiating())
            failPreparation(reason);
        else
            dropConnection(reason);
        break;
    }
    }
}

QByteArray Rfc2217Link::encoded(QByteArrayView frame) const {
    return Rfc2217Client::escaped(frame);
}

bool Rfc2217Link::sameSettings(const LinkTarget& current, const LinkTarget& wanted) const {
    return lineOf(current) == lineOf(wanted);
}

} // namespace vmx
