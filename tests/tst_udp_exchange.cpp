// The exchange with a device on the network, through the real window. The device is a socket on
// 127.0.0.1; nothing is ever sent anywhere else.
#include "links/udp_link.h"
#include "support/fake_resolver.h"
#include "support/frame_bytes.h"
#include "support/loopback_peer.h"
#include "support/option_buttons.h"
#include "support/pty_pair.h"
#include "support/window_fixture.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>
#include <chrono>

using namespace std::chrono_literals;
using vmx::kLocalUdpPort;
using vmx::test::FakeResolver;
using vmx::test::kDefaultFrame;
using vmx::test::kLoopback;
using vmx::test::kLoopbackText;
using vmx::test::PtyPair;
using Peer = vmx::test::LoopbackPeer;

namespace {

const QString kUdpConnectionError = QStringLiteral("udp connection error");

// A first start with "Udp" chosen, address 02, and the IP boxes aimed at a loopback peer.
class UdpWindow : public vmx::test::WindowFixture {
public:
    // Host names are answered by `resolveHost` when given, else by no one.
    explicit UdpWindow(vmx::HostResolver resolveHost = {})
        : WindowFixture(vmx::kReplyTimeout, vmx::test::MessageBoxes::Recorded,
                        std::move(resolveHost)) {}

    Peer peer;

    bool start() {
        if (!WindowFixture::start())
            return false;
        click("Option9");
        box("Text1")->setText(QStringLiteral("02"));
        box("Text3")->setText(kLoopbackText);
        box("Text4")->setText(peer.portText());
        return peer.bound;
    }

    // Clicks SEND only when the datagram can go nowhere but to this machine: the socket is
    // still closed and the address box says 127.0.0.1, or it was set up by such a SEND (the
    // socket keeps the destination of its set-up, and a SEND sets it up before returning).
    bool send() {
        const bool setUp = vmx::test::udpSocketSetUp(form());
        const bool safe = setUp ? aimedAtLoopback_ : box("Text3")->text() == kLoopbackText;
        if (!safe)
            return false;
        click("Command1");
        if (!setUp && vmx::test::udpSocketSetUp(form()))
            aimedAtLoopback_ = true;
        return true;
    }

    // A first start and one SEND; the frame as the peer receives it.
    QByteArray startAndSend() {
        if (!start() || !send())
            return "<not sent>";
        return peer.next().data();
    }

private:
    bool aimedAtLoopback_ = false;
};

} // namespace

class TestUdpExchange : public QObject {
    Q_OBJECT
private slots:
    void firstSendSetsUpTheSocketAndSendsOneDatagram() {
        UdpWindow w;
        QVERIFY(w.start());
        QCOMPARE(vmx::test::portSelect(w.form()), 99.0f);
        QCOMPARE(vmx::test::ipFieldsShown(w.form()), 4);
        QVERIFY(!vmx::test::udpSocketSetUp(w.form()));

        QVERIFY(w.send());
        QVERIFY(w.messages().isEmpty());
        const QNetworkDatagram datagram = w.peer.next();
        QVERIFY(datagram.isValid());
        QCOMPARE(datagram.data(), kDefaultFrame);
        QCOMPARE(datagram.senderPort(), int(kLocalUdpPort));
        QVERIFY(w.peer.quiet());

        QVERIFY(vmx::test::udpSocketSetUp(w.form()));
        QCOMPARE(w.form().exchange().state().ipAddress, kLoopbackText);
        QCOMPARE(w.form().exchange().state().ipPort, w.peer.portText());
        QCOMPARE(w.box("outmessage")->text(), QStringLiteral("7 30 32 52 44 46 46 3"));
        QVERIFY(vmx::test::watchdog(w.form()).isRunning());
        QVERIFY(!vmx::test::serialPortOpen(w.form()));
    }

