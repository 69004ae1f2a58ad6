// One SEND and its answer through the exchange, as the window and velmarixon-send use it: a
// device on a pseudo-terminal and one on a loopback socket.
#include "exchange/exchange.h"
#include "links/serial_link.h"
#include "support/fake_resolver.h"
#include "support/four_ports.h"
#include "support/frame_bytes.h"
#include "support/loopback_peer.h"
#include "support/object_tree.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using vmx::Answer;
using vmx::Exchange;
using vmx::ExchangeRequest;
using vmx::LinkKind;
using vmx::test::bytes;
using vmx::test::FourPorts;
using vmx::test::kDefaultFrame;
using vmx::test::kLoopbackText;
using Peer = vmx::test::LoopbackPeer;

Q_DECLARE_METATYPE(vmx::Answer)
Q_DECLARE_METATYPE(vmx::LinkKind)

namespace {

ExchangeRequest serialRequest(int port, const QString& command = QStringLiteral("RD")) {
    ExchangeRequest request;
    request.target = vmx::SerialTarget{
        port, {}, vmx::lineSettings(vmx::BaudRate::Baud19200, vmx::LineFormat::E71), false};
    request.addressText = QStringLiteral("02");
    request.commandText = command;
    return request;
}

ExchangeRequest udpRequest(const QString& ipPort) {
    ExchangeRequest request;
    // Any free local port: the peer answers whichever it is.
    request.target = vmx::UdpTarget{kLoopbackText, ipPort, 0};
    request.addressText = QStringLiteral("02");
    request.commandText = QStringLiteral("RD");
    return request;
}

} // namespace

class TestExchange : public QObject {
    Q_OBJECT
private slots:
    // The whole exchange over a serial port: echo, the frame at the device, the reply's chunks
    // and its payload, the watchdog disarmed; a refusal is told apart by its terminator.
    void serialExchangeEndToEnd() {
        FourPorts ports;
        QVERIFY(ports.isValid());
        Exchange exchange(vmx::test::FakeResolver().resolver(), 300ms);
        QSignalSpy echoed(&exchange, &Exchange::echoed);
        QSignalSpy sent(&exchange, &Exchange::frameSent);
        QSignalSpy received(&exchange, &Exchange::received);
        QSignalSpy answered(&exchange, &Exchange::answered);
        QSignalSpy noAnswer(&exchange, &Exchange::noAnswer);

        QVERIFY(exchange.send(serialRequest(3)));
        QCOMPARE(echoed.at(0).at(0).toString(), QStringLiteral("7 30 32 52 44 46 46 3"));
        QCOMPARE(sent.at(0).at(0).toByteArray(), kDefaultFrame);
        QCOMPARE(ports.pty(3).readMaster(int(kDefaultFrame.size())), kDefaultFrame);
        QVERIFY(ports.othersSilent(3));

        QVERIFY(ports.pty(3).writeMaster("\x07"
                                         "02RD1"));
        QVERIFY(received.wait(3000));
        QVERIFY(ports.pty(3).writeMaster("2.5FF\x03"));
        QVERIFY(answered.wait(3000));
        QCOMPARE(answered.at(0).at(0).value<Answer>(), Answer::Reply);
        QCOMPARE(answered.at(0).at(1).toByteArray(), QByteArray("12.5"));
        QCOMPARE(received.at(0).at(0).value<LinkKind>(), LinkKind::Serial);
        QVERIFY(!vmx::test::partOf<vmx::ReplyWatchdog>(exchange).isRunning());

        QVERIFY(exchange.send(serialRequest(3)));
        QVERIFY(ports.pty(3).writeMaster(bytes({0x15})));
        QVERIFY(answered.wait(3000));
        QCOMPARE(answered.at(1).at(0).value<Answer>(), Answer::Nak);
        QCOMPARE(answered.at(1).at(1).toByteArray(), QByteArray("NAK"));
        QVERIFY(!noAnswer.wait(500));
    }

