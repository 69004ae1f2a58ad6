#pragma once

#include "links/host_lookup.h"

#include <QHostAddress>
#include <QList>
#include <QStringList>

#include <chrono>
#include <memory>

namespace vmx::test {

// Host names answered the way a test wants, without any name server. The resolver it hands out
// shares its record, so what was asked can be read afterwards, also when the look-up ran and
// answered on a thread of its own after the caller stopped waiting.
class FakeResolver {
public:
    FakeResolver();

    // `name` resolves to `addresses`, in that order; a name not known resolves to nothing.
    FakeResolver& know(const QString& name, const QList<QHostAddress>& addresses);
    // Look-ups of `name` answer only after `delay`, or as soon as release() is called.
    FakeResolver& answerLate(const QString& name, std::chrono::milliseconds delay);
    void release();

    HostResolver resolver() const;
    QStringList askedNames() const;
    // How many look-ups have given their answer so far.
    int answered() const;

private:
    struct Record;
    std::shared_ptr<Record> record_;
};

} // namespace vmx::test
