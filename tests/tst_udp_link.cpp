#include "links/udp_link.h"
#include "support/fake_resolver.h"
#include "support/frame_bytes.h"
#include "support/link_parts.h"
#include "support/loopback_peer.h"
#include "support/prepared_now.h"

#include <QSignalSpy>
#include <QTest>

#include <chrono>

using namespace std::chrono_literals;

using vmx::ipPortNumber;
using vmx::kLocalUdpPort;
using vmx::UdpLink;
using vmx::test::allByteValues;
using vmx::test::bytes;
using vmx::test::FakeResolver;
using vmx::test::kDefaultFrame;
using vmx::test::kLoopback;
using vmx::test::kLoopbackText;
using Peer = vmx::test::LoopbackPeer;

namespace {

vmx::UdpTarget target(const QString& ipAddress, const QString& ipPort) {
    vmx::UdpTarget t;
    t.ipAddress = ipAddress;
    t.ipPort = ipPort;
    return t;
}

QList<QByteArray> payloads(const QSignalSpy& spy) {
    QList<QByteArray> out;
    for (const auto& args : spy)
        out.append(args.at(0).toByteArray());
    return out;
}

// Sends the frame over the link and returns what the peer receives of it.
QByteArray carried(UdpLink& link, Peer& peer, const QByteArray& frame = kDefaultFrame) {
    if (!link.write(frame))
        return "<not sent>";
    return peer.next().data();
}

// Port 5000 is free again: nothing of a failed set-up holds it.
bool localPortFree() {
    QUdpSocket probe;
    return probe.bind(QHostAddress::AnyIPv4, kLocalUdpPort, QAbstractSocket::DontShareAddress);
}

} // namespace

