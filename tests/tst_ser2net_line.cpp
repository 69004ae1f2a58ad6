// A real ser2net in front of the device simulator's pseudo-terminal, reached from here through
// a QTcpSocket: raw on one port, and over Telnet with Rfc2217Client on the other.
#include "links/rfc2217_client.h"
#include "protocol/command_frame.h"

#include "support/programs.h"
#include "support/scratch_dir.h"
#include "support/ser2net_server.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using vmx::Rfc2217Client;
using vmx::test::Ser2netServer;
using vmx::test::SimProcess;

namespace {

constexpr int kWaitMs = 5000;

// The frame the tool sends for the simulator's address 1 and this command (Latin-1).
QByteArray frameFor(const QString& command) {
    vmx::CommandFrame frame;
    float length = 0;
    if (vmx::buildCommandFrame(u"1", command, frame, length) != vmx::FrameError::None)
        return {};
    return vmx::sendingOrder(frame);
}

// The simulator's answer: start byte, "01", the command, payload "12.5", check, ETX.
bool isAnswerTo(const QByteArray& answer, const QByteArray& command) {
    return answer.startsWith(QByteArray("\x07"
                                        "01") +
                             command + "12.5") &&
           answer.size() == 3 + command.size() + 4 + 3 && answer.endsWith('\x03');
}

// The output speed the line's driver holds now, read through the simulator's link.
speed_t lineSpeed(const QString& devicePath) {
    const int fd =
        ::open(QFile::encodeName(devicePath).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return B0;
    termios settings{};
    const speed_t speed = ::tcgetattr(fd, &settings) == 0 ? ::cfgetospeed(&settings) : B0;
    ::close(fd);
    return speed;
}

// What ser2net writes, before closing, to a connection that comes while the device is still
// held by another accepter's connection: for some tens of milliseconds after that connection
// ended, while ser2net closes the device.
const QByteArray kDeviceInUse = "Port's device already in use\r\n";

// One client connection to ser2net's telnet(rfc2217) accepter.
class TelnetSession {
public:
    explicit TelnetSession(const vmx::LineSettings& line) : line_(line), client_(line) {}

    // Connects and negotiates until Ready or Failed. A refusal because the device is still held
    // by another accepter's connection is followed by a new connection, as a client would retry.
    Rfc2217Client::State open(quint16 port) {
        const QDeadlineTimer deadline(kWaitMs);
        while (!deadline.hasExpired()) {
            client_ = Rfc2217Client(line_);
            data_.clear();
            socket_.abort();
            socket_.connectToHost(QHostAddress::LocalHost, port);
            if (!socket_.waitForConnected(int(deadline.remainingTime())))
                break;
            socket_.write(client_.opening());
            while (client_.state() == Rfc2217Client::State::Negotiating && !deadline.hasExpired()) {
                if (!socket_.bytesAvailable() &&
                    !socket_.waitForReadyRead(int(deadline.remainingTime())))
                    break;
                receive();
            }
            if (data_ != kDeviceInUse)
                break;
        }
        return client_.state();
    }

    // Sends the frame escaped and reads until an answer ending in ETX has come.
    QByteArray exchange(const QByteArray& frame) {
        data_.clear();
        socket_.write(Rfc2217Client::escaped(frame));
        const QDeadlineTimer deadline(kWaitMs);
        while (!data_.endsWith('\x03') && !deadline.hasExpired()) {
            if (!socket_.bytesAvailable() &&
                !socket_.waitForReadyRead(int(deadline.remainingTime())))
                break;
            receive();
        }
        return data_;
    }

    QString failure() const { return client_.failure(); }
    QTcpSocket& socket() { return socket_; }

private:
    void receive() {
        QByteArray reply;
        client_.feed(socket_.readAll(), data_, reply);
        if (!reply.isEmpty())
            socket_.write(reply);
    }

    vmx::LineSettings line_;
    QTcpSocket socket_;
    Rfc2217Client client_;
    QByteArray data_;
};

// Connects to the raw accepter, writes the frame and reads until an answer ending in ETX. A
// refusal because the device is still in use is followed by a new connection, as a client
// would retry.
QByteArray rawExchange(quint16 port, const QByteArray& frame) {
    const QDeadlineTimer deadline(kWaitMs);
    QByteArray answer;
    while (!deadline.hasExpired()) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(int(deadline.remainingTime())))
            return {};
        socket.write(frame);
        answer.clear();
        while (!answer.endsWith('\x03') && !deadline.hasExpired()) {
            if (!socket.bytesAvailable() && !socket.waitForReadyRead(int(deadline.remainingTime())))
                break;
            answer += socket.readAll();
        }
        if (answer != kDeviceInUse)
            return answer;
    }
    return answer;
}

} // namespace