    // A SEND whose port fails takes neither command nor address: a late answer to the SEND
    // before (here over UDP) is still cut by that one's command length. Bytes a new SEND drops
    // are reported; after stop() an arrival is taken no more.
    void failedPortLeavesTheLastSendInCharge() {
        FourPorts ports;
        QVERIFY(ports.isValid());
        Peer device;
        QVERIFY(device.bound);
        Exchange exchange(vmx::test::FakeResolver().resolver(), 5s);
        QSignalSpy failed(&exchange, &Exchange::failed);
        QSignalSpy answered(&exchange, &Exchange::answered);
        QSignalSpy dropped(&exchange, &Exchange::leftoverDropped);
        QSignalSpy noAnswer(&exchange, &Exchange::noAnswer);

        QVERIFY(exchange.send(udpRequest(device.portText())));
        const QNetworkDatagram frame = device.next();
        QCOMPARE(frame.data(), kDefaultFrame);
        const auto answer = [&](const QByteArray& piece) {
            return device.socket.writeDatagram(piece, frame.senderAddress(),
                                               quint16(frame.senderPort())) == piece.size();
        };
        QVERIFY(answer("\x07"
                       "02RD"));
        QTRY_COMPARE_WITH_TIMEOUT(exchange.state().reply.rxBuffer().size(), 5, 3000);
        QVERIFY(ports.unplug(2));
        QVERIFY(!exchange.send(serialRequest(2, QStringLiteral("LONGER"))));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("COM Port error"));
        QVERIFY(!failed.at(0).at(1).toString().isEmpty());
        QCOMPARE(exchange.state().commandText, QStringLiteral("RD"));
        QVERIFY(vmx::test::partOf<vmx::ReplyWatchdog>(exchange).isRunning()); // the first SEND's
        QCOMPARE(dropped.count(), 0);

        QVERIFY(answer("12.5FF\x03"));
        QVERIFY(answered.wait(3000));
        QCOMPARE(answered.at(0).at(1).toByteArray(), QByteArray("12.5"));

        // A frame-building failure comes after the link: the command is taken, nothing sent.
        QVERIFY(!exchange.send(serialRequest(1, QString())));
        QCOMPARE(failed.count(), 2);
        QCOMPARE(exchange.state().commandLength, 0.0f);

        QVERIFY(ports.pty(1).writeMaster("\x07"
                                         "02"));
        QTRY_COMPARE_WITH_TIMEOUT(exchange.state().reply.rxBuffer().size(), 3, 3000);
        QVERIFY(exchange.send(serialRequest(1)));
        QCOMPARE(dropped.count(), 1);
        QCOMPARE(dropped.at(0).at(0).toByteArray(), QByteArray("\x07"
                                                               "02"));
        exchange.stop();
        QSignalSpy arrived(&vmx::test::partOf<vmx::SerialLink>(exchange), &vmx::Link::bytesArrived);
        QVERIFY(ports.pty(1).writeMaster(bytes({0x06})));
        QVERIFY(arrived.wait(3000));
        QCOMPARE(answered.count(), 1);
        QCOMPARE(noAnswer.count(), 0);
    }

    // Over UDP the IP texts are kept even by a SEND that fails on them; the next SEND with
    // usable texts sets the socket up and the device's acknowledgement completes it.
    void udpTextsAreKeptEvenWhenTheSetUpFails() {
        Peer device;
        QVERIFY(device.bound);
        Exchange exchange(vmx::test::FakeResolver().resolver(), 5s);
        QSignalSpy failed(&exchange, &Exchange::failed);
        QSignalSpy answered(&exchange, &Exchange::answered);

        QVERIFY(!exchange.send(udpRequest(QStringLiteral("abc"))));
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("udp connection error"));
        QCOMPARE(exchange.state().ipPort, QStringLiteral("abc"));
        QCOMPARE(exchange.state().ipAddress, kLoopbackText);
        QVERIFY(exchange.state().commandText.isEmpty());

        QVERIFY(exchange.send(udpRequest(device.portText())));
        QCOMPARE(exchange.state().ipPort, device.portText());
        const QNetworkDatagram datagram = device.next();
        QCOMPARE(datagram.data(), kDefaultFrame);
        QVERIFY(device.socket.writeDatagram(bytes({0x06}), datagram.senderAddress(),
                                            quint16(datagram.senderPort())) == 1);
        QVERIFY(answered.wait(3000));
        QCOMPARE(answered.at(0).at(0).value<Answer>(), Answer::Ack);
        QVERIFY(!vmx::test::partOf<vmx::ReplyWatchdog>(exchange).isRunning());
    }

    // The same address and command give the same frame without building it again, but a frame
    // that failed is never stood in for by the one before it: the same texts fail again.
    void aFailedFrameIsNotSentByTheNextSend() {
        Peer device;
        QVERIFY(device.bound);
        Exchange exchange(vmx::test::FakeResolver().resolver(), 5s);
        QSignalSpy failed(&exchange, &Exchange::failed);
        QSignalSpy sent(&exchange, &Exchange::frameSent);
        ExchangeRequest request = udpRequest(device.portText());
        QVERIFY(exchange.send(request));
        QCOMPARE(device.next().data(), kDefaultFrame);

        request.commandText = QStringLiteral("R\u0100"); // beyond Latin-1
        for (int i = 0; i < 2; ++i) {
            QVERIFY(!exchange.send(request));
            QCOMPARE(failed.count(), i + 1);
        }
        QCOMPARE(sent.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
