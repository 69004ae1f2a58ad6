// SEND as one operation: a real serial link on pseudo-terminals linked as COM1..COM4, a real UDP
// link towards a loopback peer, and window controls that record when and in what state they are
// asked for something.
#include "app/send_operation.h"
#include "links/serial_link.h"
#include "links/udp_link.h"
#include "support/four_ports.h"
#include "support/frame_bytes.h"
#include "support/loopback_peer.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <functional>

#include <pty.h>
#include <unistd.h>

using vmx::ExchangeState;
using vmx::kComPortError;
using vmx::kUdpConnectionError;
using vmx::LineSettings;
using vmx::LinkSelection;
using vmx::SendControls;
using vmx::SerialLink;
using vmx::UdpLink;
using vmx::test::bytes;
using vmx::test::kDefaultFrame;
using vmx::test::kLoopbackText;
using Peer = vmx::test::LoopbackPeer;

namespace {

const QString kDefaultEcho = QStringLiteral("7 30 32 52 44 46 46 3");
const QByteArray kStale = QByteArrayLiteral("\x07"
                                            "02RD1");

// What the window was asked for during one SEND, and what the state was at that moment.
struct Probe {
    QStringList calls;
    QStringList messages;
    QString echo;
    bool openAtCommandRead = false;
    int portAtCommandRead = 0;
    int closesAtCommandRead = -1;
    bool udpSetUpAtCommandRead = false;
    float commandLengthAtAddressRead = -1;
    float commandLengthAtEcho = -1;
    QByteArray rxBufferAtEcho;
    qint64 unwrittenAtEcho = -1;
    QByteArray rxBufferAtArm;
    int deliveredAtArm = -1; // bytes the device had waiting when the watchdog was armed
};

// COM1..COM4 each lead to a pseudo-terminal of their own; the links and the state SEND keeps.
class Bench : public vmx::test::FourPorts {
public:
    Bench() : closes_(&serial_.port(), &QIODevice::aboutToClose) {}

    SerialLink& serial() { return serial_; }
    UdpLink& udp() { return udp_; }
    ExchangeState& exchange() { return exchange_; }
    int closes() const { return int(closes_.count()); }

    // How many bytes have reached the device on the open port so far.
    int deliveredSoFar(int expected) const {
        return pty(serial_.portNumber()).pendingOnMaster(expected);
    }

    // The texts in the boxes at the moment SEND reads them.
    QString command = QStringLiteral("RD");
    QString address = QStringLiteral("02");
    QString ipAddressBox;
    QString ipPortBox;

    // The stored IP texts SEND refreshes on the UDP link.
    QString ipAddress = QStringLiteral("stored address");
    QString ipPort = QStringLiteral("stored port");

    Probe probe;
    // Runs when SEND reads the command box: after the link has been prepared, before any write.
    std::function<void()> onCommandRead;

    bool send(const LinkSelection& selection) {
        probe = Probe{};
        const bool serialChosen = selection.portSelect < 25;
        const SendControls controls{
            [this] {
                probe.calls << QStringLiteral("command");
                probe.openAtCommandRead = serial_.isOpen();
                probe.portAtCommandRead = serial_.portNumber();
                probe.closesAtCommandRead = closes();
                probe.udpSetUpAtCommandRead = udp_.isSetUp();
                if (onCommandRead)
                    onCommandRead();
                return command;
            },
            [this] {
                probe.calls << QStringLiteral("address");
                probe.commandLengthAtAddressRead = exchange_.commandLength;
                return address;
            },
            [this] {
                probe.calls << QStringLiteral("ipAddress");
                return ipAddressBox;
            },
            [this] {
                probe.calls << QStringLiteral("ipPort");
                return ipPortBox;
            },
            [this](const QString& echo) {
                probe.calls << QStringLiteral("echo");
                probe.echo = echo;
                probe.commandLengthAtEcho = exchange_.commandLength;
                probe.rxBufferAtEcho = exchange_.reply.rxBuffer();
                probe.unwrittenAtEcho = serial_.port().bytesToWrite();
            },
            [this](const QString& message) {
                probe.calls << QStringLiteral("message");
                probe.messages << message;
            },
            [this, serialChosen] {
                probe.calls << QStringLiteral("arm");
                probe.rxBufferAtArm = exchange_.reply.rxBuffer();
                if (serialChosen)
                    probe.deliveredAtArm =
                        deliveredSoFar(int(sendingOrder(exchange_.frame).size()));
            },
        };
        return vmx::runSend(selection, {serial_, udp_}, exchange_, ipAddress, ipPort, controls);
    }

