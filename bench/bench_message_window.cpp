// Sends reply lines to a real window through its links, as a device does (datagrams from
// 127.0.0.1 to UDP port 5000, bytes on COM1, a pseudo-terminal), and prints how fast, how the cost
// of a line changes as the message window grows (past its 100,000 lines the oldest go, which
// the last slice pays for), and the memory it takes per kept line. Each of these runs is made by
// a fresh process of this program, so that no run reuses memory another one freed.
//
//   bench_message_window [lines] [runs]   (default 200000 lines; runs: a part of the run names,
//                                          e.g. "bursts"; run with QT_QPA_PLATFORM=offscreen)
#include "app/main_form.h"
#include "app/message_window.h"
#include "links/link_target.h"
#include "support/object_tree.h"
#include "support/pty_pair.h"
#include "support/scratch_dir.h"

#include "shown_window.h"

#include "machine_load.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSerialPort>
#include <QUdpSocket>

#include <algorithm>
#include <cstring>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

enum class Door { Udp, Serial };

// A shown window with one link set up the way an operator sets it up (SEND with an empty
// command prepares the link and sends nothing), and the device's end of that link.
class Feed {
public:
    explicit Feed(Door door) : form_(vmx::bench::shownWindow()) {
        QObject::connect(
            &form_->exchange(), &vmx::Exchange::received,
            [this](vmx::LinkKind, const QByteArray& bytes) { taken_ += bytes.size(); });
        if (door == Door::Udp) {
            sink_.bind(QHostAddress::LocalHost, 0);
            device_.bind(QHostAddress::LocalHost, 0);
            click("Option9");
            box("Text3")->setText(QStringLiteral("127.0.0.1"));
            box("Text4")->setText(QString::number(sink_.localPort()));
        } else {
            pty_ = std::make_unique<vmx::test::PtyPair>();
            if (!dir_.isValid() || !pty_->isValid() || !pty_->linkAs(1))
                return;
            click("Option1");
        }
        box("xxx")->clear(); // the command box
        click("Command1");
        udp_ = door == Door::Udp;
        ready_ = true;
    }

    bool ready() const { return ready_; }
    vmx::MainForm& form() { return *form_; }

    // A reply as the device sends it: one datagram, or its bytes on the line.
    void send(const QByteArray& reply) {
        sent_ += reply.size();
        if (udp_) {
            device_.writeDatagram(reply, QHostAddress::LocalHost, vmx::kLocalUdpPort);
        } else {
            // Replies that reach the line together arrive as one chunk, of which the window
            // takes one answer: each goes only once the one before has been taken.
            pty_->writeMaster(reply);
            allTaken();
        }
    }

    // Turns the event loop until the window has taken every byte sent; false after 10 s.
    bool allTaken() {
        const QDeadlineTimer deadline(10'000);
        while (taken_ < sent_ && !deadline.hasExpired())
            QApplication::processEvents();
        return taken_ == sent_;
    }

private:
    QLineEdit* box(const char* name) { return form_->findChild<QLineEdit*>(QLatin1String(name)); }
    void click(const char* name) {
        form_->findChild<QAbstractButton*>(QLatin1String(name))->click();
    }

    vmx::test::ScratchDir dir_; // COM1 is found in the current directory
    std::unique_ptr<vmx::test::PtyPair> pty_;
    QUdpSocket sink_;   // where the SEND's nothing would go
    QUdpSocket device_; // sends the replies
    std::unique_ptr<vmx::MainForm> form_;
    bool udp_ = false;
    bool ready_ = false;
    qint64 sent_ = 0;
    qint64 taken_ = 0;
};

// A full reply as the device sends it: three leading characters, the payload, two check
// characters and ETX. No SEND has run, so the echoed command is empty.
QByteArray replyFor(int line) {
    return QByteArray("\x07"
                      "02") +
           "T=" + QByteArray::number(21.5 + line % 100) + " #" + QByteArray::number(line) +
           "4F\x03";
}

// Resident memory of the process now, in bytes.
double residentBytes() {
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE));
}

struct Figures {
    double linesPerSecond;
    double firstUs;      // median cost per line over the first slice
    double lastUs;       // and over the last slice
    double lastP99Us;    // the 99th percentile over the last slice
    double bytesPerLine; // per kept line
};

