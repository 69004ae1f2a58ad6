// Floods the running window's UDP port from 127.0.0.1 and prints how much of the flood the
// window lists against a plain recvfrom() loop fed by the same sender in the same run, the
// longest stall of the window's event loop seen from inside (a timer in its thread) and, when
// the window runs on X, from another process (bench_x_window_probe pinging it), the process's
// peak memory and how much processor time other programs took meanwhile. Three floods: small
// datagrams, 64 KiB replies, and random datagrams after 300 lines of 60,000 characters; each once
// as the window is and once after the operator selected and copied the whole window (Ctrl+A,
// Ctrl+C), the probe then pasting the selection every few seconds as another program would.
//
//   bench_udp_flood [datagrams] [big-seconds] [long-lines-seconds] [small|big|long|all]
//                   [paste-every-seconds] [paste-target] [pastes-at-once]
//     (defaults 1000000, 10, 10, all, 2, UTF8_STRING, 1; run inside a private network namespace,
//     offscreen
//      or, for the X probe, under xvfb-run with QT_QPA_PLATFORM=xcb)
//
// Everything goes to 127.0.0.1 only: the window's link on port 5000, a plain socket on a port
// of the system's choice, and the one frame of the set-up SEND to a sink socket.
#include "app/main_form.h"
#include "app/message_window.h"
#include "links/udp_link.h"
#include "protocol/reply_assembler.h"
#include "support/object_tree.h"

#include "flood_probes.h"
#include "shown_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTimer>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <thread>

namespace {

sockaddr_in loopback(quint16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A plain socket on 127.0.0.1 read by a recvfrom() loop in a thread of its own; it judges the
// datagrams as the window does, to know how many lines they make.
class PlainReceiver {
public:
    PlainReceiver() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address = loopback(0);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        timeval wait{0, 300'000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    ~PlainReceiver() { ::close(fd_); }
    quint16 port() const { return port_; }

    // Reads until the sender is done and nothing has come for a while.
    void run(const std::atomic<bool>& senderDone) {
        static char buffer[65536];
        vmx::ReplyAssembler assembler;
        for (;;) {
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got < 0) {
                if (senderDone)
                    return;
                continue;
            }
            ++datagrams;
            if (assembler.receive(QByteArrayView(buffer, got), 0))
                ++lines;
        }
    }

    long datagrams = 0;
    long lines = 0;

private:
    int fd_ = -1;
    quint16 port_ = 0;
};

struct Figures {
    long sent = 0;
    long windowDatagrams = 0;
    long windowLines = 0;
    long plainDatagrams = 0;
    long plainLines = 0;
    double seconds = 0;
    vmx::bench::StallFigures stalls;
};

// How the operator left the message window when the flood starts.
enum class Selection { None, WholeWindowCopied };

// Sends `payloadFor(i)` to the window and to the plain socket, as fast as the system takes it,
// until `keepSending(i)` says no; meanwhile runs the window's event loop and times its turns
// from inside and, on X, from another process.
// How often the X probe pastes the window's selection (0: never).
double pasteEverySeconds = 2.0;

Figures flood(vmx::MainForm& form, Selection selection,
              const std::function<QByteArray(long)>& payloadFor,
              const std::function<bool(long)>& keepSending) {
    Figures f; // its machine watch starts here, before the probe and the threads
    PlainReceiver plain;
    vmx::ReplyAssembler windowJudge;
    std::atomic<long> windowLines{0};
    // The window's exchange reports every datagram it takes, as it came.
    const auto counter = QObject::connect(&form.exchange(), &vmx::Exchange::received,
                                          [&](vmx::LinkKind from, const QByteArray& payload) {
                                              if (from != vmx::LinkKind::Udp)
                                                  return;
                                              ++f.windowDatagrams;
                                              if (windowJudge.receive(payload, 0))
                                                  ++windowLines;
                                          });

    vmx::bench::resetPeak();
    vmx::bench::StallTimer stalls;
    vmx::bench::XProbe probe;
    if (selection == Selection::WholeWindowCopied) {
        auto* view = form.findChild<QPlainTextEdit*>(QStringLiteral("Text2"));
        vmx::bench::selectAllAndCopy(view);
        // How long the selection's text takes to make (in a worker thread, from the copy on).
        QElapsedTimer pasting;
        pasting.start();
        const std::unique_ptr<QMimeData> copy(
            vmx::test::partOf<vmx::MessageWindow>(form).copyOf(view->textCursor()));
        const qsizetype bytes = copy->data(QStringLiteral("text/plain")).size();
        std::printf("  selection's text for a paste: %lld bytes, ready %.1f ms after the copy\n",
                    static_cast<long long>(bytes), double(pasting.nsecsElapsed()) / 1e6);
        probe.start(form, pasteEverySeconds);
    } else {
        probe.start(form);
    }
    std::atomic<bool> senderDone{false};
    std::atomic<long> sent{0};
    QElapsedTimer clock;
    clock.start();
    std::thread plainThread([&] { plain.run(senderDone); });
    std::thread sender([&] {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in window = loopback(vmx::kLocalUdpPort);
        const sockaddr_in other = loopback(plain.port());
        long i = 0;
        while (keepSending(i)) {
            const QByteArray payload = payloadFor(i);
            ::sendto(fd, payload.constData(), size_t(payload.size()), 0,
                     reinterpret_cast<const sockaddr*>(&window), sizeof window);
            ::sendto(fd, payload.constData(), size_t(payload.size()), 0,
                     reinterpret_cast<const sockaddr*>(&other), sizeof other);
            sent = ++i;
        }
        ::close(fd);
        senderDone = true;
    });

    QEventLoop loop;
    long lastSeen = -1;
    QElapsedTimer quiet;
    quiet.start();
    QTimer done;
    done.setInterval(100);
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (f.windowDatagrams != lastSeen) {
            lastSeen = f.windowDatagrams;
            quiet.restart();
        } else if (senderDone && quiet.elapsed() > 500) {
            loop.quit();
        }
    });
    stalls.start();
    done.start();
    loop.exec();
    f.seconds = double(clock.nsecsElapsed()) / 1e9;
    // The probes stop before the threads are joined: the plain loop ends only after its
    // receive timeout, a wait of the benchmark, not of the window.
    stalls.stop();
    f.stalls.x = probe.stop();
    sender.join();
    plainThread.join();
    f.stalls.timerLongestMs = stalls.longestMs();
    f.stalls.timerP99Ms = stalls.p99Ms();
    f.stalls.peak = vmx::bench::peakMiB();
    f.stalls.machine.finish();
    QObject::disconnect(counter);

