// Round trip from SEND to the reply's line in the message window, through the real MainForm and
// the real links, against a device in another process that answers at once
// (bench_round_trip_peer): over UDP on 127.0.0.1 and over a pseudo-terminal. In the same run,
// interleaved repeat by repeat, the floors (bench_round_trip_floor, plain programs without Qt)
// do the same exchange with the same device: (a) write, answer and read with poll(); (b) for the
// serial link, also the close, lock file, reopen and configuration that each SEND does.
//
//   bench_round_trip [trips per repeat] [repeats]    (default 300 and 7; QT_QPA_PLATFORM=offscreen,
//                                                    in a private network namespace: it binds
//                                                    UDP port 5000)
//
// A round trip is timed from the click on SEND to the moment the reply's line has been inserted
// into the message window's document; SENDs follow each other after an untimed pause of 1 ms.
// Each repeat gives the median of its trips; the figures are the median, minimum and maximum of
// those over the repeats, and the ratios are taken between medians of the same run.
#include "app/main_form.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

// The pause between two SENDs, for the window and the floors alike.
constexpr int kPauseUs = 1000;

[[noreturn]] void die(const QString& why) {
    std::fprintf(stderr, "bench_round_trip: %s\n", qPrintable(why));
    std::exit(1);
}

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + long(values.size() / 2), values.end());
    return values[values.size() / 2];
}

QString sibling(const char* program) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(program);
}

// The device, answering on its pseudo-terminals and its UDP port until this program ends.
struct Peer {
    QProcess process;
    QString udpPort;
    QString floorLine;

    explicit Peer(const QString& folder) {
        process.start(sibling("bench_round_trip_peer"), {folder});
        if (!process.waitForStarted())
            die(QStringLiteral("the device peer does not start"));
        for (int read = 0; read < 3;) {
            if (!process.canReadLine() && !process.waitForReadyRead(5000))
                die(QStringLiteral("the device peer does not answer"));
            while (process.canReadLine()) {
                const QStringList words = QString::fromLocal8Bit(process.readLine()).split(u' ');
                if (words.value(0) == QLatin1String("udp"))
                    udpPort = words.value(1).trimmed();
                else if (words.value(0) == QLatin1String("floor"))
                    floorLine = words.value(1).trimmed();
                ++read;
            }
        }
    }
    ~Peer() {
        process.closeWriteChannel(); // the peer ends when its input closes
        process.waitForFinished(2000);
    }
};

struct FloorFigures {
    double roundTripUs = 0;
    double lockUs = 0;
    double syncUs = 0;
};

FloorFigures runFloor(const QString& mode, const QString& target, int trips) {
    QProcess floor;
    floor.start(sibling("bench_round_trip_floor"),
                {mode, target, QString::number(trips), QString::number(kPauseUs)});
    if (!floor.waitForFinished(120000) || floor.exitCode() != 0)
        die(QStringLiteral("floor %1 failed: %2").arg(mode, floor.readAllStandardError()));
    const QStringList words = QString::fromLocal8Bit(floor.readAllStandardOutput()).split(u' ');
    return {words.value(1).toDouble(), words.value(3).toDouble(), words.value(5).toDouble()};
}

class Window {
public:
    Window() {
        vmx::MainFormSeams seams;
        // Any message box (a link error, the watchdog) spoils the run: it is reported instead.
        seams.showMessage = [](QWidget*, const QString& text) {
            die(QStringLiteral("the window showed \"%1\"").arg(text));
        };
        seams.endProgram = [] {};
        form_ = std::make_unique<vmx::MainForm>(seams);
        send_ = child<QPushButton>("Command1");
        document_ = child<QPlainTextEdit>("Text2")->document();
        child<QRadioButton>("Option8")->click();  // 19200 baud
        child<QRadioButton>("Option11")->click(); // N81: a pseudo-terminal takes no parity
        form_->show();
        QApplication::processEvents();
    }

    void useUdp(const QString& port) {
        child<QRadioButton>("Option9")->click();
        child<QLineEdit>("Text3")->setText(QStringLiteral("127.0.0.1"));
        child<QLineEdit>("Text4")->setText(port);
    }
    void useSerial() { child<QRadioButton>("Option1")->click(); }

    struct Trip {
        double us;     // click on SEND to the line in the document
        double sendUs; // of which the click itself: SEND up to the frame written
    };

    // One SEND, until the reply's line is in the message window's document.
    Trip roundTrip() {
        QEventLoop loop;
        const auto inserted =
            QObject::connect(document_, &QTextDocument::contentsChanged, &loop, &QEventLoop::quit);
        QTimer::singleShot(3000, &loop, [&loop] { loop.exit(1); });
        QElapsedTimer clock;
        clock.start();
        send_->click();
        const double sendUs = double(clock.nsecsElapsed()) / 1000.0;
        const int status = loop.exec();
        const double us = double(clock.nsecsElapsed()) / 1000.0;
        QObject::disconnect(inserted);
        // The document ends with the line just inserted and the empty block after its break.
        if (status != 0 || document_->lastBlock().previous().text() != QLatin1String("12.5"))
            die(QStringLiteral("no reply line in the message window"));
        return {us, sendUs};
    }

