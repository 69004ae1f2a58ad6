// The exchange with a device on the network, through the real window. The device is a socket on
// 127.0.0.1; nothing is ever sent anywhere else.
#include "app/message_window.h"
#include "links/udp_link.h"
#include "support/pty_pair.h"
#include "support/window_fixture.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>
#include <QUdpSocket>

using vmx::kLocalUdpPort;
using vmx::MainForm;
using vmx::test::PtyPair;
using vmx::test::WindowFixture;

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (const int v : values)
        out.append(char(v));
    return out;
}

const QByteArray kDefaultFrame = bytes({0x07, 0x30, 0x32, 0x52, 0x44, 0x46, 0x46, 0x03});
const QString kUdpConnectionError = QStringLiteral("udp connection error");
const QString kLoopbackText = QStringLiteral("127.0.0.1");
const QHostAddress kLoopback(QHostAddress::LocalHost);

// Stands in for the device: a socket on 127.0.0.1 at a port of the system's choice.
struct Peer {
    QUdpSocket socket;
    bool bound = false;
    Peer() { bound = socket.bind(kLoopback, 0); }
    QString portText() const { return QString::number(socket.localPort()); }

    QNetworkDatagram next(int timeoutMs = 3000) {
        if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(timeoutMs))
            return {};
        return socket.receiveDatagram();
    }
    bool quiet(int settleMs = 150) {
        return !socket.hasPendingDatagrams() && !socket.waitForReadyRead(settleMs);
    }
    // An answer to the tool's local port on this machine.
    bool answer(const QByteArray& payload) {
        return socket.writeDatagram(payload, kLoopback, kLocalUdpPort) == payload.size();
    }
};

// A first start with "Udp" chosen and the IP boxes aimed at a loopback peer.
class UdpWindow {
public:
    bool start() {
        if (!fx_.start())
            return false;
        option("Option9")->click();
        box("Text1")->setText(QStringLiteral("02"));
        return true;
    }
    bool aimAt(const Peer& peer) {
        box("Text3")->setText(kLoopbackText);
        box("Text4")->setText(peer.portText());
        return peer.bound;
    }

    WindowFixture& fx() { return fx_; }
    MainForm& form() { return fx_.form(); }
    QStringList& messages() { return fx_.record().messages; }
    QLineEdit* box(const char* name) { return fx_.control<QLineEdit>(name); }
    QAbstractButton* option(const char* name) { return fx_.control<QAbstractButton>(name); }
    QPlainTextEdit* text2() { return fx_.control<QPlainTextEdit>("Text2"); }
    QString text() { return form().messageWindow().text(); }
    const QByteArray& rxBuffer() { return form().exchange().reply.rxBuffer(); }

    // Clicks SEND only when the datagram can go nowhere but to this machine: the socket is
    // already aimed at 127.0.0.1, or it is still closed and the address box says 127.0.0.1.
    bool send() {
        const vmx::UdpLink& udp = form().udpLink();
        const bool safe =
            udp.isSetUp() ? udp.remoteHost() == kLoopback : box("Text3")->text() == kLoopbackText;
        if (!safe)
            return false;
        fx_.control<QPushButton>("Command1")->click();
        return true;
    }

private:
    WindowFixture fx_;
};

} // namespace

class TestUdpExchange : public QObject {
    Q_OBJECT
private slots:
    void firstSendSetsUpTheSocketAndSendsOneDatagram() {
        UdpWindow w;
        QVERIFY(w.start());
        QCOMPARE(w.form().portSelect(), 99.0f);
        for (const char* name : {"Label4", "Text3", "Label5", "Text4"})
            QVERIFY(w.fx().control<QWidget>(name)->isVisible());
        Peer peer;
        QVERIFY(w.aimAt(peer));
        QVERIFY(!w.form().udpLink().isSetUp());

        QVERIFY(w.send());
        QVERIFY(w.messages().isEmpty());
        const QNetworkDatagram datagram = peer.next();
        QVERIFY(datagram.isValid());
        QCOMPARE(datagram.data(), kDefaultFrame);
        QCOMPARE(datagram.senderPort(), int(kLocalUdpPort));
        QVERIFY(peer.quiet());

        QVERIFY(w.form().udpLink().isSetUp());
        QCOMPARE(w.form().udpLink().remoteHost(), kLoopback);
        QCOMPARE(w.form().udpLink().remotePort(), peer.socket.localPort());
        QCOMPARE(w.form().settings().ipAddress, kLoopbackText);
        QCOMPARE(w.form().settings().ipPort, peer.portText());
        QCOMPARE(w.box("outmessage")->text(), QStringLiteral("7 30 32 52 44 46 46 3"));
        QVERIFY(w.form().watchdog().isRunning());
        QVERIFY(!w.form().serialLink().isOpen());
    }

