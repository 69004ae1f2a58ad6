#include "links/host_lookup.h"

#include <QScopeGuard>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace vmx {

namespace {

// The meeting point of SEND and one look-up thread; whichever of them lets go of it last
// frees it.
struct PendingLookup {
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    QList<QHostAddress> addresses;
};

} // namespace

// Where a look-up thread hands its answer in: the object, while it lives. Its destructor takes
// the lock, so an answer is posted either before (and dropped with the object's events) or not
// at all.
struct LaterHostLookup::Mailbox {
    std::mutex mutex;
    LaterHostLookup* owner = nullptr;
};

LaterHostLookup::LaterHostLookup(HostResolver resolver, QObject* parent)
    : QObject(parent), resolver_(std::move(resolver)), mailbox_(std::make_shared<Mailbox>()) {
    mailbox_->owner = this;
}

LaterHostLookup::~LaterHostLookup() {
    const std::lock_guard lock(mailbox_->mutex);
    mailbox_->owner = nullptr;
}

void LaterHostLookup::start(const QString& name) {
    const quint64 asked = ++asked_;
    if (!resolver_) {
        QMetaObject::invokeMethod(
            this, [this] { emit answered({}); }, Qt::QueuedConnection);
        return;
    }
    try {
        std::thread([mailbox = mailbox_, resolver = resolver_, name, asked] {
            const QList<QHostAddress> addresses = resolver(name);
            const std::lock_guard lock(mailbox->mutex);
            if (LaterHostLookup* owner = mailbox->owner)
                QMetaObject::invokeMethod(
                    owner,
                    [owner, asked, addresses] {
                        if (asked == owner->asked_)
                            emit owner->answered(addresses);
                    },
                    Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: no answer either.
        QMetaObject::invokeMethod(
            this, [this] { emit answered({}); }, Qt::QueuedConnection);
    }
}

QList<QHostAddress> systemHostLookup(const QString& name) {
#ifdef Q_OS_WIN
    // Winsock answers nothing before it is started in the process; starts are counted, so
    // this one and its end leave any other user of Winsock as it was.
    WSADATA winsock;
    if (::WSAStartup(MAKEWORD(2, 2), &winsock) != 0)
        return {};
    const auto winsockEnd = qScopeGuard([] { ::WSACleanup(); });
#endif
    const QByteArray encoded = name.toUtf8();
    addrinfo hints{};
    hints.ai_family = AF_INET; // the socket is bound to IPv4 only
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(encoded.constData(), nullptr, &hints, &found) != 0)
        return {};
    QList<QHostAddress> addresses;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr)
            addresses.append(QHostAddress(entry->ai_addr));
    }
    ::freeaddrinfo(found);
    return addresses;
}

QList<QHostAddress> lookUpWithin(const HostResolver& resolver, const QString& name,
                                 std::chrono::milliseconds limit) {
    if (!resolver)
        return {};
    auto pending = std::make_shared<PendingLookup>();
    try {
        // Not std::async: its future would wait for the thread when dropped.
        std::thread([pending, resolver, name] {
            QList<QHostAddress> addresses = resolver(name);
            const std::lock_guard lock(pending->mutex);
            pending->addresses = std::move(addresses);
            pending->done = true;
            pending->answered.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return {}; // no thread to be had: no answer either
    }
    std::unique_lock lock(pending->mutex);
    if (!pending->answered.wait_for(lock, limit, [&] { return pending->done; }))
        return {};
    return pending->addresses;
}

} // namespace vmx