    // SENDs a moment apart, as an operator's are: the window finishes what the last reply left
    // (painting it) and the disk settles between them, outside the timing.
    struct Medians {
        double us;
        double sendUs;
    };
    Medians trips(int count) {
        std::vector<double> times;
        std::vector<double> sendTimes;
        for (int i = 0; i < count; ++i) {
            const Trip trip = roundTrip();
            times.push_back(trip.us);
            sendTimes.push_back(trip.sendUs);
            QEventLoop pause;
            QTimer::singleShot(kPauseUs / 1000, &pause, &QEventLoop::quit);
            pause.exec();
        }
        return {median(times), median(sendTimes)};
    }

private:
    template <typename T> T* child(const char* name) {
        T* found = form_->findChild<T*>(QLatin1String(name));
        if (!found)
            die(QStringLiteral("no control %1").arg(QLatin1String(name)));
        return found;
    }

    std::unique_ptr<vmx::MainForm> form_;
    QPushButton* send_ = nullptr;
    QTextDocument* document_ = nullptr;
};

struct Series {
    const char* name;
    std::vector<double> repeats;
};

void print(const Series& s) {
    const auto [low, high] = std::minmax_element(s.repeats.begin(), s.repeats.end());
    std::printf("  %-58s %8.1f us  [%7.1f .. %7.1f]\n", s.name, median(s.repeats), *low, *high);
}

void printRatio(const char* name, const Series& program, const Series& floor, double target) {
    const double ratio = median(program.repeats) / median(floor.repeats);
    std::printf("  %-58s %8.2f    target <= %.1f: %s\n", name, ratio, target,
                ratio <= target ? "met" : "NOT MET");
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int trips = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;

    // The window finds COM1 and writes nothing else but here.
    QTemporaryDir folder;
    if (!folder.isValid() || !QDir::setCurrent(folder.path()))
        die(QStringLiteral("no scratch folder"));
    Peer peer(folder.path());
    Window window;

    Series udp{"program, UDP on 127.0.0.1", {}};
    Series udpFloor{"floor (a): UDP write, answer, read with poll()", {}};
    Series udpSend{"  of which SEND itself, until the datagram is sent", {}};
    Series serial{"program, serial on a pseudo-terminal", {}};
    Series serialSend{"  of which SEND itself, until the frame is written", {}};
    Series serialFloor{"floor (a): serial write, answer, read, line kept open", {}};
    Series reopenFloor{"floor (b): serial with close, lock file, reopen, configure", {}};
    Series lock{"  of which taking and dropping the lock file", {}};
    Series sync{"  of which the lock file's forced write (fdatasync)", {}};

    // The first SEND on each link sets it up; a few more warm caches. None of them count.
    window.useUdp(peer.udpPort);
    window.trips(20);
    window.useSerial();
    window.trips(20);

    std::printf("Round trip, SEND to the reply's line in the message window: %d repeats of %d "
                "trips;\nmedian [min .. max] over the repeats of each repeat's median\n",
                repeats, trips);
    std::fflush(stdout);
    for (int r = 0; r < repeats; ++r) {
        window.useUdp(peer.udpPort);
        const Window::Medians udpTrips = window.trips(trips);
        udp.repeats.push_back(udpTrips.us);
        udpSend.repeats.push_back(udpTrips.sendUs);
        udpFloor.repeats.push_back(
            runFloor(QStringLiteral("udp"), peer.udpPort, trips).roundTripUs);
        window.useSerial();
        const Window::Medians serialTrips = window.trips(trips);
        serial.repeats.push_back(serialTrips.us);
        serialSend.repeats.push_back(serialTrips.sendUs);
        serialFloor.repeats.push_back(
            runFloor(QStringLiteral("serial"), peer.floorLine, trips).roundTripUs);
        const FloorFigures reopen =
            runFloor(QStringLiteral("serial-reopen"), peer.floorLine, trips);
        reopenFloor.repeats.push_back(reopen.roundTripUs);
        lock.repeats.push_back(reopen.lockUs);
        sync.repeats.push_back(reopen.syncUs);
    }
    for (const Series* s : {&udp, &udpSend, &udpFloor, &serial, &serialSend, &serialFloor,
                            &reopenFloor, &lock, &sync})
        print(*s);
    printRatio("UDP: program / floor (a)", udp, udpFloor, 3.0);
    printRatio("serial: program / floor (b)", serial, reopenFloor, 1.5);
    std::printf("  %-58s %8.2f    (no target)\n", "serial: program / floor (a)",
                median(serial.repeats) / median(serialFloor.repeats));
    return 0;
}