    // Characters of an earlier, unfinished answer waiting in rxBuffer.
    void leaveStaleReply() { exchange_.reply.receive(kStale, exchange_.commandLength); }

private:
    SerialLink serial_;
    UdpLink udp_;
    ExchangeState exchange_;
    QSignalSpy closes_;
};

const QStringList kSerialSuccess{"command", "address", "echo", "arm"};

} // namespace

class TestSendOperation : public QObject {
    Q_OBJECT
private slots:
    void serialSendRunsItsStepsInOrder() {
        Bench bench;
        QVERIFY(bench.isValid());
        bench.exchange().commandLength = 42;
        bench.leaveStaleReply();
        QCOMPARE(bench.exchange().reply.rxBuffer(), kStale);

        QVERIFY(bench.send({2, 3, 1}));
        const Probe& p = bench.probe;
        // The port is prepared before the command is read, the command before the address, the
        // frame is built after both, echoed while rxBuffer still holds the old characters and
        // before anything is written, and the watchdog is armed once the frame is handed over.
        QCOMPARE(p.calls, kSerialSuccess);
        QVERIFY(p.openAtCommandRead);
        QCOMPARE(p.portAtCommandRead, 3);
        QCOMPARE(p.commandLengthAtAddressRead, 42.0f);
        QCOMPARE(p.commandLengthAtEcho, 2.0f);
        QCOMPARE(p.rxBufferAtEcho, kStale);
        QCOMPARE(p.unwrittenAtEcho, 0);
        QCOMPARE(p.rxBufferAtArm, QByteArray());
        QCOMPARE(p.deliveredAtArm, int(kDefaultFrame.size()));
        QCOMPARE(p.echo, kDefaultEcho);
        QVERIFY(p.messages.isEmpty());

        QCOMPARE(bench.exchange().commandText, QStringLiteral("RD"));
        QCOMPARE(bench.exchange().addressText, QStringLiteral("02"));
        QCOMPARE(bench.pty(3).readMaster(int(kDefaultFrame.size())), kDefaultFrame);
        QCOMPARE(bench.pty(3).drainMaster(), QByteArray());
        QVERIFY(bench.othersSilent(3));
        // The serial branch leaves the IP texts and the socket alone.
        QCOMPARE(bench.ipAddress, QStringLiteral("stored address"));
        QVERIFY(!bench.udp().isSetUp());
    }

    void selectionsGiveThePortAndItsLineSettings_data() {
        QTest::addColumn<float>("portSelect");
        QTest::addColumn<float>("baudSelect");
        QTest::addColumn<float>("comFormat");
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("dataBits");
        QTest::newRow("port 3, 19200, N, 8, 1")
            << 2.0f << 3.0f << 1.0f << 3 << 19200 << int(QSerialPort::NoParity)
            << int(QSerialPort::Data8);
        QTest::newRow("nothing chosen: port 1, 1200, E, 7, 1")
            << 0.0f << 0.0f << 0.0f << 1 << 1200 << int(QSerialPort::EvenParity)
            << int(QSerialPort::Data7);
        QTest::newRow("port 2, 2400, E, 7, 1")
            << 1.0f << 1.0f << 0.0f << 2 << 2400 << int(QSerialPort::EvenParity)
            << int(QSerialPort::Data7);
        QTest::newRow("port 4, 9600, N, 8, 1")
            << 3.0f << 2.0f << 1.0f << 4 << 9600 << int(QSerialPort::NoParity)
            << int(QSerialPort::Data8);
    }

    void selectionsGiveThePortAndItsLineSettings() {
        QFETCH(float, portSelect);
        QFETCH(float, baudSelect);
        QFETCH(float, comFormat);
        QFETCH(int, portNumber);
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, dataBits);

