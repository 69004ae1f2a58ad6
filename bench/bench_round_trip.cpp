// Round trip from the click on SEND to the reply's line painted in the message window, through
// the real MainForm and the real links, against a device in another process that answers at once
// (bench_round_trip_peer): over UDP on 127.0.0.1 and over a pseudo-terminal. In the same run,
// the sides taking turns block by block, the same exchange with the same device by
//   - a plain Qt program in this process: a QUdpSocket or a QSerialPort and a QPlainTextEdit of
//     the message window's size and font that appends the reply and paints it;
//   - the floors (bench_round_trip_floor, plain programs without Qt): (a) write, answer and read
//     with poll(); (b) for the serial link also the close, lock file, reopen and configuration
//     that each SEND does.
//
//   bench_round_trip [trips per block] [blocks] [udp|serial]
//       (default 300 trips, 7 blocks, both links; QT_QPA_PLATFORM=offscreen, in a private network
//       namespace: it binds UDP port 5000)
//
// A trip of a window is timed from the click on SEND to the end of the first complete paint
// (the outermost event that led to the paint of the text view has returned) after the reply's
// line went into the view's document. Before each SEND the text view is emptied (the UDP link
// does not scroll to a new line, and a line below the view is not painted), and an untimed
// pause of 1 ms lets it be painted empty.
// Every trip counts: the figures are the median (p50) and the 99th percentile (p99) of all the
// trips of a side, and the ratios are taken between the medians of the same run. The machine's
// load is read before and after; on a busy machine every verdict is "inconclusive".
#include "app/main_form.h"
#include "machine_load.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QUdpSocket>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

using vmx::bench::percentile;

// The pause between two SENDs, for every side alike.
constexpr int kPauseUs = 1000;
// The frame every side sends: the window's default (address 02, command RD).
const QByteArray kFrame = QByteArrayLiteral("\x07"
                                            "02RDFF\x03");

[[noreturn]] void die(const QString& why) {
    std::fprintf(stderr, "bench_round_trip: %s\n", qPrintable(why));
    std::exit(1);
}

QString sibling(const char* program) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(program);
}

// The application object: it ends a trip when the paint of the watched view that follows the
// reply's line has completely been done, every widget painted and the window's contents handed
// to the platform.
class PaintClock : public QApplication {
public:
    using QApplication::QApplication;

    // Times one trip: `click` presses SEND; the trip ends at the paint of `view` after
    // `document` changed. Microseconds, or -1 when no such paint came within 3 s.
    double trip(QWidget* view, QTextDocument* document, const std::function<void()>& click,
                double* clickUs) {
        view_ = view;
        changed_ = false;
        painted_ = false;
        const auto connection = QObject::connect(document, &QTextDocument::contentsChanged,
                                                 [this] { changed_ = true; });
        QEventLoop loop;
        loop_ = &loop;
        QTimer::singleShot(3000, &loop, [&loop] { loop.exit(1); });
        clock_.start();
        click();
        *clickUs = double(clock_.nsecsElapsed()) / 1000.0;
        const int status = changed_ && painted_ ? 0 : loop.exec();
        QObject::disconnect(connection);
        loop_ = nullptr;
        view_ = nullptr;
        return status == 0 ? endUs_ : -1;
    }

    bool notify(QObject* receiver, QEvent* event) override {
        if (view_ && changed_ && receiver == view_ && event->type() == QEvent::Paint)
            painted_ = true;
        ++depth_;
        const bool result = QApplication::notify(receiver, event);
        --depth_;
        if (view_ && painted_ && depth_ == 0 && loop_) {
            endUs_ = double(clock_.nsecsElapsed()) / 1000.0;
            loop_->quit();
            loop_ = nullptr;
        }
        return result;
    }

private:
    QWidget* view_ = nullptr;
    QEventLoop* loop_ = nullptr;
    QElapsedTimer clock_;
    bool changed_ = false;
    bool painted_ = false;
    int depth_ = 0;
    double endUs_ = 0;
};

PaintClock* paintClock() {
    return static_cast<PaintClock*>(QCoreApplication::instance());
}