    void laterBoxChangesReachTheSettingsButNotTheSocket() {
        UdpWindow w;
        QVERIFY(w.start());
        Peer first;
        Peer second;
        QVERIFY(w.aimAt(first) && second.bound);
        QVERIFY(w.send());
        QCOMPARE(first.next().data(), kDefaultFrame);

        w.box("Text3")->setText(QStringLiteral("localhost"));
        w.box("Text4")->setText(second.portText());
        QVERIFY(w.send());
        QCOMPARE(w.form().settings().ipAddress, QStringLiteral("localhost"));
        QCOMPARE(w.form().settings().ipPort, second.portText());
        QCOMPARE(first.next().data(), kDefaultFrame);
        QVERIFY(second.quiet());
        QCOMPARE(w.form().udpLink().remoteHost(), kLoopback);

        // A port text that is no number does no harm once the socket is set up.
        w.box("Text4")->setText(QStringLiteral("abc"));
        QVERIFY(w.send());
        QVERIFY(w.messages().isEmpty());
        QCOMPARE(w.form().settings().ipPort, QStringLiteral("abc"));
        QCOMPARE(first.next().data(), kDefaultFrame);
        QVERIFY(second.quiet());
    }

    void portTextThatIsNoNumberFailsWhileClosed() {
        UdpWindow w;
        QVERIFY(w.start());
        Peer peer;
        QVERIFY(w.aimAt(peer));
        w.box("Text4")->setText(QStringLiteral("abc"));
        QVERIFY(w.send());
        QCOMPARE(w.messages(), QStringList{kUdpConnectionError});
        QVERIFY(peer.quiet());
        QVERIFY(!w.form().udpLink().isSetUp());
        QCOMPARE(w.form().watchdog().periodMs(), 0);
        QCOMPARE(w.form().settings().ipPort, QStringLiteral("abc"));
        QCOMPARE(w.box("outmessage")->text(), QString());

        // Still closed, so the next SEND sets it up with the corrected text.
        w.box("Text4")->setText(peer.portText());
        QVERIFY(w.send());
        QCOMPARE(w.messages(), QStringList{kUdpConnectionError});
        QCOMPARE(peer.next().data(), kDefaultFrame);
        QVERIFY(w.form().watchdog().isRunning());
    }

    void localPortTakenFailsAndLeavesTheSocketClosed() {
        UdpWindow w;
        QVERIFY(w.start());
        Peer peer;
        QVERIFY(w.aimAt(peer));
        {
            QUdpSocket holder;
            QVERIFY(holder.bind(QHostAddress::AnyIPv4, kLocalUdpPort,
                                QAbstractSocket::DontShareAddress));
            QVERIFY(w.send());
            QCOMPARE(w.messages(), QStringList{kUdpConnectionError});
            QVERIFY(!w.form().udpLink().isSetUp());
            QVERIFY(peer.quiet());
            QCOMPARE(w.form().watchdog().periodMs(), 0);
        }
        QVERIFY(w.send());
        QCOMPARE(peer.next().data(), kDefaultFrame);
        QCOMPARE(w.messages(), QStringList{kUdpConnectionError});
    }

    void emptyCommandSetsUpTheSocketThenFails() {
        UdpWindow w;
        QVERIFY(w.start());
        Peer peer;
        QVERIFY(w.aimAt(peer));
        w.box("xxx")->clear();
        QVERIFY(w.send());
        QCOMPARE(w.messages(), QStringList{kUdpConnectionError});
        QVERIFY(w.form().udpLink().isSetUp());
        QCOMPARE(w.form().udpLink().remotePort(), peer.socket.localPort());
        QCOMPARE(w.form().exchange().commandLength, 0.0f);
        QCOMPARE(w.form().watchdog().periodMs(), 0);
        QCOMPARE(w.box("outmessage")->text(), QString());
        QVERIFY(peer.quiet());
    }