        Bench bench;
        QVERIFY(bench.isValid());
        QVERIFY(bench.send({portSelect, baudSelect, comFormat}));
        QCOMPARE(bench.probe.calls, kSerialSuccess);
        QCOMPARE(bench.serial().portNumber(), portNumber);
        const LineSettings expected{baud, QSerialPort::Parity(parity),
                                    QSerialPort::DataBits(dataBits), QSerialPort::OneStop};
        QCOMPARE(bench.serial().lineSettings(), expected);
        QCOMPARE(bench.serial().port().baudRate(), baud);
        QCOMPARE(int(bench.serial().port().parity()), parity);
        QCOMPARE(int(bench.serial().port().dataBits()), dataBits);
        QCOMPARE(bench.serial().port().stopBits(), QSerialPort::OneStop);
        QCOMPARE(bench.pty(portNumber).readMaster(int(kDefaultFrame.size())), kDefaultFrame);
        QVERIFY(bench.othersSilent(portNumber));
    }

    void frameReachesTheDeviceAndItsEcho_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("echo");
        QTest::newRow("02 RD") << "02"
                               << "RD" << kDefaultFrame << kDefaultEcho;
        QTest::newRow("99 ZZZ") << "99"
                                << "ZZZ"
                                << bytes({0x07, 0x39, 0x39, 0x5A, 0x5A, 0x5A, 0x38, 0x37, 0x03})
                                << "7 39 39 5A 5A 5A 38 37 3";
        QTest::newRow("5 X, seven bytes")
            << "5"
            << "X" << bytes({0x07, 0x30, 0x35, 0x58, 0x43, 0x34, 0x03}) << "7 30 35 58 43 34 3";
        QTest::newRow("blanks around the address")
            << " 5 "
            << "X" << bytes({0x07, 0x30, 0x35, 0x58, 0x43, 0x34, 0x03}) << "7 30 35 58 43 34 3";
        // Tens value 207: the tens byte is 0xFF; 7 + 0xFF + 0x39 + 0x52 + 0x44 = 0x1D5.
        QTest::newRow("2079 RD") << "2079"
                                 << "RD" << bytes({0x07, 0xFF, 0x39, 0x52, 0x44, 0x44, 0x35, 0x03})
                                 << "7 FF 39 52 44 44 35 3";
    }

    void frameReachesTheDeviceAndItsEcho() {
        QFETCH(QString, address);
        QFETCH(QString, command);
        QFETCH(QByteArray, frame);
        QFETCH(QString, echo);

        Bench bench;
        QVERIFY(bench.isValid());
        bench.address = address;
        bench.command = command;
        QVERIFY(bench.send({0, 3, 1}));
        QCOMPARE(bench.probe.echo, echo);
        QCOMPARE(bench.probe.deliveredAtArm, int(frame.size()));
        QCOMPARE(bench.pty(1).readMaster(int(frame.size())), frame);
        QCOMPARE(bench.pty(1).drainMaster(), QByteArray());
    }

    void secondSendReopensThePortAndWritesAgain() {
        Bench bench;
        QVERIFY(bench.isValid());
        QVERIFY(bench.send({0, 3, 0}));
        QCOMPARE(bench.probe.closesAtCommandRead, 0);
        QCOMPARE(bench.pty(1).readMaster(int(kDefaultFrame.size())), kDefaultFrame);
        QCOMPARE(bench.closes(), 0);

        bench.command = QStringLiteral("X");
        bench.address = QStringLiteral("5");
        QVERIFY(bench.send({0, 3, 0}));
        // Closed and opened again before the boxes are read.
        QCOMPARE(bench.probe.calls, kSerialSuccess);
        QCOMPARE(bench.probe.closesAtCommandRead, 1);
        QVERIFY(bench.probe.openAtCommandRead);
        QCOMPARE(bench.probe.echo, QStringLiteral("7 30 35 58 43 34 3"));
        const QByteArray second = bytes({0x07, 0x30, 0x35, 0x58, 0x43, 0x34, 0x03});
        QCOMPARE(bench.pty(1).readMaster(int(second.size())), second);
        QCOMPARE(bench.pty(1).drainMaster(), QByteArray());
        QCOMPARE(bench.closes(), 1);
    }

    void frameBuildingFailureLeavesThePortOpenAndWritesNothing_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<float>("commandLength");
        // A failure of the address number itself comes before commandLength is set (it keeps
        // the 2 of the earlier "RD"); a tens byte beyond 255 fails after it (3 for "ABC").
        QTest::newRow("text ab") << "ab" << 2.0f;
        QTest::newRow("empty") << "" << 2.0f;
        QTest::newRow("-1") << "-1" << 2.0f;
        QTest::newRow("tens 256") << "2560" << 2.0f;
        QTest::newRow("tens 208") << "2080" << 3.0f;
    }

    void frameBuildingFailureLeavesThePortOpenAndWritesNothing() {
        QFETCH(QString, address);
        QFETCH(float, commandLength);

        Bench bench;
        QVERIFY(bench.isValid());
        QVERIFY(bench.send({0, 0, 0}));
        QCOMPARE(bench.pty(1).readMaster(int(kDefaultFrame.size())), kDefaultFrame);
        bench.leaveStaleReply();

        bench.address = address;
        bench.command = QStringLiteral("ABC");
        QVERIFY(!bench.send({2, 3, 1}));
        const Probe& p = bench.probe;
        QCOMPARE(p.calls, (QStringList{"command", "address", "message"}));
        QCOMPARE(p.messages, QStringList{kComPortError});
        // The port was prepared with the new settings and stays open.
        QVERIFY(bench.serial().isOpen());
        QCOMPARE(bench.serial().portNumber(), 3);
        QCOMPARE(
            bench.serial().lineSettings(),
            (LineSettings{19200, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop}));
        QCOMPARE(bench.closes(), 1);
        // rxBuffer keeps the earlier characters, nothing is written anywhere.
        QCOMPARE(bench.exchange().reply.rxBuffer(), kStale);
        QCOMPARE(bench.serial().port().bytesToWrite(), 0);
        QVERIFY(bench.allSilent());
        QCOMPARE(bench.exchange().addressText, address);
        QCOMPARE(bench.exchange().commandText, QStringLiteral("ABC"));
        QCOMPARE(bench.exchange().commandLength, commandLength);
    }

    void portThatCannotBeOpenedEndsSendBeforeTheBoxesAreRead() {
        Bench bench;
        QVERIFY(bench.isValid());
        QVERIFY(bench.send({0, 3, 0}));
        QCOMPARE(bench.pty(1).readMaster(int(kDefaultFrame.size())), kDefaultFrame);
        bench.leaveStaleReply();
        QVERIFY(bench.unplug(2));

        bench.command = QStringLiteral("X");
        QVERIFY(!bench.send({1, 3, 0}));
        QCOMPARE(bench.probe.calls, QStringList{"message"});
        QCOMPARE(bench.probe.messages, QStringList{kComPortError});
        QVERIFY(!bench.serial().isOpen());
        QCOMPARE(bench.exchange().reply.rxBuffer(), kStale);
        QCOMPARE(bench.exchange().commandText, QStringLiteral("RD"));
        QCOMPARE(bench.exchange().commandLength, 2.0f);
        QVERIFY(bench.allSilent());

        // Nothing is left half done: the next SEND on a port that exists works as usual.
        QVERIFY(bench.send({0, 3, 0}));
        QCOMPARE(bench.probe.calls, kSerialSuccess);
        QCOMPARE(bench.pty(1).readMaster(7), bytes({0x07, 0x30, 0x32, 0x58, 0x43, 0x31, 0x03}));
    }

    void emptyCommandReopensThePortThenFails() {
        Bench bench;
        QVERIFY(bench.isValid());
        QVERIFY(bench.send({0, 0, 0}));
        QCOMPARE(bench.pty(1).readMaster(int(kDefaultFrame.size())), kDefaultFrame);
        bench.leaveStaleReply();

        bench.command.clear();
        QVERIFY(!bench.send({2, 3, 1}));
        const Probe& p = bench.probe;
        QCOMPARE(p.calls, (QStringList{"command", "address", "message"}));
        QCOMPARE(p.messages, QStringList{kComPortError});
        QVERIFY(p.openAtCommandRead);
        QCOMPARE(p.portAtCommandRead, 3);
        QCOMPARE(p.closesAtCommandRead, 1);
        QCOMPARE(bench.exchange().commandLength, 0.0f);
        QCOMPARE(bench.exchange().reply.rxBuffer(), kStale);
        QVERIFY(bench.serial().isOpen());
        QVERIFY(bench.allSilent());
    }

    void writeThatFailsEndsSendWithoutArming() {
        Bench bench;
        QVERIFY(bench.isValid());
        // A line of its own whose far end goes away once the port is open: every write to it
        // fails from then on.
        int master = -1;
        int slave = -1;
        char name[256] = {};
        QVERIFY(::openpty(&master, &slave, name, nullptr, nullptr) == 0);
        ::close(slave);
        QFile::remove(QStringLiteral("COM2"));
        QVERIFY(QFile::link(QString::fromLocal8Bit(name), QStringLiteral("COM2")));
        bench.onCommandRead = [&master] {
            ::close(master);
            master = -1;
        };
        bench.leaveStaleReply();

        const bool sent = bench.send({1, 3, 1});
        if (master >= 0)
            ::close(master);
        QVERIFY(bench.probe.openAtCommandRead);
        QCOMPARE(bench.probe.echo, kDefaultEcho);
        QCOMPARE(bench.probe.messages, QStringList{kComPortError});
        QVERIFY(!sent);
        QCOMPARE(bench.probe.calls, (QStringList{"command", "address", "echo", "message"}));
        // The frame was echoed and rxBuffer emptied before the write failed.
        QCOMPARE(bench.exchange().reply.rxBuffer(), QByteArray());
    }

    void udpSendSetsUpTheSocketAndSendsOneDatagram() {
        Bench bench;
        QVERIFY(bench.isValid());
        Peer peer;
        QVERIFY(peer.bound);
        bench.ipAddressBox = kLoopbackText;
        bench.ipPortBox = peer.portText();
        bench.leaveStaleReply();

        QVERIFY(bench.send({99, 3, 0}));
        const Probe& p = bench.probe;
        QCOMPARE(p.calls,
                 (QStringList{"ipAddress", "ipPort", "command", "address", "echo", "arm"}));
        QVERIFY(p.udpSetUpAtCommandRead);
        QCOMPARE(p.rxBufferAtEcho, kStale);
        QCOMPARE(p.rxBufferAtArm, QByteArray());
        QCOMPARE(p.echo, kDefaultEcho);
        QCOMPARE(bench.ipAddress, QStringLiteral("127.0.0.1"));
        QCOMPARE(bench.ipPort, peer.portText());

        const QNetworkDatagram datagram = peer.next();
        QVERIFY(datagram.isValid());
        QCOMPARE(datagram.data(), kDefaultFrame);
        QCOMPARE(datagram.senderPort(), int(vmx::kLocalUdpPort));
        QVERIFY(peer.quiet());
        // The serial port is not touched on the UDP link.
        QVERIFY(!bench.serial().isOpen());
        QVERIFY(bench.allSilent());
    }

    void udpFailuresShowTheirMessageOnce_data() {
        QTest::addColumn<QString>("portBox");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("setUp");
        QTest::addColumn<float>("commandLength");
        const QStringList setUpFails{"ipAddress", "ipPort", "message"};
        const QStringList buildFails{"ipAddress", "ipPort", "command", "address", "message"};
        QTest::newRow("port text not a number") << "abc"
                                                << "02"
                                                << "RD" << setUpFails << false << 7.0f;
        QTest::newRow("empty command") << ""
                                       << "02"
                                       << "" << buildFails << true << 0.0f;
        QTest::newRow("address not a number") << ""
                                              << "ab"
                                              << "RD" << buildFails << true << 7.0f;
    }

    void udpFailuresShowTheirMessageOnce() {
        QFETCH(QString, portBox);
        QFETCH(QString, address);
        QFETCH(QString, command);
        QFETCH(QStringList, calls);
        QFETCH(bool, setUp);
        QFETCH(float, commandLength);

        Bench bench;
        QVERIFY(bench.isValid());
        Peer peer;
        QVERIFY(peer.bound);
        bench.ipAddressBox = kLoopbackText;
        bench.ipPortBox = portBox.isEmpty() ? peer.portText() : portBox;
        bench.address = address;
        bench.command = command;
        bench.exchange().commandLength = 7;
        bench.leaveStaleReply();

        QVERIFY(!bench.send({99, 3, 0}));
        QCOMPARE(bench.probe.calls, calls);
        QCOMPARE(bench.probe.messages, QStringList{kUdpConnectionError});
        QCOMPARE(bench.udp().isSetUp(), setUp);
        // The texts are taken whether or not the set-up works.
        QCOMPARE(bench.ipAddress, bench.ipAddressBox);
        QCOMPARE(bench.ipPort, bench.ipPortBox);
        QCOMPARE(bench.exchange().commandLength, commandLength);
        QCOMPARE(bench.exchange().reply.rxBuffer(), kStale);
        QVERIFY(peer.quiet());
        QVERIFY(!bench.serial().isOpen());
    }

    void laterUdpSendKeepsTheFirstDestination() {
        Bench bench;
        QVERIFY(bench.isValid());
        Peer first;
        Peer second;
        QVERIFY(first.bound && second.bound);
        bench.ipAddressBox = kLoopbackText;
        bench.ipPortBox = first.portText();
        QVERIFY(bench.send({99, 3, 0}));
        QCOMPARE(first.next().data(), kDefaultFrame);

        // A port text that is no number fails only while the socket is closed.
        for (const QString& portBox : {second.portText(), QStringLiteral("abc")}) {
            bench.ipPortBox = portBox;
            QVERIFY(bench.send({99, 3, 0}));
            QCOMPARE(bench.probe.messages, QStringList());
            QCOMPARE(bench.ipPort, portBox);
            QCOMPARE(first.next().data(), kDefaultFrame);
            QVERIFY(second.quiet());
        }
    }
};

QTEST_GUILESS_MAIN(TestSendOperation)
#include "tst_send_operation.moc"