    f.sent = sent;
    f.windowLines = windowLines;
    f.plainDatagrams = plain.datagrams;
    f.plainLines = plain.lines;
    return f;
}

void report(const char* name, Selection selection, const Figures& f) {
    const double ratio = f.plainLines > 0 ? double(f.windowLines) / double(f.plainLines) : 0;
    std::printf("%s%s: %ld datagrams sent to each receiver in %.1f s\n", name,
                selection == Selection::WholeWindowCopied
                    ? ", whole window selected and copied (Ctrl+A, Ctrl+C)"
                    : "",
                f.sent, f.seconds);
    if (selection == Selection::WholeWindowCopied && f.stalls.x.ran)
        std::printf("  the X probe pastes the primary selection every %.1f s%s\n",
                    pasteEverySeconds, vmx::bench::pasteManner().c_str());
    std::printf("  plain recvfrom() loop: %ld datagrams, %ld lines\n", f.plainDatagrams,
                f.plainLines);
    std::printf("  window:                %ld datagrams (%.0f/s), %ld lines shown\n",
                f.windowDatagrams, double(f.windowDatagrams) / f.seconds, f.windowLines);
    std::printf("  lines shown / lines of the plain loop: %.3f   (target >= 0.9)\n", ratio);
    vmx::bench::reportStalls(f.stalls);
    std::fflush(stdout);
}

// A mix as a device and a stranger might send it: acknowledgements, full replies, and
// garbage without a terminator that the next ACK or reply ends.
QByteArray smallDatagram(long i) {
    switch (i % 3) {
    case 0:
        return QByteArrayLiteral("\x06");
    case 1:
        return "\x07"
               "02T=" +
               QByteArray::number(21.5 + double(i % 100)) + " #" + QByteArray::number(i) + "4F\x03";
    default:
        return "garbage #" + QByteArray::number(i) + " without an end";
    }
}

// Random bytes, 1 to 120 of them, every other datagram ending in ETX.
QByteArray randomDatagram(long i) {
    thread_local std::mt19937 random(12345);
    QByteArray payload(int(1 + random() % 120), Qt::Uninitialized);
    for (char& byte : payload)
        byte = char(random());
    if (i % 2 == 0)
        payload[payload.size() - 1] = '\x03';
    return payload;
}

