// Round trip from the click on SEND to the reply's line painted in the message window, through
// the real MainForm and the real links, against a device in another process that answers at once
// (bench_round_trip_peer): over UDP on 127.0.0.1 and over a pseudo-terminal. In the same run,
// the sides taking turns block by block, the same exchange with the same device by
//   - a plain Qt program in this process: a QUdpSocket or a QSerialPort and a QPlainTextEdit of
//     the message window's size and font that appends the reply and paints it;
//   - the floors (bench_round_trip_floor, plain programs without Qt): (a) write, answer and read
//     with poll(); (b) for the serial link also the close, lock file, reopen and configuration
//     that each SEND does.
// And through a serial device server, Debian's ser2net on 127.0.0.1 in front of two more of the
// device's pseudo-terminals: the window's Com1 by a COM1 file naming `rfc2217://127.0.0.1:PORT`,
// against the plain Qt program with a QTcpSocket on the same ser2net's other RFC 2217 port
// (both keep their connection and set 19200 N81 once; without ser2net that case is skipped).
//
//   bench_round_trip [trips per block] [blocks] [udp|serial|server]
//       (default 300 trips, 7 blocks, every link; QT_QPA_PLATFORM=offscreen, in a private network
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
#include "telnet_skip.h"

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
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
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
    QString toolServerLine;  // ser2net opens it for the window's connection
    QString plainServerLine; // and this one for the plain Qt program's

    explicit Peer(const QString& folder) {
        process.start(sibling("bench_round_trip_peer"), {folder});
        if (!process.waitForStarted())
            die(QStringLiteral("the device peer does not start"));
        for (int read = 0; read < 4;) {
            if (!process.canReadLine() && !process.waitForReadyRead(5000))
                die(QStringLiteral("the device peer does not answer"));
            while (process.canReadLine()) {
                const QStringList words = QString::fromLocal8Bit(process.readLine()).split(u' ');
                if (words.value(0) == QLatin1String("udp"))
                    udpPort = quint16(words.value(1).trimmed().toUInt());
                else if (words.value(0) == QLatin1String("floor"))
                    floorLine = words.value(1).trimmed();
                else if (words.value(0) == QLatin1String("servers")) {
                    toolServerLine = words.value(1).trimmed();
                    plainServerLine = words.value(2).trimmed();
                }
                ++read;
            }
        }
    }
    ~Peer() {
        process.closeWriteChannel(); // the peer ends when its input closes
        process.waitForFinished(2000);
    }
};

// Debian's ser2net on 127.0.0.1 with two telnet(rfc2217) accepters on ports the system picks,
// one in front of each of the peer's server lines; it runs until this program ends.
class DeviceServer {
public:
    // False, with a word why, when ser2net is not installed or does not come up.
    bool start(const QString& folder, const QString& toolLine, const QString& plainLine) {
        QString program = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
        if (program.isEmpty())
            program = QStandardPaths::findExecutable(
                QStringLiteral("ser2net"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        if (program.isEmpty()) {
            why_ = QStringLiteral("ser2net is not installed (Debian package ser2net)");
            return false;
        }
        toolPort_ = freePort();
        plainPort_ = freePort();
        const QString config = QStringLiteral("%YAML 1.1\n---\n") + accepter(toolPort_, toolLine) +
                               accepter(plainPort_, plainLine);
        const QString path = folder + QStringLiteral("/ser2net.yaml");
        QFile file(path);
        if (toolPort_ == 0 || plainPort_ == 0 || toolPort_ == plainPort_ ||
            !file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) {
            why_ = QStringLiteral("no free ports or no configuration file");
            return false;
        }
        file.close();
        // -d: foreground, logging to its output; -u: no UUCP lock files.
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(program,
                       {QStringLiteral("-d"), QStringLiteral("-u"), QStringLiteral("-c"), path});
        QElapsedTimer waited;
        waited.start();
        while (!listening(toolPort_) || !listening(plainPort_)) {
            if (waited.elapsed() > 10000 || process_.waitForFinished(20)) {
                why_ = QStringLiteral("ser2net did not listen: %1")
                           .arg(QString::fromLocal8Bit(process_.readAll()));
                return false;
            }
        }
        return true;
    }
    ~DeviceServer() {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(2000);
    }
    quint16 toolPort() const { return toolPort_; }
    quint16 plainPort() const { return plainPort_; }
    QString why() const { return why_; }

private:
    static quint16 freePort() {
        QTcpServer server;
        return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
    }
    // One connection at a time, opened at 9600 8N1 without modem lines until a client sets it.
    static QString accepter(quint16 port, const QString& line) {
        return QStringLiteral("connection: &port%1\n"
                              "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
                              "  connector: serialdev,%2,9600n81,local\n"
                              "  options:\n"
                              "    mdns: false\n")
            .arg(port)
            .arg(line);
    }
    // Read from the kernel's table: a connection would make ser2net open the line.
    static bool listening(quint16 port) {
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (!table.open(QIODevice::ReadOnly))
            return false;
        const QByteArray local =
            QByteArray("0100007F:") + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 3 && fields[1] == local && fields[3] == "0A") // 0A: LISTEN
                return true;
        }
        return false;
    }