void pause() {
    QEventLoop pause;
    QTimer::singleShot(kPauseUs / 1000, &pause, &QEventLoop::quit);
    pause.exec();
}

// The device, answering on its pseudo-terminals and its UDP port until this program ends.
struct Peer {
    QProcess process;
    quint16 udpPort = 0;
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
                    udpPort = quint16(words.value(1).trimmed().toUInt());
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

// All trips of one side, and of its click alone.
struct Series {
    const char* name;
    std::vector<double> us;
    std::vector<double> clickUs;
    double lockUs = 0; // floor (b): taking and dropping the lock file, median
    double syncUs = 0; // of which its forced write
};

void runFloor(const QString& mode, const QString& target, int trips, Series& series) {
    QProcess floor;
    floor.start(sibling("bench_round_trip_floor"),
                {mode, target, QString::number(trips), QString::number(kPauseUs)});
    if (!floor.waitForFinished(120000) || floor.exitCode() != 0)
        die(QStringLiteral("floor %1 failed: %2").arg(mode, floor.readAllStandardError()));
    const QStringList lines = QString::fromLocal8Bit(floor.readAllStandardOutput()).split(u'\n');
    const QStringList figures = lines.value(0).split(u' ');
    series.lockUs = figures.value(3).toDouble();
    series.syncUs = figures.value(5).toDouble();
    const QStringList times = lines.value(1).split(u' ', Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < times.size(); ++i)
        series.us.push_back(times[i].toDouble());
}

// The program's window.
class Window {
public:
    Window() {
        vmx::MainFormWaysOut waysOut;
        // Any message box (a link error, the watchdog) spoils the run: it is reported instead.
        waysOut.showMessage = [](QWidget*, const QString& text) {
            die(QStringLiteral("the window showed \"%1\"").arg(text));
        };
        waysOut.endProgram = [] {};
        form_ = std::make_unique<vmx::MainForm>(waysOut);
        send_ = child<QPushButton>("Command1");
        clear_ = child<QPushButton>("Command2");
        view_ = child<QPlainTextEdit>("Text2");
        child<QRadioButton>("Option8")->click();  // 19200 baud
        child<QRadioButton>("Option11")->click(); // N81: a pseudo-terminal takes no parity
        form_->show();
        QApplication::processEvents();
    }

    void useUdp(quint16 port) {
        child<QRadioButton>("Option9")->click();
        child<QLineEdit>("Text3")->setText(QStringLiteral("127.0.0.1"));
        child<QLineEdit>("Text4")->setText(QString::number(port));
    }
    void useSerial() { child<QRadioButton>("Option1")->click(); }
    QPlainTextEdit* view() const { return view_; }

    void trips(int count, Series* series) {
        for (int i = 0; i < count; ++i) {
            // Lines below the view are not painted (the UDP link does not scroll to the end):
            // each reply comes into an empty window, on its first line.
            clear_->click();
            pause();
            double clickUs = 0;
            const double us = paintClock()->trip(
                view_->viewport(), view_->document(), [this] { send_->click(); }, &clickUs);
            // The document ends with the line just inserted and the empty block after its break.
            if (us < 0 || view_->document()->lastBlock().previous().text() != u"12.5")
                die(QStringLiteral("no reply line painted in the message window"));
            if (series) {
                series->us.push_back(us);
                series->clickUs.push_back(clickUs);
            }
        }
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
    QPushButton* clear_ = nullptr;
    QPlainTextEdit* view_ = nullptr;
};

// The plain Qt program: a SEND button and a text view of the message window's size, font and
// scroll bars;
// the click sends the frame, the reply's payload is appended as a line and painted. Over serial
// it closes, configures and reopens the line at each SEND, as the window must.
class PlainQt : public QWidget {
public:
    PlainQt(const QPlainTextEdit& like, quint16 udpPort, const QString& serialLine)
        : udpPort_(udpPort), serialLine_(serialLine) {
        auto* layout = new QVBoxLayout(this);
        send_ = new QPushButton(QStringLiteral("SEND"), this);
        view_ = new QPlainTextEdit(this);
        view_->setFixedSize(like.size());
        view_->setFont(like.font());
        view_->setReadOnly(true);
        view_->setUndoRedoEnabled(false);
        view_->setLineWrapMode(QPlainTextEdit::NoWrap);
        // Both bars always shown, as on the message window: while the lines fit, each new line
        // changes the vertical bar's page step, and the bar is painted again.
        view_->setHorizontalScrollBarPolicy(like.horizontalScrollBarPolicy());
        view_->setVerticalScrollBarPolicy(like.verticalScrollBarPolicy());
        layout->addWidget(view_);
        layout->addWidget(send_);
        if (!udp_.bind(QHostAddress::LocalHost, 0))
            die(QStringLiteral("the plain Qt program gets no UDP socket"));
        QObject::connect(&udp_, &QUdpSocket::readyRead, this, [this] {
            while (udp_.hasPendingDatagrams())
                received(udp_.receiveDatagram().data());
        });
        QObject::connect(&serial_, &QSerialPort::readyRead, this,
                         [this] { received(serial_.readAll()); });
        QObject::connect(send_, &QPushButton::clicked, this, [this] { send(); });
        show();
        QApplication::processEvents();
    }

