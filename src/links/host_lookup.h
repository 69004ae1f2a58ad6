#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

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

// A look-up that answers through the event loop, for links whose preparation must not hold the
// thread (the window's): `resolver` runs on a thread of its own and `answered` follows on this
// object's thread. The caller bounds the wait itself; an answer to a look-up cancelled, replaced
// by a newer one, or arriving after this object is gone is dropped.
class LaterHostLookup : public QObject {
    Q_OBJECT
public:
    explicit LaterHostLookup(HostResolver resolver, QObject* parent = nullptr);
    ~LaterHostLookup() override;

    void start(const QString& name);
    void cancel() { ++asked_; }

signals:
    void answered(const QList<QHostAddress>& addresses);

private:
    struct Mailbox;
    HostResolver resolver_;
    std::shared_ptr<Mailbox> mailbox_;
    quint64 asked_ = 0;
};

} // namespace vmx