    QProcess process_;
    quint16 toolPort_ = 0;
    quint16 plainPort_ = 0;
    QString why_;
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

    void useUdp() {
        serialMode_ = false;
        serverMode_ = false;
    }
    void useSerial() {
        serialMode_ = true;
        serverMode_ = false;
    }
    // The device server's RFC 2217 port: connected and set to 19200 N81 once, then kept, as the
    // window keeps its connection while nothing changes.
    void useServer(quint16 port) {
        serverMode_ = true;
        if (tcp_.state() == QAbstractSocket::ConnectedState)
            return;
        tcp_.connectToHost(QHostAddress::LocalHost, port);
        if (!tcp_.waitForConnected(5000))
            die(QStringLiteral("the plain Qt program cannot connect to ser2net"));
        tcp_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // clang-format off
        static const unsigned char opening[] = {
            255, 251, 0, 255, 253, 0, 255, 251, 44,     // WILL BINARY, DO BINARY, WILL COM-PORT
            255, 254, 3, 255, 252, 3, 255, 254, 1,      // DONT SGA, WONT SGA, DONT ECHO
            255, 250, 44, 1, 0, 0, 0x4B, 0x00, 255, 240, // SET-BAUDRATE 19200
            255, 250, 44, 2, 8, 255, 240,                // SET-DATASIZE 8
            255, 250, 44, 3, 1, 255, 240,                // SET-PARITY none
            255, 250, 44, 4, 1, 255, 240};               // SET-STOPSIZE 1
        // clang-format on
        tcp_.write(reinterpret_cast<const char*>(opening), sizeof opening);
        // The server's four answers (IAC SB 44 101..104), whatever their values.
        QByteArray seen;
        for (unsigned answered = 0; answered != 0b1111;) {
            if (!tcp_.waitForReadyRead(5000))
                die(QStringLiteral("ser2net does not answer the plain Qt program's settings"));
            seen += tcp_.readAll();
            for (qsizetype i = 0; i + 3 < seen.size(); ++i) {
                const auto code = static_cast<unsigned char>(seen[i + 3]);
                if (seen.mid(i, 3) == "\xff\xfa," && code > 100 && code <= 104)
                    answered |= 1u << (code - 101);
            }
        }
        QObject::connect(&tcp_, &QTcpSocket::readyRead, this, [this] {
            QByteArray payload;
            for (const char byte : tcp_.readAll()) {
                if (telnet_.isData(static_cast<unsigned char>(byte)))
                    payload += byte;
            }
            if (!payload.isEmpty())
                received(payload);
        });
    }

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
        if (serverMode_) {
            // The frame holds no 0xFF to escape.
            if (tcp_.write(kFrame) != kFrame.size() || !tcp_.flush())
                die(QStringLiteral("the plain Qt program cannot write to ser2net"));
            return;
        }
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
    bool serverMode_ = false;
    QPushButton* send_ = nullptr;
    QPlainTextEdit* view_ = nullptr;
    QUdpSocket udp_;
    QSerialPort serial_;
    QTcpSocket tcp_;
    TelnetSkip telnet_;
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

// A ratio with a target at p50 and one at p99.
void printRatios(const vmx::bench::LoadWatch& load, const char* name, const Series& program,
                 const Series& other, double p50Target, double p99Target) {
    const double p50 = percentile(program.us, 0.5) / percentile(other.us, 0.5);
    const double p99 = percentile(program.us, 0.99) / percentile(other.us, 0.99);
    std::printf("  %-54s %8.2f %9.2f   target p50 <= %.1f: %s, p99 <= %.1f: %s\n", name, p50, p99,
                p50Target, load.verdict(p50 <= p50Target), p99Target,
                load.verdict(p99 <= p99Target));
}

void printRatio(const vmx::bench::LoadWatch& load, const char* name, const Series& program,
                const Series& other, double target) {
    const double p50 = percentile(program.us, 0.5) / percentile(other.us, 0.5);
    const double p99 = percentile(program.us, 0.99) / percentile(other.us, 0.99);
    std::printf("  %-54s %8.2f %9.2f   target p50 <= %.1f: %s\n", name, p50, p99, target,
                load.verdict(p50 <= target));
}

// The window's Com1 through ser2net: the same targets as over UDP, where the window's own work
// is the same and only the way to the device differs.
void printServer(const vmx::bench::LoadWatch& load, const Series& program, const Series& plain) {
    for (const Series* s : {&program, &plain})
        print(*s);
    printRatios(load, "device server: program / plain Qt", program, plain, 1.1, 1.5);
}

} // namespace