    void useUdp() { serialMode_ = false; }
    void useSerial() { serialMode_ = true; }

    void trips(int count, Series* series) {
        for (int i = 0; i < count; ++i) {
            view_->clear(); // as the window is
            pause();
            double clickUs = 0;
            const double us = paintClock()->trip(
                view_->viewport(), view_->document(), [this] { send_->click(); }, &clickUs);
            if (us < 0 || view_->document()->lastBlock().text() != u"12.5")
                die(QStringLiteral("no reply line painted in the plain Qt program"));
            if (series) {
                series->us.push_back(us);
                series->clickUs.push_back(clickUs);
            }
        }
        // The floors use the same line and take its lock file.
        serial_.close();
    }

private:
    void send() {
        pending_.clear();
        if (!serialMode_) {
            udp_.writeDatagram(kFrame, QHostAddress::LocalHost, udpPort_);
            return;
        }
        serial_.close();
        serial_.setPortName(serialLine_);
        serial_.setBaudRate(QSerialPort::Baud19200);
        serial_.setDataBits(QSerialPort::Data8);
        serial_.setParity(QSerialPort::NoParity);
        serial_.setStopBits(QSerialPort::OneStop);
        if (!serial_.open(QIODevice::ReadWrite) || serial_.write(kFrame) != kFrame.size())
            die(QStringLiteral("the plain Qt program cannot use %1").arg(serialLine_));
    }
    void received(const QByteArray& bytes) {
        pending_ += bytes;
        if (!pending_.endsWith('\x03'))
            return;
        // Start byte and address, then the payload; two check characters and ETX at the end.
        view_->appendPlainText(QString::fromLatin1(pending_.mid(5, pending_.size() - 8)));
        pending_.clear();
    }

