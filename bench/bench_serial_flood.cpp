// Floods the window's serial link with random bytes (ACK, NAK and ETX among them, as on a
// noisy line) over a pseudo-terminal linked as COM1, and prints how fast the window takes them,
// the longest stall of its event loop seen from inside and, on X, from another process, and the
// process's peak memory; once as it is, once after the operator selected and copied the whole
// message window (Ctrl+A, Ctrl+C), with the copy pasted elsewhere every 2 s.
//
//   bench_serial_flood [megabytes] [paste-target] [pastes-at-once]
//     (defaults 50, UTF8_STRING, 1; offscreen unless QT_QPA_PLATFORM says otherwise; under
//      xvfb-run with QT_QPA_PLATFORM=xcb the X probe runs too)
#include "app/main_form.h"
#include "app/message_window.h"
#include "links/serial_link.h"
#include "support/object_tree.h"
#include "support/scratch_dir.h"

#include "flood_probes.h"
#include "shown_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSerialPort>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <random>
#include <thread>

namespace {

// The device's side of a pseudo-terminal whose other side is linked as COM1 in the current
// directory.
class Device {
public:
    Device() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        const char* slave = ::ptsname(master_);
        valid_ = slave && QFile::link(QString::fromLocal8Bit(slave), QStringLiteral("COM1"));
    }
    ~Device() {
        if (master_ >= 0)
            ::close(master_);
    }
    bool isValid() const { return valid_; }

    // Writes `megabytes` of random bytes as fast as the line takes them, reading away what the
    // window sends meanwhile.
    void flood(long megabytes, std::atomic<bool>& done) {
        std::mt19937 random(4711);
        char chunk[4096];
        char sink[4096];
        long left = megabytes * 1000 * 1000;
        while (left > 0) {
            for (char& byte : chunk)
                byte = char(random());
            const char* at = chunk;
            long size = std::min<long>(sizeof chunk, left);
            while (size > 0) {
                pollfd ready{master_, POLLOUT | POLLIN, 0};
                ::poll(&ready, 1, 100);
                if (ready.revents & POLLIN)
                    (void)!::read(master_, sink, sizeof sink);
                if (!(ready.revents & POLLOUT))
                    continue;
                const ssize_t written = ::write(master_, at, size_t(size));
                if (written > 0) {
                    at += written;
                    size -= written;
                    left -= written;
                }
            }
        }
        done = true;
    }
    // Whatever the window wrote (its SEND frames).
    void drain() {
        char sink[4096];
        pollfd ready{master_, POLLIN, 0};
        while (::poll(&ready, 1, 50) > 0 && ::read(master_, sink, sizeof sink) > 0) {
        }
    }

private:
    int master_ = -1;
    bool valid_ = false;
};

void floodOnce(vmx::MainForm& form, Device& device, long megabytes, bool selected) {
    auto* view = form.findChild<QPlainTextEdit*>(QStringLiteral("Text2"));
    long events = 0;
    const auto counter = QObject::connect(&form.exchange(), &vmx::Exchange::received,
                                          [&events](vmx::LinkKind from, const QByteArray&) {
                                              events += from == vmx::LinkKind::Serial;
                                          });
    vmx::bench::StallFigures s; // its machine watch starts here, before the probe and the writer
    vmx::bench::resetPeak();
    vmx::bench::StallTimer stalls;
    vmx::bench::XProbe probe;
    if (selected) {
        vmx::bench::selectAllAndCopy(view);
        probe.start(form, 2.0);
    } else {
        probe.start(form);
    }
    std::atomic<bool> done{false};
    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] { device.flood(megabytes, done); });
    QEventLoop loop;
    QTimer check;
    check.setInterval(50);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done)
            loop.quit();
    });
    stalls.start();
    check.start();
    loop.exec();
    // The last bytes still in the line.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    stalls.stop();
    s.x = probe.stop();
    writer.join();
    s.timerLongestMs = stalls.longestMs();
    s.timerP99Ms = stalls.p99Ms();
    s.peak = vmx::bench::peakMiB();
    s.machine.finish();
    QObject::disconnect(counter);

    const QString text = vmx::test::partOf<vmx::MessageWindow>(form).text();
    std::printf("%ld MB of random bytes on COM1 (a pseudo-terminal)%s: %.1f s, %.1f MB/s, %ld "
                "receive events\n",
                megabytes, selected ? ", whole window selected and copied (Ctrl+A, Ctrl+C)" : "",
                seconds, double(megabytes) / seconds, events);
    if (selected && s.x.ran)
        std::printf("  the X probe pastes the primary selection every 2.0 s%s\n",
                    vmx::bench::pasteManner().c_str());
    std::printf("  window keeps %lld lines, %lld characters\n",
                static_cast<long long>(text.count(QStringLiteral("\r\n"))),
                static_cast<long long>(text.size()));
    vmx::bench::reportStalls(s);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long megabytes = argc > 1 ? std::max(1L, std::atol(argv[1])) : 50L;
    if (argc > 2)
        vmx::bench::pasteTarget = argv[2];
    if (argc > 3)
        vmx::bench::pastesAtOnce = std::max(1, std::atoi(argv[3]));
    vmx::test::ScratchDir dir;
    Device device;
    if (!dir.isValid() || !device.isValid()) {
        std::fprintf(stderr, "no scratch directory or pseudo-terminal\n");
        return 2;
    }
    const auto window = vmx::bench::shownWindow();
    vmx::MainForm& form = *window;
    // COM1, 19200 baud, no parity and 8 data bits, so every byte passes as sent; one SEND opens
    // the line.
    for (const char* option : {"Option1", "Option8", "Option11"})
        form.findChild<QAbstractButton*>(QLatin1String(option))->click();
    form.findChild<QAbstractButton*>(QStringLiteral("Command1"))->click();
    device.drain();
    if (!vmx::test::partOf<QSerialPort>(form).isOpen()) {
        std::fprintf(stderr, "the window could not open COM1\n");
        return 2;
    }
    std::printf("platform %s, %u cores\n", qPrintable(QGuiApplication::platformName()),
                std::thread::hardware_concurrency());
    floodOnce(form, device, megabytes, false);
    floodOnce(form, device, megabytes, true);
    return 0;
}