// Sends `lines` replies, `burst` at a time, waits until the window has taken them, and times
// each burst.
Figures run(int lines, int burst, Door door) {
    Feed feed(door);
    if (!feed.ready()) {
        std::fprintf(stderr, "no scratch directory or pseudo-terminal\n");
        return {};
    }
    vmx::MainForm& form = feed.form();

    const int slice = std::min(20000, lines / 2);
    std::vector<double> lineNs(static_cast<size_t>(lines));
    const double residentBefore = residentBytes();
    QElapsedTimer total;
    total.start();
    for (int first = 0; first < lines; first += burst) {
        const int count = std::min(burst, lines - first);
        QElapsedTimer turn;
        turn.start();
        for (int i = 0; i < count; ++i)
            feed.send(replyFor(first + i));
        if (!feed.allTaken())
            std::fprintf(stderr, "replies lost on the way\n");
        // The window handles the rest of the event, inserts the gathered lines and paints.
        QApplication::processEvents();
        const double each = double(turn.nsecsElapsed()) / count;
        for (int i = 0; i < count; ++i)
            lineNs[static_cast<size_t>(first + i)] = each;
    }
    const double seconds = double(total.nsecsElapsed()) / 1e9;
    // Every kept line is still held here, so this is the run's peak; beyond the window's line
    // bound the oldest lines have gone.
    const int kept = std::min(lines, vmx::MessageWindowLimits{}.lines);
    const double residentAfter = residentBytes();

    if (vmx::test::partOf<vmx::MessageWindow>(form).text().count(QLatin1String("\r\n")) != kept)
        std::fprintf(stderr, "line count mismatch\n");

    // The median over a slice: a turn slowed by another process on the machine does not count.
    auto sliceUs = [&](int from, double q) {
        return vmx::bench::percentile({lineNs.begin() + from, lineNs.begin() + from + slice}, q) /
               1000.0;
    };
    return {lines / seconds, sliceUs(0, 0.5), sliceUs(lines - slice, 0.5),
            sliceUs(lines - slice, 0.99), (residentAfter - residentBefore) / kept};
}

// Lines per second when every reply arrives alone and the window is painted after each one.
// The message window's size and font are handed out for the plain loop.
double singleRepliesRate(int lines, Door door, QSize& viewSize, QFont& viewFont) {
    Feed feed(door);
    vmx::MainForm& form = feed.form();
    const auto* view = form.findChild<QPlainTextEdit*>(QStringLiteral("Text2"));
    viewSize = view->size();
    viewFont = view->font();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < lines; ++i) {
        feed.send(replyFor(i));
        feed.allTaken();
        QApplication::processEvents();
    }
    vmx::test::partOf<vmx::MessageWindow>(form).flush();
    QApplication::processEvents();
    return lines / (double(clock.nsecsElapsed()) / 1e9);
}

// The same lines appended one at a time to a plain QPlainTextEdit of the message window's size,
// painted after each, each line received through the same kind of door as the window's: a
// datagram to a QUdpSocket on 127.0.0.1, or bytes on a pseudo-terminal read by a QSerialPort.
double plainAppendRate(int lines, QSize size, const QFont& font, Door door) {
    QPlainTextEdit plain;
    plain.resize(size);
    plain.setFont(font);
    plain.show();
    QByteArray got;
    QUdpSocket receiver;
    QUdpSocket sender;
    vmx::test::PtyPair pty;
    QSerialPort port;
    if (door == Door::Udp) {
        receiver.bind(QHostAddress::LocalHost, 0);
        QObject::connect(&receiver, &QUdpSocket::readyRead, [&] {
            while (receiver.hasPendingDatagrams())
                got += receiver.receiveDatagram().data();
        });
    } else {
        port.setPortName(pty.slavePath());
        port.open(QIODevice::ReadWrite);
        QObject::connect(&port, &QSerialPort::readyRead, [&] { got += port.readAll(); });
    }
    QApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < lines; ++i) {
        const QByteArray reply = replyFor(i);
        if (door == Door::Udp)
            sender.writeDatagram(reply, QHostAddress::LocalHost, receiver.localPort());
        else
            pty.writeMaster(reply);
        const QDeadlineTimer deadline(10'000);
        while (got.size() < reply.size() && !deadline.hasExpired())
            QApplication::processEvents();
        plain.appendPlainText(QString::fromLatin1(got.mid(3, got.size() - 6)));
        got.clear();
        QApplication::processEvents();
    }
    return lines / (double(clock.nsecsElapsed()) / 1e9);
}

