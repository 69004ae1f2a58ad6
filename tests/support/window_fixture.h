#pragma once

#include "app/infobox.h"
#include "app/main_form.h"
#include "app/message_window.h"
#include "links/serial_link.h"
#include "links/udp_link.h"
#include "support/link_parts.h"
#include "support/scratch_dir.h"

#include <QStringList>

#include <chrono>
#include <memory>

class QLineEdit;

namespace vmx::test {

// The window's choices in the selectors' terms: port 0..3 for COM1..COM4 and 99 for UDP, baud
// rate 0..3 for 1200..19200, format 0 for E71 and 1 for N81; -1 where nothing is chosen.
float portSelect(const MainForm& form);
float baudSelect(const MainForm& form);
float comFormat(const MainForm& form);
// The window's parts, found in its object tree (support/object_tree.h).
const SerialLink& serialLink(const MainForm& form);
const UdpLink& udpLink(const MainForm& form);
const ReplyWatchdog& watchdog(const MainForm& form);
MessageWindow& messageWindow(const MainForm& form);
// The about box while one exists, shown or not: a window of its own.
Infobox* infobox();

// What the window said and did through its ways out instead of blocking or ending the test.
struct WaysOutRecord {
    QStringList messages;
    int endCount = 0;
};

// Whether the window's message boxes are only recorded or are the program's own modal boxes.
enum class MessageBoxes { Recorded, Shown };

// Ways out that record the end of the program and, unless the program's own boxes are wanted, the
// message boxes. The watchdog period can be shortened here; the program's own value is
// asserted separately. Host names are known to no one: no window test asks the system's
// resolver, which would send a query off the machine.
MainFormWaysOut recordingWaysOut(WaysOutRecord& record,
                                 std::chrono::milliseconds replyTimeout = kReplyTimeout,
                                 MessageBoxes boxes = MessageBoxes::Recorded);

// A window started the way the program starts it, inside a scratch current directory in which
// COM1..COM4 are links to nowhere, so no test ever reaches a real serial port.
// Call start() after preparing the directory (velmarixon.ini, COMn links).
class WindowFixture {
public:
    // `resolveHost`, when given, answers the window's host-name look-ups.
    explicit WindowFixture(std::chrono::milliseconds replyTimeout = kReplyTimeout,
                           MessageBoxes boxes = MessageBoxes::Recorded,
                           HostResolver resolveHost = {});
    ~WindowFixture();

    // loadSettings, show, focus on the first tab stop; returns what loadSettings returned.
    bool start();
    // The same, from a settings file written with `settings` first.
    bool start(const Settings& settings);

    // The next run of the program in the same directory: this window goes, a new one that has
    // not been started takes its place, and the record starts empty.
    void nextRun();

    ScratchDir& dir() { return dir_; }
    WaysOutRecord& record() { return record_; }
    QStringList& messages() { return record_.messages; }
    MainForm& form() { return *form_; }

    template <typename T> T* control(const char* objectName) const {
        return form_->findChild<T*>(QLatin1String(objectName));
    }
    QLineEdit* box(const char* objectName) const;
    // Clicks the push or option button of that name.
    void click(const char* objectName) const;
    // What the message window shows.
    QString messageText() const;
    // The characters of an answer collected so far.
    const QByteArray& rxBuffer() const;

private:
    ScratchDir dir_;
    WaysOutRecord record_;
    MainFormWaysOut waysOut_;
    std::unique_ptr<MainForm> form_;
};

} // namespace vmx::test