    void answersFromAnySourcePortBecomeLines() {
        UdpWindow w;
        QVERIFY(w.start());
        Peer peer;
        QVERIFY(w.aimAt(peer));
        QVERIFY(w.send());
        QCOMPARE(peer.next().data(), kDefaultFrame);

        QVERIFY(peer.answer("\x07"
                            "02RD12.5xy\x03"));
        QTRY_COMPARE(w.text(), QStringLiteral("12.5\r\n"));
        QVERIFY(!w.form().watchdog().isRunning());

        // Another sender, from another port, is heard the same way.
        Peer stranger;
        QVERIFY(stranger.bound);
        QVERIFY(stranger.answer("\x15"));
        QTRY_COMPARE(w.text(), QStringLiteral("12.5\r\nNAK\r\n"));
        QVERIFY(w.messages().isEmpty());
    }

    void queuedDatagramsAreOneEventEach() {
        UdpWindow w;
        QVERIFY(w.start());
        Peer peer;
        QVERIFY(w.aimAt(peer));
        QVERIFY(w.send());
        QCOMPARE(peer.next().data(), kDefaultFrame);

        // All queued before the window reads any: were they taken as one chunk, only its last
        // character would count and a single NAK would be listed.
        QVERIFY(peer.answer("\x06"));
        QVERIFY(peer.answer("\x06"));
        QVERIFY(peer.answer("\x15"));
        QTRY_COMPARE(w.text(), QStringLiteral("ACK\r\nACK\r\nNAK\r\n"));

        // Pieces of one reply in several datagrams are collected into the one rxBuffer.
        QVERIFY(peer.answer("\x07"
                            "02"));
        QVERIFY(peer.answer("RD12"));
        QTRY_COMPARE(w.rxBuffer(), QByteArray("\x07"
                                              "02RD12"));
        QVERIFY(peer.answer(".5xy\x03"));
        QTRY_COMPARE(w.text(), QStringLiteral("ACK\r\nACK\r\nNAK\r\n12.5\r\n"));
    }

    void udpAnswersLeaveCaretAndSelectionAlone() {
        UdpWindow w;
        QVERIFY(w.start());
        Peer peer;
        QVERIFY(w.aimAt(peer));
        QVERIFY(w.send());
        QCOMPARE(peer.next().data(), kDefaultFrame);
        QVERIFY(peer.answer("\x06"));
        QTRY_COMPARE(w.text(), QStringLiteral("ACK\r\n"));

        // The operator selects "CK" of the first line.
        QTextCursor selection = w.text2()->textCursor();
        selection.setPosition(1);
        selection.setPosition(3, QTextCursor::KeepAnchor);
        w.text2()->setTextCursor(selection);

        QVERIFY(peer.answer("\x07"
                            "02"));
        QTRY_COMPARE(w.rxBuffer(), QByteArray("\x07"
                                              "02"));
        QVERIFY(peer.answer("RD12.5xy\x03"));
        QTRY_COMPARE(w.text(), QStringLiteral("ACK\r\n12.5\r\n"));
        const QTextCursor after = w.text2()->textCursor();
        QCOMPARE(after.selectionStart(), 1);
        QCOMPARE(after.selectionEnd(), 3);
        QCOMPARE(after.selectedText(), QStringLiteral("CK"));
    }

    void socketStaysOpenAfterSwitchingToASerialPort() {
        UdpWindow w;
        PtyPair device;
        QVERIFY(device.isValid() && device.linkAs(1));
        QVERIFY(w.start());
        Peer peer;
        QVERIFY(w.aimAt(peer));
        QVERIFY(w.send());
        QCOMPARE(peer.next().data(), kDefaultFrame);

        w.option("Option1")->click();
        QCOMPARE(w.form().portSelect(), 0.0f);
        QVERIFY(!w.box("Text3")->isVisible());
        QVERIFY(w.form().udpLink().isSetUp());
        w.fx().control<QPushButton>("Command1")->click();
        QCOMPARE(device.readMaster(int(kDefaultFrame.size())), kDefaultFrame);
        QVERIFY(peer.quiet());

        // Both links feed the one rxBuffer: the reply starts on the socket and ends on the line.
        QVERIFY(peer.answer("\x07"
                            "02RD"));
        QTRY_COMPARE(w.rxBuffer(), QByteArray("\x07"
                                              "02RD"));
        QVERIFY(device.writeMaster("12.5xy\x03"));
        QTRY_COMPARE(w.text(), QStringLiteral("12.5\r\n"));
        QVERIFY(peer.answer("\x06"));
        QTRY_COMPARE(w.text(), QStringLiteral("12.5\r\nACK\r\n"));
        QVERIFY(w.messages().isEmpty());
    }
};

QTEST_MAIN(TestUdpExchange)
#include "tst_udp_exchange.moc"