    void laterBoxChangesReachTheSettingsButNotTheSocket() {
        UdpWindow w;
        Peer second;
        QVERIFY(second.bound);
        QCOMPARE(w.startAndSend(), kDefaultFrame);

        w.box("Text3")->setText(QStringLiteral("localhost"));
        w.box("Text4")->setText(second.portText());
        QVERIFY(w.send());
        QCOMPARE(w.form().exchange().state().ipAddress, QStringLiteral("localhost"));
        QCOMPARE(w.form().exchange().state().ipPort, second.portText());
        QCOMPARE(w.peer.next().data(), kDefaultFrame);
        QVERIFY(second.quiet());

        // A port text that is no number does no harm once the socket is set up.
        w.box("Text4")->setText(QStringLiteral("abc"));
        QVERIFY(w.send());
        QVERIFY(w.messages().isEmpty());
        QCOMPARE(w.form().exchange().state().ipPort, QStringLiteral("abc"));
        QCOMPARE(w.peer.next().data(), kDefaultFrame);
        QVERIFY(second.quiet());
    }

    void hostNameInTheIpBoxIsResolved() {
        // The only name known leads to 127.0.0.1, so the datagram cannot leave the machine.
        FakeResolver names;
        names.know(QStringLiteral("field-device"), {kLoopback});
        UdpWindow w(names.resolver());
        QVERIFY(w.start());

        w.box("Text3")->setText(QStringLiteral("unknown-device"));
        w.click("Command1");
        QCOMPARE(w.messages(), QStringList{kUdpConnectionError});
        QVERIFY(!vmx::test::udpSocketSetUp(w.form()));
        QVERIFY(w.peer.quiet());

        w.box("Text3")->setText(QStringLiteral("field-device"));
        w.click("Command1");
        QCOMPARE(w.peer.next().data(), kDefaultFrame);
        QCOMPARE(w.messages(), QStringList{kUdpConnectionError});
        QCOMPARE(names.askedNames(), (QStringList{"unknown-device", "field-device"}));
        QCOMPARE(w.form().exchange().state().ipAddress, QStringLiteral("field-device"));
    }