bool wanted(const char* only, const char* name) {
    return !only || std::strcmp(only, name) == 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const long smallCount = argc > 1 ? std::max(1000L, std::atol(argv[1])) : 1'000'000L;
    const double bigSeconds = argc > 2 ? std::atof(argv[2]) : 10.0;
    const double longLinesSeconds = argc > 3 ? std::atof(argv[3]) : 10.0;
    const char* only = argc > 4 && std::strcmp(argv[4], "all") != 0 ? argv[4] : nullptr;
    if (argc > 5)
        pasteEverySeconds = std::atof(argv[5]);
    if (argc > 6)
        vmx::bench::pasteTarget = argv[6];
    if (argc > 7)
        vmx::bench::pastesAtOnce = std::max(1, std::atoi(argv[7]));

    const auto window = vmx::bench::shownWindow();
    vmx::MainForm& form = *window;

    // One SEND over UDP sets the link up on port 5000; its frame goes to a sink on 127.0.0.1.
    QUdpSocket sink;
    sink.bind(QHostAddress::LocalHost, 0);
    form.findChild<QAbstractButton*>(QStringLiteral("Option9"))->click();
    form.findChild<QLineEdit*>(QStringLiteral("Text3"))->setText(QStringLiteral("127.0.0.1"));
    form.findChild<QLineEdit*>(QStringLiteral("Text4"))->setText(QString::number(sink.localPort()));
    // The link's socket is still unbound, so this SEND aims it at the address box's 127.0.0.1.
    const QUdpSocket& socket = vmx::test::partOf<QUdpSocket>(form);
    if (socket.state() != QAbstractSocket::UnconnectedState ||
        form.findChild<QLineEdit*>(QStringLiteral("Text3"))->text() != "127.0.0.1")
        return 1;
    form.findChild<QAbstractButton*>(QStringLiteral("Command1"))->click();
    if (socket.state() != QAbstractSocket::BoundState) {
        std::fprintf(stderr, "the window could not bind UDP port 5000 on this machine\n");
        return 1;
    }
    std::printf("platform %s, %u cores\n", qPrintable(QGuiApplication::platformName()),
                std::thread::hardware_concurrency());

    for (const Selection selection : {Selection::None, Selection::WholeWindowCopied}) {
        if (wanted(only, "small"))
            report("small datagrams (ACK, replies, garbage)", selection,
                   flood(form, selection, smallDatagram,
                         [smallCount](long i) { return i < smallCount; }));

        // 64 KiB replies, each a line of almost 64 Ki characters, sent for a while.
        if (wanted(only, "big")) {
            QByteArray big(65000, 'B');
            big[0] = '\x07';
            big[big.size() - 1] = '\x03';
            QElapsedTimer bigClock;
            bigClock.start();
            report("64 KiB replies ending in ETX", selection,
                   flood(
                       form, selection, [&big](long) { return big; },
                       [&bigClock, bigSeconds](long) {
                           return bigClock.elapsed() < bigSeconds * 1000;
                       }));
        }

        // 300 lines of 60,000 characters in the window, then random datagrams.
        if (wanted(only, "long")) {
            vmx::test::partOf<vmx::MessageWindow>(form).clear();
            const QByteArray longReply = "\x07"
                                         "02" +
                                         QByteArray(60'000, 'L') + "xy\x03";
            // From a device on 127.0.0.1, each taken before the next: a full receive buffer
            // would drop some.
            QUdpSocket device;
            long taken = 0;
            const auto counting =
                QObject::connect(&form.exchange(), &vmx::Exchange::received,
                                 [&taken](vmx::LinkKind, const QByteArray&) { ++taken; });
            for (int i = 0; i < 300; ++i) {
                device.writeDatagram(longReply, QHostAddress::LocalHost, vmx::kLocalUdpPort);
                QDeadlineTimer deadline(5000);
                while (taken <= i && !deadline.hasExpired())
                    QApplication::processEvents();
            }
            QObject::disconnect(counting);
            vmx::test::partOf<vmx::MessageWindow>(form).flush();
            QApplication::processEvents();
            QElapsedTimer longClock;
            longClock.start();
            report("random datagrams of 1-120 bytes, half ending in ETX, after 300 lines of "
                   "60,000 characters",
                   selection,
                   flood(form, selection, randomDatagram, [&longClock, longLinesSeconds](long) {
                       return longClock.elapsed() < longLinesSeconds * 1000;
                   }));
        }
    }
    return 0;
}
