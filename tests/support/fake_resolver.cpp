#include "support/fake_resolver.h"

#include <QHash>

#include <condition_variable>
#include <mutex>

namespace vmx::test {

struct FakeResolver::Record {
    mutable std::mutex mutex;
    std::condition_variable released;
    bool isReleased = false;
    QHash<QString, QList<QHostAddress>> known;
    QHash<QString, std::chrono::milliseconds> late;
    QStringList asked;
    int answered = 0;
};

FakeResolver::FakeResolver() : record_(std::make_shared<Record>()) {}

FakeResolver& FakeResolver::know(const QString& name, const QList<QHostAddress>& addresses) {
    const std::lock_guard lock(record_->mutex);
    record_->known.insert(name, addresses);
    return *this;
}

FakeResolver& FakeResolver::answerLate(const QString& name, std::chrono::milliseconds delay) {
    const std::lock_guard lock(record_->mutex);
    record_->late.insert(name, delay);
    return *this;
}

void FakeResolver::release() {
    const std::lock_guard lock(record_->mutex);
    record_->isReleased = true;
    record_->released.notify_all();
}

HostResolver FakeResolver::resolver() const {
    return [record = record_](const QString& name) {
        std::unique_lock lock(record->mutex);
        record->asked.append(name);
        if (record->late.contains(name))
            record->released.wait_for(lock, record->late.value(name),
                                      [&] { return record->isReleased; });
        ++record->answered;
        return record->known.value(name);
    };
}

QStringList FakeResolver::askedNames() const {
    const std::lock_guard lock(record_->mutex);
    return record_->asked;
}

int FakeResolver::answered() const {
    const std::lock_guard lock(record_->mutex);
    return record_->answered;
}

} // namespace vmx::test
