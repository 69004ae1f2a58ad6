#pragma once

#include "app/main_form.h"
#include "support/scratch_dir.h"

#include <QStringList>

#include <chrono>
#include <memory>

namespace vmx::test {

// What the window said and did through its seams instead of blocking or ending the test.
struct SeamRecord {
    QStringList messages;
    int endCount = 0;
};

// Seams that record message boxes and the end of the program. The watchdog period can be
// shortened here; the program's own value is asserted separately.
MainFormSeams recordingSeams(SeamRecord& record,
                             std::chrono::milliseconds replyTimeout = kReplyTimeout);

// A window started the way the program starts it, inside a scratch current directory in which
// COM1..COM4 are links to nowhere, so no test ever reaches a real serial port.
// Call start() after preparing the directory (velmarixon.ini, COMn links).
class WindowFixture {
public:
    explicit WindowFixture(std::chrono::milliseconds replyTimeout = kReplyTimeout);
    ~WindowFixture();

    // loadSettings, show, focus on the first tab stop; returns what loadSettings returned.
    bool start();

    ScratchDir& dir() { return dir_; }
    SeamRecord& record() { return record_; }
    MainForm& form() { return *form_; }

    template <typename T> T* control(const char* objectName) const {
        return form_->findChild<T*>(QLatin1String(objectName));
    }

private:
    ScratchDir dir_;
    SeamRecord record_;
    std::unique_ptr<MainForm> form_;
};

} // namespace vmx::test
