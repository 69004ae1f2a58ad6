#pragma once

#include "links/host_lookup.h"
#include "supervision/reply_watchdog.h"

#include <QString>

#include <chrono>
#include <functional>

class QWidget;

namespace vmx {

inline const QString kApplicationTitle = QStringLiteral("Velmarixon");

// A modal message box with the text, one OK button, no icon and the application's title. When
// it closes, the window is activated again and the control that had the focus gets it back.
void showModalMessage(QWidget* owner, const QString& text);

// Ends the program at once: every window goes and no further event is handled.
void endProgramNow();

// The window's only ways out to things a test must not block on or be ended by: message boxes,
// the end of the program, the watchdog's period, and the look-up of host names.
struct MainFormWaysOut {
    std::function<void(QWidget* owner, const QString& text)> showMessage = showModalMessage;
    std::function<void()> endProgram = endProgramNow;
    std::chrono::milliseconds replyTimeout = kReplyTimeout;
    HostResolver resolveHost = systemHostLookup;
};

} // namespace vmx
