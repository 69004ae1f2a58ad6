// Floods the running window's UDP port from 127.0.0.1 and prints how much of the flood the
// window lists against a plain recvfrom() loop fed by the same sender in the same run, the
// longest stall of the window's event loop, and the process's peak memory.
//
//   bench_udp_flood [datagrams] [big]   (default 1000000 small datagrams, then 64 KiB ones for
//                                        at most 10 s; run inside a private network namespace
//                                        with QT_QPA_PLATFORM=offscreen)
//
// Everything goes to 127.0.0.1 only: the window's link on port 5000, a plain socket on a port
// of the system's choice, and the one frame of the set-up SEND to a sink socket.
#include "app/main_form.h"
#include "links/udp_link.h"
#include "protocol/reply_assembler.h"

#include "shown_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
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
#include <thread>

namespace {

sockaddr_in loopback(quint16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// The process's peak resident memory since the last reset, in MiB.
double peakMiB() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1)
            break;
    std::fclose(status);
    return double(kib) / 1024.0;
}

void resetPeak() {
    if (FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
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
    double longestStallMs = 0;
    long linesAtLongestStall = 0; // lines the window had shown when it ended
    double peak = 0;
    double seconds = 0;
};

// Sends `payloadFor(i)` to the window and to the plain socket, as fast as the system takes it,
// until `keepSending(i)` says no; meanwhile runs the window's event loop and times its turns.
Figures flood(vmx::MainForm& form, const std::function<QByteArray(long)>& payloadFor,
              const std::function<bool(long)>& keepSending) {
    Figures f;
    PlainReceiver plain;
    vmx::ReplyAssembler windowJudge;
    std::atomic<long> windowLines{0};
    const auto counter = QObject::connect(&form.udpLink(), &vmx::UdpLink::datagramReceived,
                                          [&](const QByteArray& payload) {
                                              ++f.windowDatagrams;
                                              if (windowJudge.receive(payload, 0))
                                                  ++windowLines;
                                          });

    std::atomic<bool> senderDone{false};
    std::atomic<long> sent{0};
    resetPeak();
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

    // A timer that should fire every 5 ms: the longest gap between two of its ticks is the
    // longest time the window could not react.
    QEventLoop loop;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double stallMs = double(sinceTick.nsecsElapsed()) / 1e6;
        if (stallMs > f.longestStallMs) {
            f.longestStallMs = stallMs;
            f.linesAtLongestStall = windowLines;
        }
        sinceTick.restart();
    });
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
    tick.start();
    done.start();
    loop.exec();
    f.seconds = double(clock.nsecsElapsed()) / 1e9;
    f.peak = peakMiB();
    sender.join();
    plainThread.join();
    QObject::disconnect(counter);

    f.sent = sent;
    f.windowLines = windowLines;
    f.plainDatagrams = plain.datagrams;
    f.plainLines = plain.lines;
    return f;
}

void report(const char* name, const Figures& f) {
    const double ratio = f.plainLines > 0 ? double(f.windowLines) / double(f.plainLines) : 0;
    std::printf("%s: %ld datagrams sent to each receiver in %.1f s\n", name, f.sent, f.seconds);
    std::printf("  plain recvfrom() loop: %ld datagrams, %ld lines\n", f.plainDatagrams,
                f.plainLines);
    std::printf("  window:                %ld datagrams, %ld lines shown\n", f.windowDatagrams,
                f.windowLines);
    std::printf("  lines shown / lines of the plain loop: %.3f   (target >= 0.9)\n", ratio);
    std::printf(
        "  longest event-loop stall: %.1f ms, ending after %ld lines   (target <= 100 ms)\n",
        f.longestStallMs, f.linesAtLongestStall);
    std::printf("  peak memory of the process: %.0f MiB   (target <= 300 MiB)\n", f.peak);
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

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const long smallCount = argc > 1 ? std::max(1000L, std::atol(argv[1])) : 1'000'000L;
    const double bigSeconds = argc > 2 ? std::atof(argv[2]) : 10.0;

    const auto window = vmx::bench::shownWindow();
    vmx::MainForm& form = *window;

    // One SEND over UDP sets the link up on port 5000; its frame goes to a sink on 127.0.0.1.
    QUdpSocket sink;
    sink.bind(QHostAddress::LocalHost, 0);
    form.findChild<QAbstractButton*>(QStringLiteral("Option9"))->click();
    form.findChild<QLineEdit*>(QStringLiteral("Text3"))->setText(QStringLiteral("127.0.0.1"));
    form.findChild<QLineEdit*>(QStringLiteral("Text4"))->setText(QString::number(sink.localPort()));
    if (form.udpLink().remoteHost() != QHostAddress() ||
        form.findChild<QLineEdit*>(QStringLiteral("Text3"))->text() != "127.0.0.1")
        return 1;
    form.findChild<QAbstractButton*>(QStringLiteral("Command1"))->click();
    if (!form.udpLink().isSetUp() || form.udpLink().remoteHost() != QHostAddress::LocalHost) {
        std::fprintf(stderr, "the window could not bind UDP port 5000 on this machine\n");
        return 1;
    }

    report("small datagrams (ACK, replies, garbage)",
           flood(form, smallDatagram, [smallCount](long i) { return i < smallCount; }));

    // 64 KiB replies, each a line of almost 64 Ki characters, sent for a while: the window keeps
    // at most 32 Mi characters of them however many come.
    QByteArray big(65000, 'B');
    big[0] = '\x07';
    big[big.size() - 1] = '\x03';
    QElapsedTimer bigClock;
    bigClock.start();
    report("64 KiB replies ending in ETX",
           flood(
               form, [&big](long) { return big; },
               [&bigClock, bigSeconds](long) { return bigClock.elapsed() < bigSeconds * 1000; }));
    return 0;
}