class TestSer2netLine : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (Ser2netServer::program().isEmpty())
            QSKIP("ser2net is not installed (Debian package ser2net)");
        QVERIFY(scratch_.isValid());
        QVERIFY(sim_.start({"serial", "--link", "LINE"}));
        device_ = scratch_.filePath("LINE");
        server_ = std::make_unique<Ser2netServer>(device_);
        QVERIFY2(server_->start(), qPrintable(server_->error()));
    }

    void negotiation_sets_the_line_data() {
        QTest::addColumn<vmx::BaudRate>("baud");
        QTest::addColumn<vmx::LineFormat>("format");
        QTest::addColumn<speed_t>("speed");
        QTest::newRow("1200 E71") << vmx::BaudRate::Baud1200 << vmx::LineFormat::E71
                                  << speed_t(B1200);
        QTest::newRow("2400 N81") << vmx::BaudRate::Baud2400 << vmx::LineFormat::N81
                                  << speed_t(B2400);
        QTest::newRow("9600 E71") << vmx::BaudRate::Baud9600 << vmx::LineFormat::E71
                                  << speed_t(B9600);
        QTest::newRow("19200 N81")
            << vmx::BaudRate::Baud19200 << vmx::LineFormat::N81 << speed_t(B19200);
        QTest::newRow("19200 E71")
            << vmx::BaudRate::Baud19200 << vmx::LineFormat::E71 << speed_t(B19200);
    }

    // ser2net opens the line at 9600 for each connection; the negotiation must move it. Linux
    // pseudo-terminals drop parity and data size, so those are judged by ser2net's answers
    // (which the client checks) and only the speed by the line itself.
    void negotiation_sets_the_line() {
        QFETCH(vmx::BaudRate, baud);
        QFETCH(vmx::LineFormat, format);
        QFETCH(speed_t, speed);
        TelnetSession session(vmx::lineSettings(baud, format));
        QCOMPARE(session.open(server_->telnetPort()), Rfc2217Client::State::Ready);
        QCOMPARE(lineSpeed(device_), speed);
        // And the line carries frames at that speed.
        const QByteArray command = "RD";
        QVERIFY(isAnswerTo(session.exchange(frameFor(QString::fromLatin1(command))), command));
    }

    void byte_0xff_passes_once_each_way_over_telnet() {
        TelnetSession session(vmx::lineSettings(vmx::BaudRate::Baud19200, vmx::LineFormat::N81));
        QCOMPARE(session.open(server_->telnetPort()), Rfc2217Client::State::Ready);
        // "Rÿ": the command byte 0xFF goes out doubled and must reach the line once; the
        // simulator echoes the command, so the answer's 0xFF must reach us once too. CR and NUL
        // beside it pass untouched in binary mode.
        const QByteArray command("R\xFF\r\x01", 4);
        const QByteArray frame = frameFor(QString::fromLatin1(command));
        QVERIFY(frame.contains('\xFF'));
        const qsizetype logged = sim_.log().size();
        const QByteArray answer = session.exchange(frame);
        QVERIFY2(isAnswerTo(answer, command), answer.toHex(' ').constData());
        QCOMPARE(answer.count('\xFF'), 1);
        // The simulator saw the frame with one 0xFF: it answered with a good check, and its log
        // shows the frame as sent.
        QTRY_VERIFY(sim_.log().mid(logged).contains("rx " + frame.toHex(' ').toUpper() + "  "));
    }

    void byte_0xff_passes_untouched_over_raw_tcp() {
        const QByteArray command("R\xFF", 2);
        const QByteArray answer =
            rawExchange(server_->rawPort(), frameFor(QString::fromLatin1(command)));
        QVERIFY2(isAnswerTo(answer, command), answer.toHex(' ').constData());
        QCOMPARE(answer.count('\xFF'), 1);
    }

    void a_restarted_server_answers_on_the_same_ports() {
        TelnetSession before(vmx::lineSettings(vmx::BaudRate::Baud9600, vmx::LineFormat::E71));
        QCOMPARE(before.open(server_->telnetPort()), Rfc2217Client::State::Ready);
        const quint16 raw = server_->rawPort();
        const quint16 telnet = server_->telnetPort();

        server_->stop();
        // The open connection ends with the server.
        QTRY_COMPARE_WITH_TIMEOUT(before.socket().state(), QAbstractSocket::UnconnectedState,
                                  kWaitMs);
        QTcpSocket refused;
        refused.connectToHost(QHostAddress::LocalHost, telnet);
        QVERIFY(!refused.waitForConnected(kWaitMs));

        QVERIFY2(server_->start(), qPrintable(server_->error()));
        QCOMPARE(server_->rawPort(), raw);
        QCOMPARE(server_->telnetPort(), telnet);
        TelnetSession after(vmx::lineSettings(vmx::BaudRate::Baud2400, vmx::LineFormat::E71));
        QCOMPARE(after.open(telnet), Rfc2217Client::State::Ready);
        QCOMPARE(lineSpeed(device_), speed_t(B2400));
        QVERIFY(isAnswerTo(after.exchange(frameFor("RD")), "RD"));
    }

    void cleanupTestCase() {
        if (server_)
            server_->stop();
    }

private:
    vmx::test::ScratchDir scratch_;
    SimProcess sim_;
    QString device_;
    std::unique_ptr<Ser2netServer> server_;
};

QTEST_GUILESS_MAIN(TestSer2netLine)
#include "tst_ser2net_line.moc"