// Each repeat measures the window and the plain loop one after the other, so both see the
// same load of the machine; the ratios are summed up over the repeats.
struct SingleReplies {
    const char* name;
    double windowRate; // of the last repeat
    double plainRate;
    std::vector<double> ratios; // sorted
};

SingleReplies measureSingleReplies(const char* name, int lines, int repeats, Door door) {
    SingleReplies result{name, 0, 0, {}};
    for (int r = 0; r < repeats; ++r) {
        QSize size;
        QFont font;
        result.windowRate = singleRepliesRate(lines, door, size, font);
        result.plainRate = plainAppendRate(lines, size, font, door);
        result.ratios.push_back(result.windowRate / result.plainRate);
    }
    std::sort(result.ratios.begin(), result.ratios.end());
    return result;
}

void report(const vmx::bench::LoadWatch& load, const SingleReplies& r) {
    const double median = r.ratios[r.ratios.size() / 2];
    std::printf("%-28s %8.0f lines/s vs plain appendPlainText %8.0f lines/s (last repeat); "
                "ratio median %.2fx min %.2fx max %.2fx over %zu repeats (target >= 1.0x: %s)\n",
                r.name, r.windowRate, r.plainRate, median, r.ratios.front(), r.ratios.back(),
                r.ratios.size(), load.verdict(median >= 1.0));
}

void report(const char* name, const Figures& f) {
    std::printf("%-22s %10.0f lines/s   first 20k %7.2f us/line   last 20k %7.2f us/line "
                "(p99 %7.2f)   ratio %.2f   memory %6.0f bytes/line\n",
                name, f.linesPerSecond, f.firstUs, f.lastUs, f.lastP99Us, f.lastUs / f.firstUs,
                f.bytesPerLine);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::max(100, std::atoi(argv[1])) : 200000;
    // An optional second argument picks the runs whose name contains it ("bursts", "UDP").
    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const struct {
        const char* name;
        int burst;
        Door door;
    } runs[] = {
        {"UDP, bursts of 1000", 1000, Door::Udp},
        {"serial, bursts of 1000", 1000, Door::Serial},
        {"UDP, single events", 1, Door::Udp},
        {"serial, single events", 1, Door::Serial},
    };
    // A process started for one run: "--run=<index>" as the third argument.
    if (argc > 3 && std::strncmp(argv[3], "--run=", 6) == 0) {
        const auto& r = runs[std::clamp(std::atoi(argv[3] + 6), 0, int(std::size(runs)) - 1)];
        report(r.name, run(lines, r.burst, r.door));
        return 0;
    }

    vmx::bench::LoadWatch load;
    std::printf("%d reply lines through the links into a real MainForm, each run in a "
                "fresh process\n",
                lines);
    std::fflush(stdout);
    for (std::size_t i = 0; i < std::size(runs); ++i) {
        if (!QString::fromLatin1(runs[i].name).contains(only, Qt::CaseInsensitive))
            continue;
        QProcess fresh;
        fresh.setProcessChannelMode(QProcess::ForwardedChannels);
        fresh.start(
            QCoreApplication::applicationFilePath(),
            {QString::number(lines), QStringLiteral("-"), QStringLiteral("--run=%1").arg(i)});
        if (!fresh.waitForFinished(-1) || fresh.exitCode() != 0)
            std::fprintf(stderr, "the run \"%s\" failed\n", runs[i].name);
    }

    // One reply per receive event, each followed by a paint, against a plain append loop.
    // Fonts, styles and the first allocations of a window are paid once, outside the figures.
    run(2000, 1000, Door::Udp);
    const int singleLines = std::min(lines, 3000);
    const struct {
        const char* name;
        Door door;
    } singles[] = {
        {"single replies, serial", Door::Serial},
        {"single replies, UDP", Door::Udp},
    };
    std::printf("%d single replies per repeat, each followed by a paint\n", singleLines);
    std::vector<SingleReplies> measured;
    for (const auto& r : singles)
        if (QString::fromLatin1(r.name).contains(only, Qt::CaseInsensitive))
            measured.push_back(measureSingleReplies(r.name, singleLines, 5, r.door));
    load.finish();
    for (const SingleReplies& r : measured)
        report(load, r);
    return 0;
}