int main(int argc, char* argv[]) {
    PaintClock app(argc, argv);
    const int trips = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    const int blocks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const QString only = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    const bool runUdp = only.isEmpty() || only == QLatin1String("udp");
    const bool runSerial = only.isEmpty() || only == QLatin1String("serial");
    bool runServer = only.isEmpty() || only == QLatin1String("server");

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
    Series server{"program, Com1 by rfc2217:// through ser2net", {}, {}};
    Series serverPlain{"plain Qt: QTcpSocket through ser2net, QPlainTextEdit", {}, {}};

    // The device server, and a folder of its own whose COM1 file names it: the window finds
    // COM1 in its working folder, which the server sides change to for their trips.
    DeviceServer deviceServer;
    QTemporaryDir serverFolder;
    if (runServer) {
        QFile com1(serverFolder.filePath(QStringLiteral("COM1")));
        if (!deviceServer.start(serverFolder.path(), peer.toolServerLine, peer.plainServerLine)) {
            std::printf("Com1 through ser2net skipped: %s\n", qPrintable(deviceServer.why()));
            runServer = false;
        } else if (!com1.open(QIODevice::WriteOnly) ||
                   com1.write(QStringLiteral("rfc2217://127.0.0.1:%1\n")
                                  .arg(deviceServer.toolPort())
                                  .toUtf8()) < 0) {
            die(QStringLiteral("no COM1 file"));
        }
    }
    const auto windowThroughServer = [&](int count, Series* series) {
        QDir::setCurrent(serverFolder.path());
        window.useSerial();
        window.trips(count, series);
        QDir::setCurrent(folder.path());
    };

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
    if (runServer) {
        windowThroughServer(20, nullptr);
        plain.useServer(deviceServer.plainPort());
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
    const std::function<void()> serverSides[] = {
        [&] { windowThroughServer(trips, &server); },
        [&] {
            plain.useServer(deviceServer.plainPort());
            plain.trips(trips, &serverPlain);
        },
    };
    // Each block starts with another side, so no side always follows the same one.
    for (int b = 0; b < blocks; ++b) {
        for (std::size_t i = 0; runUdp && i < std::size(udpSides); ++i)
            udpSides[(i + std::size_t(b)) % std::size(udpSides)]();
        for (std::size_t i = 0; runSerial && i < std::size(serialSides); ++i)
            serialSides[(i + std::size_t(b)) % std::size(serialSides)]();
        for (std::size_t i = 0; runServer && i < std::size(serverSides); ++i)
            serverSides[(i + std::size_t(b)) % std::size(serverSides)]();
    }
    load.finish();
    std::printf("  %-54s %8s %9s\n", "", "p50", "p99");
    if (runUdp) {
        for (const Series* s : {&udp, &udpPlain, &udpFloor})
            print(*s);
        printRatio(load, "UDP: program / floor (a)", udp, udpFloor, 3.0);
        printRatios(load, "UDP: program / plain Qt", udp, udpPlain, 1.1, 1.5);
    }
    if (runServer)
        printServer(load, server, serverPlain);
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