    void nameServerThatAnswersLateHoldsSendForAtMostTwoSeconds() {
        FakeResolver names;
        names.know(QStringLiteral("slow-device"), {kLoopback});
        names.answerLate(QStringLiteral("slow-device"), 5s);
        UdpWindow w(names.resolver());
        QVERIFY(w.start());
        w.box("Text3")->setText(QStringLiteral("slow-device"));

        // SEND runs from the event loop, as a click does; a heartbeat measures the longest time
        // the loop was held.
        QElapsedTimer sinceBeat;
        qint64 longestHoldMs = 0;
        qint64 sendMs = -1;
        int beatsAfterSend = 0;
        QTimer heartbeat;
        heartbeat.setInterval(10);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            longestHoldMs = std::max(longestHoldMs, sinceBeat.restart());
            if (sendMs >= 0)
                ++beatsAfterSend;
        });
        sinceBeat.start();
        heartbeat.start();
        QTimer::singleShot(0, &w.form(), [&] {
            QElapsedTimer send;
            send.start();
            w.click("Command1");
            sendMs = send.elapsed();
        });
        QTRY_VERIFY_WITH_TIMEOUT(beatsAfterSend > 0, 8000);
        heartbeat.stop();
        qInfo("SEND took %lld ms; the event loop was held at most %lld ms", sendMs, longestHoldMs);

        QCOMPARE(w.messages(), QStringList{kUdpConnectionError});
        QCOMPARE(names.answered(), 0); // SEND gave up before the name server answered
        QVERIFY(sendMs >= std::chrono::milliseconds(vmx::kHostLookupLimit).count() - 100);
        QVERIFY2(longestHoldMs < 3000, "the window waited for the late answer");
        QVERIFY(!vmx::test::udpSocketSetUp(w.form()));
        QVERIFY(!vmx::test::watchdog(w.form()).isRunning());

        // The late answer changes nothing; the next SEND with an address works.
        names.release();
        QTRY_COMPARE(names.answered(), 1);
        QVERIFY(w.peer.quiet());
        QVERIFY(!vmx::test::udpSocketSetUp(w.form()));
        w.box("Text3")->setText(kLoopbackText);
        QVERIFY(w.send());
        QCOMPARE(w.peer.next().data(), kDefaultFrame);
        QCOMPARE(w.messages(), QStringList{kUdpConnectionError});
    }

    void portTextThatIsNoNumberFailsWhileClosed() {
        UdpWindow w;
        QVERIFY(w.start());
        w.box("Text4")->setText(QStringLiteral("abc"));
        QVERIFY(w.send());
        QCOMPARE(w.messages(), QStringList{kUdpConnectionError});
        QVERIFY(w.peer.quiet());
        QVERIFY(!vmx::test::udpSocketSetUp(w.form()));
        QVERIFY(!vmx::test::watchdog(w.form()).isRunning());
        QCOMPARE(w.form().exchange().state().ipPort, QStringLiteral("abc"));
        QCOMPARE(w.box("outmessage")->text(), QString());

        // Still closed, so the next SEND sets it up with the corrected text.
        w.box("Text4")->setText(w.peer.portText());
        QVERIFY(w.send());
        QCOMPARE(w.messages(), QStringList{kUdpConnectionError});
        QCOMPARE(w.peer.next().data(), kDefaultFrame);
        QVERIFY(vmx::test::watchdog(w.form()).isRunning());
    }

    void localPortTakenFailsAndLeavesTheSocketClosed() {
        UdpWindow w;
        QVERIFY(w.start());
        {
            QUdpSocket holder;
            QVERIFY(holder.bind(QHostAddress::AnyIPv4, kLocalUdpPort,
                                QAbstractSocket::DontShareAddress));
            QVERIFY(w.send());
            QCOMPARE(w.messages(), QStringList{kUdpConnectionError});
            QVERIFY(!vmx::test::udpSocketSetUp(w.form()));
            QVERIFY(w.peer.quiet());
            QVERIFY(!vmx::test::watchdog(w.form()).isRunning());
        }
        QVERIFY(w.send());
        QCOMPARE(w.peer.next().data(), kDefaultFrame);
        QCOMPARE(w.messages(), QStringList{kUdpConnectionError});
    }

    void emptyCommandSetsUpTheSocketThenFails() {
        UdpWindow w;
        QVERIFY(w.start());
        const QString command = w.box("xxx")->text();
        w.box("xxx")->clear();
        QVERIFY(w.send());
        QCOMPARE(w.messages(), QStringList{kUdpConnectionError});
        QVERIFY(vmx::test::udpSocketSetUp(w.form()));
        QCOMPARE(w.form().exchange().state().commandLength, 0.0f);
        QVERIFY(!vmx::test::watchdog(w.form()).isRunning());
        QCOMPARE(w.box("outmessage")->text(), QString());
        QVERIFY(w.peer.quiet());

        // The socket was aimed at the peer by that SEND: the next command reaches it.
        w.box("xxx")->setText(command);
        QVERIFY(w.send());
        QCOMPARE(w.peer.next().data(), kDefaultFrame);
    }

    void answersFromAnySourcePortBecomeLines() {
        UdpWindow w;
        QCOMPARE(w.startAndSend(), kDefaultFrame);
        QVERIFY(w.peer.answer("\x07"
                              "02RD12.5xy\x03"));
        QTRY_COMPARE(w.messageText(), QStringLiteral("12.5\r\n"));
        QVERIFY(!vmx::test::watchdog(w.form()).isRunning());

        // Another sender, from another port, is heard the same way.
        Peer stranger;
        QVERIFY(stranger.bound);
        QVERIFY(stranger.answer("\x15"));
        QTRY_COMPARE(w.messageText(), QStringLiteral("12.5\r\nNAK\r\n"));
        QVERIFY(w.messages().isEmpty());
    }

    void queuedDatagramsAreOneEventEach() {
        UdpWindow w;
        QCOMPARE(w.startAndSend(), kDefaultFrame);
        // All queued before the window reads any: were they taken as one chunk, only its last
        // character would count and a single NAK would be listed.
        for (const char* answer : {"\x06", "\x06", "\x15"})
            QVERIFY(w.peer.answer(answer));
        QTRY_COMPARE(w.messageText(), QStringLiteral("ACK\r\nACK\r\nNAK\r\n"));

        // Pieces of one reply in several datagrams are collected into the one rxBuffer.
        QVERIFY(w.peer.answer("\x07"
                              "02"));
        QVERIFY(w.peer.answer("RD12"));
        QTRY_COMPARE(w.rxBuffer(), QByteArray("\x07"
                                              "02RD12"));
        QVERIFY(w.peer.answer(".5xy\x03"));
        QTRY_COMPARE(w.messageText(), QStringLiteral("ACK\r\nACK\r\nNAK\r\n12.5\r\n"));
    }

    // More bytes wait than the link reads in one turn of the event loop: the rest is read on
    // the following turns without any further datagram arriving.
    void aBacklogIsReadToTheLastDatagram() {
        UdpWindow w;
        QCOMPARE(w.startAndSend(), kDefaultFrame);
        QByteArray large(40'000, 'g');
        large.back() = '\x06';
        for (int i = 0; i < 5; ++i)
            QVERIFY(w.peer.answer(large));
        QTRY_COMPARE(w.messageText(), QStringLiteral("ACK\r\n").repeated(5));
    }

    // SEND fills the echo box as setting its text does, also when the frame is the same again:
    // no selection is left, and the caret is at the end.
    void theSameFrameAgainResetsTheEchoBox() {
        UdpWindow w;
        QCOMPARE(w.startAndSend(), kDefaultFrame);
        QLineEdit* echo = w.box("outmessage");
        const QString shown = echo->text();
        QCOMPARE(shown, QStringLiteral("7 30 32 52 44 46 46 3"));
        // The last three characters, the caret at the end.
        echo->setSelection(int(shown.size()) - 3, 3);
        QVERIFY(echo->hasSelectedText());

        QVERIFY(w.send());
        QCOMPARE(w.peer.next().data(), kDefaultFrame);
        QCOMPARE(echo->text(), shown);
        QVERIFY(!echo->hasSelectedText());
        QCOMPARE(echo->cursorPosition(), shown.size());

        echo->setCursorPosition(0);
        QVERIFY(w.send());
        QCOMPARE(w.peer.next().data(), kDefaultFrame);
        QCOMPARE(echo->cursorPosition(), shown.size());
    }

    void udpAnswersLeaveCaretAndSelectionAlone() {
        UdpWindow w;
        QCOMPARE(w.startAndSend(), kDefaultFrame);
        QVERIFY(w.peer.answer("\x06"));
        QTRY_COMPARE(w.messageText(), QStringLiteral("ACK\r\n"));

        // The operator selects "CK" of the first line.
        auto* text2 = w.control<QPlainTextEdit>("Text2");
        QTextCursor selection = text2->textCursor();
        selection.setPosition(1);
        selection.setPosition(3, QTextCursor::KeepAnchor);
        text2->setTextCursor(selection);

        QVERIFY(w.peer.answer("\x07"
                              "02"));
        QTRY_COMPARE(w.rxBuffer(), QByteArray("\x07"
                                              "02"));
        QVERIFY(w.peer.answer("RD12.5xy\x03"));
        QTRY_COMPARE(w.messageText(), QStringLiteral("ACK\r\n12.5\r\n"));
        const QTextCursor after = text2->textCursor();
        QCOMPARE(after.selectionStart(), 1);
        QCOMPARE(after.selectionEnd(), 3);
        QCOMPARE(after.selectedText(), QStringLiteral("CK"));
    }

    void socketStaysOpenAfterSwitchingToASerialPort() {
        UdpWindow w;
        PtyPair device;
        QVERIFY(device.isValid() && device.linkAs(1));
        QCOMPARE(w.startAndSend(), kDefaultFrame);

        w.click("Option1");
        QCOMPARE(vmx::test::portSelect(w.form()), 0.0f);
        QVERIFY(!w.box("Text3")->isVisible());
        QVERIFY(vmx::test::udpSocketSetUp(w.form()));
        w.click("Command1");
        QCOMPARE(device.readMaster(int(kDefaultFrame.size())), kDefaultFrame);
        QVERIFY(w.peer.quiet());

        // Both links feed the one rxBuffer: the reply starts on the socket and ends on the line.
        QVERIFY(w.peer.answer("\x07"
                              "02RD"));
        QTRY_COMPARE(w.rxBuffer(), QByteArray("\x07"
                                              "02RD"));
        QVERIFY(device.writeMaster("12.5xy\x03"));
        QTRY_COMPARE(w.messageText(), QStringLiteral("12.5\r\n"));
        QVERIFY(w.peer.answer("\x06"));
        QTRY_COMPARE(w.messageText(), QStringLiteral("12.5\r\nACK\r\n"));
        QVERIFY(w.messages().isEmpty());
    }
};

QTEST_MAIN(TestUdpExchange)
#include "tst_udp_exchange.moc"
