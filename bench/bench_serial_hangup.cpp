// How much processor time the program uses while a serial device has gone away: a real window
// with COM1 linked to a pseudo-terminal, one SEND answered by the device, then the device goes
// (its side of the pseudo-terminal closes, as an unplugged USB adapter does) and the process's
// own CPU time over the following second is printed. The same after a SEND whose write fails
// because the device went while the frame was being sent.
//
//   bench_serial_hangup   (runs offscreen unless QT_QPA_PLATFORM says otherwise)
#include "app/main_form.h"
#include "app/message_window.h"
#include "support/object_tree.h"
#include "support/pty_pair.h"
#include "support/scratch_dir.h"

#include "machine_load.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace {

using vmx::test::PtyPair;

constexpr double kTargetPercent = 5.0;

// User plus system time of the whole process so far, in milliseconds.
double processCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) {
        return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Runs the event loop for one second and prints the CPU time the process used meanwhile; on a
// busy machine the verdict is "inconclusive".
bool reportIdleSecond(const char* name) {
    vmx::bench::LoadWatch load;
    QElapsedTimer wall;
    const double before = processCpuMs();
    wall.start();
    // A plain event loop: the program's own idle cost, without a test helper's polling.
    QEventLoop loop;
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpuMs = processCpuMs() - before;
    const double wallMs = double(wall.nsecsElapsed()) / 1e6;
    const double percent = 100.0 * cpuMs / wallMs;
    const bool met = percent <= kTargetPercent;
    load.finish();
    std::printf("%-34s %8.1f ms CPU in %6.1f ms (%5.1f %%)   target <= %.0f ms (%.0f %%): %s\n",
                name, cpuMs, wallMs, percent, 10.0 * kTargetPercent, kTargetPercent,
                load.verdict(met));
    return met;
}

struct Window {
    QStringList messages;
    std::unique_ptr<vmx::MainForm> form;

    Window() {
        vmx::MainFormWaysOut waysOut;
        waysOut.showMessage = [this](QWidget*, const QString& text) { messages << text; };
        waysOut.endProgram = [] {};
        waysOut.resolveHost = {}; // only the serial link is used: no name is ever looked up
        form = std::make_unique<vmx::MainForm>(waysOut);
    }
    QLineEdit* box(const char* name) const {
        return form->findChild<QLineEdit*>(QLatin1String(name));
    }
    void send() const { form->findChild<QPushButton*>(QStringLiteral("Command1"))->click(); }
};

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vmx::test::ScratchDir dir;
    auto device = std::make_unique<PtyPair>();
    if (!dir.isValid() || !device->isValid() || !device->linkAs(1)) {
        std::fprintf(stderr, "no scratch directory or pseudo-terminal\n");
        return 2;
    }

    Window w;
    if (!w.form->loadSettings()) {
        std::fprintf(stderr, "settings file could not be created\n");
        return 2;
    }
    w.form->show();
    // Address 02, command RD: an 8-byte frame.
    w.box("Text1")->setText(QStringLiteral("02"));
    std::printf("COM1 on a pseudo-terminal, %s\n", qPrintable(device->slavePath()));

    // One exchange, then the device goes.
    w.send();
    if (device->readMaster(8).size() != 8 || !device->writeMaster("\x06") || !QTest::qWaitFor([&] {
            return vmx::test::partOf<vmx::MessageWindow>(*w.form).text() == "ACK\r\n";
        })) {
        std::fprintf(stderr, "the exchange did not complete\n");
        return 2;
    }
    reportIdleSecond("idle with the device answering");
    device->closeMaster();
    const bool afterHangUp = reportIdleSecond("after the device closed");

    // A new device at the same name that goes away while SEND writes the frame: the echo is
    // shown between opening the port and writing, so the device leaves then. Another address
    // makes the echo change.
    device = std::make_unique<PtyPair>();
    if (!device->isValid() || !device->linkAs(1))
        return 2;
    PtyPair* leaving = device.get();
    QObject::connect(w.box("outmessage"), &QLineEdit::textChanged, w.form.get(),
                     [leaving] { leaving->closeMaster(); });
    w.messages.clear();
    w.box("Text1")->setText(QStringLiteral("03"));
    w.send();
    std::printf("SEND on the leaving device showed: %s\n",
                w.messages.isEmpty() ? "nothing" : qPrintable(w.messages.join(", ")));
    const bool afterFailedWrite = reportIdleSecond("after the failed write");
    return afterHangUp && afterFailedWrite ? 0 : 1;
}
