// SignalWatch on Windows: a console control handler, which the system calls on a thread of its
// own, posts the event to the watch's thread.
#include "platform/signal_watch.h"

#include <QMetaObject>

#include <mutex>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace vmx {

namespace {

std::mutex watchMutex;
SignalWatch* current = nullptr; // guarded by watchMutex
HANDLE watchGone = nullptr;     // set when the watch is destroyed

BOOL WINAPI onConsoleEvent(DWORD event) {
    StopSignal signal = StopSignal::Interrupt;
    bool endsAtReturn = false; // the system ends the process as soon as the handler returns
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        break;
    case CTRL_CLOSE_EVENT:
        signal = StopSignal::Hangup;
        endsAtReturn = true;
        break;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        signal = StopSignal::Terminate;
        endsAtReturn = true;
        break;
    default:
        return FALSE;
    }
    HANDLE gone = nullptr;
    {
        const std::lock_guard lock(watchMutex);
        if (current == nullptr)
            return FALSE;
        SignalWatch* watch = current;
        QMetaObject::invokeMethod(
            watch, [watch, signal] { emit watch->arrived(signal); }, Qt::QueuedConnection);
        gone = watchGone;
    }
    // The program tidies up on its event loop meanwhile; the system allows about five seconds.
    if (endsAtReturn && gone != nullptr)
        ::WaitForSingleObject(gone, 4500);
    return TRUE;
}

} // namespace

SignalWatch::SignalWatch(QObject* parent) : QObject(parent) {
    const std::lock_guard lock(watchMutex);
    if (current != nullptr)
        return;
    watchGone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (watchGone == nullptr)
        return;
    if (!::SetConsoleCtrlHandler(onConsoleEvent, TRUE)) {
        ::CloseHandle(watchGone);
        watchGone = nullptr;
        return;
    }
    current = this;
    valid_ = true;
}

SignalWatch::~SignalWatch() {
    if (!valid_)
        return;
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    const std::lock_guard lock(watchMutex);
    current = nullptr;
    // The handle stays open: a handler still waiting on it must find it valid; the process ends
    // soon after the watch in every program that has one.
    ::SetEvent(watchGone);
    watchGone = nullptr;
}

void ignoreBrokenPipe() {}

} // namespace vmx
