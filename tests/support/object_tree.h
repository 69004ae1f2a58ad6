#pragma once

#include <QObject>
#include <QString>
#include <QtGlobal>

namespace vmx::test {

// The part of type T (with that object name, when one is given) anywhere under `owner` in Qt's
// object tree. Tests reach the links, the watchdog, the serial port and the message window the
// way they reach the window's controls: the program has no accessor that only tests call.
template <typename T> T& partOf(const QObject& owner, const char* objectName = nullptr) {
    T* part = owner.findChild<T*>(objectName ? QString::fromLatin1(objectName) : QString());
    if (!part)
        qFatal("no %s under %s", T::staticMetaObject.className(), qPrintable(owner.objectName()));
    return *part;
}

} // namespace vmx::test