class TestUdpLink : public QObject {
    Q_OBJECT
private slots:
    void portNumberText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("number");
        QTest::newRow("whole") << "4000" << true << 4000;
        QTest::newRow("blanks around") << "  4000\t" << true << 4000;
        QTest::newRow("fraction down") << "5000.4" << true << 5000;
        QTest::newRow("fraction up") << "5000.6" << true << 5001;
        QTest::newRow("half to even below") << "5000.5" << true << 5000;
        QTest::newRow("half to even above") << "5001.5" << true << 5002;
        QTest::newRow("exponent") << "4e3" << true << 4000;
        QTest::newRow("negative") << "-1" << true << -1;
        QTest::newRow("largest") << "2147483647" << true << 2147483647;
        QTest::newRow("largest, fraction down") << "2147483647.4" << true << 2147483647;
        QTest::newRow("smallest") << "-2147483648" << true << -2147483647 - 1;
        QTest::newRow("just too large") << "2147483648" << false << 0;
        QTest::newRow("rounds to too large") << "2147483647.5" << false << 0;
        QTest::newRow("just too small") << "-2147483649" << false << 0;
        QTest::newRow("huge") << "1e300" << false << 0;
        QTest::newRow("letters") << "abc" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("blank") << "   " << false << 0;
        QTest::newRow("trailing letters") << "4000x" << false << 0;
        QTest::newRow("comma") << "4000,5" << false << 0;
        QTest::newRow("hexadecimal") << "0x1388" << false << 0;
    }

    void portNumberText() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, number);
        const auto got = ipPortNumber(text);
        QCOMPARE(got.has_value(), valid);
        if (valid)
            QCOMPARE(*got, number);
    }

    void firstSetUpSendsOneDatagramFromPort5000_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("address 02, RD") << kDefaultFrame;
        QTest::newRow("7 bytes: address 5, X") << bytes({0x07, 0x30, 0x35, 0x58, 0x43, 0x34, 0x03});
        QTest::newRow("24 bytes: address 01, A..R")
            << bytes({0x07, 0x30, 0x31, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
                      0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x39, 0x33, 0x03});
        QTest::newRow("every byte value") << allByteValues();
    }

    void firstSetUpSendsOneDatagramFromPort5000() {
        QFETCH(QByteArray, frame);
        Peer peer;
        QVERIFY(peer.bound);
        UdpLink link;
        QVERIFY(!vmx::test::udpSocketSetUp(link));
        QVERIFY(vmx::test::preparedNow(link, target(kLoopbackText, peer.portText())));
        QVERIFY(vmx::test::udpSocketSetUp(link));

        QVERIFY(link.write(frame));
        const QNetworkDatagram got = peer.next();
        QVERIFY(got.isValid());
        QCOMPARE(got.data(), frame);
        QCOMPARE(got.senderPort(), int(kLocalUdpPort));
        QCOMPARE(got.senderAddress(), kLoopback);
        QVERIFY(peer.quiet(100));
    }

    void hostNameResolvesToItsIpv4Address() {
        Peer peer;
        QVERIFY(peer.bound);
        // The first IPv4 address of the name counts; the socket cannot reach an IPv6 one.
        FakeResolver names;
        names.know(QStringLiteral("localhost"),
                   {QHostAddress(QHostAddress::LocalHostIPv6), kLoopback,
                    QHostAddress(QStringLiteral("127.0.0.2"))});
        UdpLink link(names.resolver());
        QVERIFY(vmx::test::preparedNow(link, target(QStringLiteral("localhost"), peer.portText())));
        QCOMPARE(names.askedNames(), QStringList{"localhost"});
        QCOMPARE(carried(link, peer), kDefaultFrame);
    }

    void lateAnswerIsDroppedAndHarmless() {
        FakeResolver names;
        names.know(QStringLiteral("late-device"), {kLoopback});
        names.answerLate(QStringLiteral("late-device"), 5s);
        QVERIFY(vmx::lookUpWithin(names.resolver(), QStringLiteral("late-device"), 50ms).isEmpty());
        QCOMPARE(names.answered(), 0);
        // The answer comes after the caller has gone on; it reaches nothing but its own thread.
        names.release();
        QTRY_COMPARE(names.answered(), 1);

        // One that answers in time is taken.
        names.know(QStringLiteral("quick-device"), {kLoopback});
        QCOMPARE(vmx::lookUpWithin(names.resolver(), QStringLiteral("quick-device")),
                 QList<QHostAddress>{kLoopback});
    }

    void fractionalPortTextRounds_data() {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("offset");
        QTest::newRow("down") << ".4" << 0;
        QTest::newRow("up") << ".6" << -1;
        QTest::newRow("exponent form") << "e0" << 0;
    }

    void fractionalPortTextRounds() {
        QFETCH(QString, suffix);
        QFETCH(int, offset);
        Peer peer;
        QVERIFY(peer.bound);
        UdpLink link;
        const QString text = QString::number(int(peer.socket.localPort()) + offset) + suffix;
        QVERIFY(vmx::test::preparedNow(link, target(kLoopbackText, text)));
        QCOMPARE(carried(link, peer), kDefaultFrame);
    }

    void laterPrepareKeepsTheFirstDestination() {
        Peer first;
        Peer other(QHostAddress(QStringLiteral("127.0.0.2")));
        QVERIFY(first.bound);
        QVERIFY(other.bound);
        UdpLink link;
        QVERIFY(vmx::test::preparedNow(link, target(kLoopbackText, first.portText())));

        // Another address and port, then a port text that is no number: both are ignored now.
        QVERIFY(
            vmx::test::preparedNow(link, target(QStringLiteral("127.0.0.2"), other.portText())));
        QVERIFY(vmx::test::preparedNow(link, target(kLoopbackText, QStringLiteral("abc"))));
        QVERIFY(vmx::test::udpSocketSetUp(link));

        QCOMPARE(carried(link, first), kDefaultFrame);
        QVERIFY(other.quiet(100));
        QVERIFY(first.quiet(100));
    }

    void setUpFailsAndLeavesTheLinkClosed_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        // Only a name whose port text is usable reaches the resolver; an address never does.
        QTest::addColumn<bool>("looksUp");
        QTest::newRow("port not a number") << "127.0.0.1"
                                           << "abc" << false;
        QTest::newRow("port empty") << "127.0.0.1"
                                    << "" << false;
        QTest::newRow("port 0") << "127.0.0.1"
                                << "0" << false;
        QTest::newRow("port rounds to 0") << "127.0.0.1"
                                          << "0.4" << false;
        QTest::newRow("port negative") << "127.0.0.1"
                                       << "-1" << false;
        QTest::newRow("port 70000") << "127.0.0.1"
                                    << "70000" << false;
        QTest::newRow("port rounds to 65536") << "127.0.0.1"
                                              << "65535.5" << false;
        QTest::newRow("port beyond 32 bits") << "127.0.0.1"
                                             << "1e10" << false;
        QTest::newRow("unknown host name") << "no-such-device"
                                           << "4000" << true;
        QTest::newRow("name with only an IPv6 address") << "ip6-only-device"
                                                        << "4000" << true;
        QTest::newRow("blank host") << "  "
                                    << "4000" << false;
        QTest::newRow("empty host") << ""
                                    << "4000" << false;
        QTest::newRow("IPv6 only host") << "::1"
                                        << "4000" << false;
    }

    void setUpFailsAndLeavesTheLinkClosed() {
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(bool, looksUp);
        FakeResolver names;
        names.know(QStringLiteral("ip6-only-device"), {QHostAddress(QHostAddress::LocalHostIPv6)});
        UdpLink link(names.resolver());
        QVERIFY(!vmx::test::preparedNow(link, target(host, port)));
        QCOMPARE(names.askedNames(), looksUp ? QStringList{host} : QStringList{});
        QVERIFY(!vmx::test::udpSocketSetUp(link));
        QVERIFY(!link.write(kDefaultFrame));
        QVERIFY(localPortFree());

        // The next preparation runs the whole set-up again and can succeed.
        Peer peer;
        QVERIFY(peer.bound);
        QVERIFY(vmx::test::preparedNow(link, target(kLoopbackText, peer.portText())));
        QCOMPARE(carried(link, peer), kDefaultFrame);
    }

    void localPortTakenFails_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("mode");
        QTest::newRow("any address, exclusive")
            << "0.0.0.0" << int(QAbstractSocket::DontShareAddress);
        QTest::newRow("any address, platform default")
            << "0.0.0.0" << int(QAbstractSocket::DefaultForPlatform);
        QTest::newRow("any address, shared")
            << "0.0.0.0" << int(QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
        QTest::newRow("loopback only") << "127.0.0.1" << int(QAbstractSocket::DontShareAddress);
    }

    void localPortTakenFails() {
        QFETCH(QString, address);
        QFETCH(int, mode);
        Peer peer;
        QVERIFY(peer.bound);
        UdpLink link;
        {
            QUdpSocket holder;
            QVERIFY(
                holder.bind(QHostAddress(address), kLocalUdpPort, QAbstractSocket::BindMode(mode)));
            QVERIFY(!vmx::test::preparedNow(link, target(kLoopbackText, peer.portText())));
            QVERIFY(!vmx::test::udpSocketSetUp(link));
            QVERIFY(!link.write(kDefaultFrame));
        }
        QVERIFY(vmx::test::preparedNow(link, target(kLoopbackText, peer.portText())));
        QVERIFY(link.write(kDefaultFrame));
        const QNetworkDatagram got = peer.next();
        QCOMPARE(got.data(), kDefaultFrame);
        QCOMPARE(got.senderPort(), int(kLocalUdpPort));
    }

    void repliesFromAnySourcePortArrive() {
        Peer device;
        Peer stranger;
        QVERIFY(device.bound);
        QVERIFY(stranger.bound);
        UdpLink link;
        QSignalSpy spy(&link, &UdpLink::bytesArrived);
        QVERIFY(vmx::test::preparedNow(link, target(kLoopbackText, device.portText())));

        QVERIFY(device.answer(bytes({0x06})));
        QVERIFY(spy.wait(3000));
        QVERIFY(stranger.answer(bytes({0x15})));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 3000);
        QCOMPARE(payloads(spy), (QList<QByteArray>{bytes({0x06}), bytes({0x15})}));
    }

    void queuedDatagramsGiveOneSignalEachInOrder() {
        Peer device;
        QVERIFY(device.bound);
        UdpLink link;
        QSignalSpy spy(&link, &UdpLink::bytesArrived);
        QVERIFY(vmx::test::preparedNow(link, target(kLoopbackText, device.portText())));

        // All of them are queued before the event loop runs; the empty one delivers nothing.
        const QList<QByteArray> sent{bytes({0x06}), QByteArray(),
                                     QByteArray("\x07"
                                                "02RD12.5FF\x03"),
                                     allByteValues(), bytes({0x15})};
        for (const QByteArray& datagram : sent)
            QVERIFY(device.answer(datagram));

        QList<QByteArray> expected = sent;
        expected.removeAll(QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), int(expected.size()), 3000);
        QVERIFY(!spy.wait(100));
        QCOMPARE(payloads(spy), expected);
    }
};

QTEST_GUILESS_MAIN(TestUdpLink)
#include "tst_udp_link.moc"