    quint16 udpPort_;
    QString serialLine_;
    bool serialMode_ = false;
    QPushButton* send_ = nullptr;
    QPlainTextEdit* view_ = nullptr;
    QUdpSocket udp_;
    QSerialPort serial_;
    QByteArray pending_;
};

void print(const Series& s) {
    std::printf("  %-54s %8.1f %9.1f", s.name, percentile(s.us, 0.5), percentile(s.us, 0.99));
    if (!s.clickUs.empty())
        std::printf("   SEND's click %6.1f", percentile(s.clickUs, 0.5));
    if (s.lockUs > 0)
        std::printf("   lock file %6.1f, its fdatasync %6.1f", s.lockUs, s.syncUs);
    std::printf("\n");
}

void printRatio(const vmx::bench::LoadWatch& load, const char* name, const Series& program,
                const Series& other, double target) {
    const double p50 = percentile(program.us, 0.5) / percentile(other.us, 0.5);
    const double p99 = percentile(program.us, 0.99) / percentile(other.us, 0.99);
    std::printf("  %-54s %8.2f %9.2f   target p50 <= %.1f: %s\n", name, p50, p99, target,
                load.verdict(p50 <= target));
}

} // namespace

int main(int argc, char* argv[]) {
    PaintClock app(argc, argv);
    const int trips = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    const int blocks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const QString only = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    const bool runUdp = only != QLatin1String("serial");
    const bool runSerial = only != QLatin1String("udp");

    // The window finds COM1 and writes nothing else but here.
    QTemporaryDir folder;
    if (!folder.isValid() || !QDir::setCurrent(folder.path()))
        die(QStringLiteral("no scratch folder"));
    Peer peer(folder.path());
    Window window;
    PlainQt plain(*window.view(), peer.udpPort, peer.floorLine);

    Series udp{"program, UDP on 127.0.0.1", {}, {}};
    Series udpPlain{"plain Qt: QUdpSocket, QPlainTextEdit", {}, {}};
    Series udpFloor{"floor (a): UDP write, answer, read with poll()", {}, {}};
    Series serial{"program, serial on a pseudo-terminal", {}, {}};
    Series serialPlain{"plain Qt: QSerialPort reopened, QPlainTextEdit", {}, {}};
    Series serialFloor{"floor (a): serial, the line kept open", {}, {}};
    Series reopenFloor{"floor (b): serial, close, lock file, reopen, configure", {}, {}};

    // The first SEND on each link sets it up; a few more warm caches. None of them count.
    if (runUdp) {
        window.useUdp(peer.udpPort);
        window.trips(20, nullptr);
        plain.useUdp();
        plain.trips(20, nullptr);
    }
    if (runSerial) {
        window.useSerial();
        window.trips(20, nullptr);
        plain.useSerial();
        plain.trips(20, nullptr);
    }

    std::printf("Round trip, the click on SEND to the reply's line painted: %d blocks of %d trips "
                "per side,\nthe sides taking turns; microseconds over all trips of a side\n",
                blocks, trips);
    std::fflush(stdout);
    vmx::bench::LoadWatch load;
    const std::function<void()> udpSides[] = {
        [&] {
            window.useUdp(peer.udpPort);
            window.trips(trips, &udp);
        },
        [&] {
            plain.useUdp();
            plain.trips(trips, &udpPlain);
        },
        [&] { runFloor(QStringLiteral("udp"), QString::number(peer.udpPort), trips, udpFloor); },
    };
    const std::function<void()> serialSides[] = {
        [&] {
            window.useSerial();
            window.trips(trips, &serial);
        },
        [&] {
            plain.useSerial();
            plain.trips(trips, &serialPlain);
        },
        [&] { runFloor(QStringLiteral("serial"), peer.floorLine, trips, serialFloor); },
        [&] { runFloor(QStringLiteral("serial-reopen"), peer.floorLine, trips, reopenFloor); },
    };
    // Each block starts with another side, so no side always follows the same one.
    for (int b = 0; b < blocks; ++b) {
        for (std::size_t i = 0; runUdp && i < std::size(udpSides); ++i)
            udpSides[(i + std::size_t(b)) % std::size(udpSides)]();
        for (std::size_t i = 0; runSerial && i < std::size(serialSides); ++i)
            serialSides[(i + std::size_t(b)) % std::size(serialSides)]();
    }
    load.finish();
    std::printf("  %-54s %8s %9s\n", "", "p50", "p99");
    if (runUdp) {
        for (const Series* s : {&udp, &udpPlain, &udpFloor})
            print(*s);
        printRatio(load, "UDP: program / floor (a)", udp, udpFloor, 3.0);
        printRatio(load, "UDP: program / plain Qt", udp, udpPlain, 1.0);
    }
    if (!runSerial)
        return 0;
    for (const Series* s : {&serial, &serialPlain, &serialFloor, &reopenFloor})
        print(*s);
    printRatio(load, "serial: program / floor (b)", serial, reopenFloor, 1.5);
    printRatio(load, "serial: program / plain Qt", serial, serialPlain, 1.0);
    std::printf("  %-54s %8.2f %9.2f   (no target: the program must reopen the line)\n",
                "serial: program / floor (a)",
                percentile(serial.us, 0.5) / percentile(serialFloor.us, 0.5),
                percentile(serial.us, 0.99) / percentile(serialFloor.us, 0.99));
    return 0;
}
