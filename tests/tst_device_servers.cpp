// Devices behind a serial device server: a real ser2net on 127.0.0.1 in front of the device
// simulator's pseudo-terminal, reached by velmarixon-send and by the window through socket://
// and rfc2217:// endpoints; and servers that refuse or never answer.
#include "cli/send_options.h"
#include "exchange/exchange.h"
#include "links/link_kinds.h"
#include "support/fake_resolver.h"
#include "support/programs.h"
#include "support/scratch_dir.h"
#include "support/ser2net_server.h"
#include "support/window_fixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace vmx::test;
using vmx::Settings;

namespace {

const QString kSend = QStringLiteral(VMX_SEND_PROGRAM);

// The output speed the pseudo-terminal holds now (ser2net sets it on its side of the line), or
// B0 when it cannot be read.
speed_t lineSpeed(const QString& device) {
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return B0;
    termios t{};
    const bool read = ::tcgetattr(fd, &t) == 0;
    ::close(fd);
    return read ? cfgetospeed(&t) : B0;
}

// The simulator on a pseudo-terminal linked as DEV in the current directory (COM1 stays free
// for a device-server file), and ser2net in front of it.
struct Bench {
    SimProcess sim;
    std::unique_ptr<Ser2netServer> server;
    QString device;

    bool start(const QStringList& simArguments = {}) {
        if (!sim.start(QStringList{"serial", "--link", "DEV"} + simArguments))
            return false;
        device = QFileInfo(QStringLiteral("DEV")).canonicalFilePath();
        server = std::make_unique<Ser2netServer>(device);
        return server->start();
    }
};

// A server that takes connections and never says a word: no Telnet negotiation, no data.
class SilentServer {
public:
    bool listen(const QHostAddress& address = QHostAddress(QHostAddress::LocalHost)) {
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection())
                socket->setParent(&server_);
        });
        host_ = address.protocol() == QAbstractSocket::IPv6Protocol
                    ? u'[' + address.toString() + u']'
                    : address.toString();
        return server_.listen(address, 0);
    }
    QString url(const char* scheme) const {
        return QStringLiteral("%1://%2:%3")
            .arg(QLatin1String(scheme), host_)
            .arg(server_.serverPort());
    }

private:
    QTcpServer server_;
    QString host_;
};

// A server that greets every connection with `bytes`, then closes it or not.
class ScriptedServer {
public:
    ScriptedServer(QByteArray bytes, bool close) : bytes_(std::move(bytes)), close_(close) {}
    bool listen() {
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                socket->setParent(&server_);
                socket->write(bytes_);
                if (close_)
                    socket->disconnectFromHost();
            }
        });
        return server_.listen(QHostAddress::LocalHost, 0);
    }
    vmx::Endpoint endpoint() const {
        return {QStringLiteral("rfc2217://127.0.0.1:%1").arg(server_.serverPort()),
                QStringLiteral("127.0.0.1"), server_.serverPort()};
    }

private:
    QTcpServer server_;
    QByteArray bytes_;
    bool close_;
};

// The resident memory of this process in KiB, 0 when unknown.
long residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// A port on 127.0.0.1 nothing listens on.
quint16 closedPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// The records of a CSV run without the header line.
QStringList records(const ProgramRun& run) {
    return run.out.mid(1);
}

} // namespace

class TestDeviceServers : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (Ser2netServer::program().isEmpty())
            QSKIP("ser2net is not installed (scripts/test.sh installs it)");
    }

    // Polling over either scheme: one connection for the run, every exchange answered, the
    // records naming the endpoint as typed.
    void sendPollsThroughEitherScheme_data() {
        QTest::addColumn<bool>("rfc2217");
        QTest::newRow("socket://") << false;
        QTest::newRow("rfc2217://") << true;
    }
    void sendPollsThroughEitherScheme() {
        QFETCH(bool, rfc2217);
        ScratchDir dir;
        Bench bench;
        QVERIFY2(bench.start(), qPrintable(bench.server ? bench.server->error() : "no simulator"));
        const QString url = rfc2217 ? bench.server->rfc2217Url() : bench.server->socketUrl();
        const ProgramRun run = runProgram(kSend, {"--port", url, "--address", "1", "--command",
                                                  "RD", "--count", "3", "--output", "csv"});
        QCOMPARE(run.status, 0);
        QCOMPARE(records(run).size(), 3);
        for (const QString& record : records(run))
            QVERIFY2(record.contains(url + QStringLiteral(",1,RD,reply,12.5,31322e35,")),
                     qPrintable(record));
        QCOMPARE(bench.sim.log().count("rx 07 30 31 52 44 46 45 03"), 3);
    }

    // The baud rate asked for reaches the line behind the server, and a SEND with another one
    // sets that; a byte 0xFF of the command reaches the line once and one of the reply reaches
    // the payload once.
    void rfc2217SetsTheLineAndPasses0xFF() {
        ScratchDir dir;
        Bench bench;
        QVERIFY(bench.start({"--payload", QStringLiteral("1\u00ff2")}));
        vmx::Exchange exchange(FakeResolver().resolver(), 3000ms);
        QSignalSpy answered(&exchange, &vmx::Exchange::answered);
        QSignalSpy failed(&exchange, &vmx::Exchange::failed);
        const auto endpoint = vmx::typedEndpoint(bench.server->rfc2217Url());
        QVERIFY(endpoint && endpoint->valid());

        vmx::ExchangeRequest request{
            vmx::Rfc2217Target{endpoint->endpoint,
                               vmx::lineSettings(vmx::BaudRate::Baud1200, vmx::LineFormat::N81)},
            QStringLiteral("1"), QStringLiteral("R\u00ff")};
        QVERIFY(exchange.send(request));
        QVERIFY2(answered.wait(5000),
                 qPrintable(failed.isEmpty() ? QString() : failed.at(0).at(1).toString()));
        QCOMPARE(answered.at(0).at(1).toByteArray(), QByteArray("1\xff"
                                                                "2"));
        QCOMPARE(uint(lineSpeed(bench.device)), uint(B1200));
        const QByteArray simLog = bench.sim.log();
        QVERIFY2(simLog.contains("rx 07 30 31 52 FF "), simLog.constData());
        QVERIFY(!simLog.contains("FF FF"));

        std::get<vmx::Rfc2217Target>(request.target).line =
            vmx::lineSettings(vmx::BaudRate::Baud19200, vmx::LineFormat::E71);
        QVERIFY(exchange.send(request));
        QVERIFY(answered.wait(5000));
        QCOMPARE(uint(lineSpeed(bench.device)), uint(B19200));
        QVERIFY(failed.isEmpty());
    }

    // A gateway restarted in the middle of a polling run: the exchanges while it is gone are
    // link errors, and polling goes on once it is back.
    void pollingSurvivesAServerRestart() {
        ScratchDir dir;
        Bench bench;
        QVERIFY(bench.start());
        QProcess send;
        send.start(kSend, {"--port", bench.server->rfc2217Url(), "--address", "1", "--command",
                           "RD", "--count", "0", "--interval-ms", "100", "--timeout-ms", "500",
                           "--output", "csv"});
        QVERIFY(send.waitForStarted());
        QByteArray out;
        const auto waitFor = [&](const QByteArray& text, qsizetype from) {
            QDeadlineTimer deadline(15000);
            while (!deadline.hasExpired()) {
                if (out.indexOf(text, from) >= 0)
                    return true;
                send.waitForReadyRead(100);
                out += send.readAllStandardOutput();
            }
            return false;
        };
        QVERIFY(waitFor(",reply,12.5,", 0));
        bench.server->stop();
        QVERIFY2(waitFor(",link-error,", 0), out.constData());
        const qsizetype gone = out.indexOf(",link-error,");
        QVERIFY(out.mid(gone).contains(bench.server->rfc2217Url().toUtf8()));
        QVERIFY(bench.server->start());
        QVERIFY2(waitFor(",reply,12.5,", gone), out.constData());
        ::kill(pid_t(send.processId()), SIGTERM);
        QVERIFY(send.waitForFinished(5000));
        QCOMPARE(send.exitCode(), 3); // the link errors count
    }

    // A server that takes the frame and closes the connection while its answer is awaited: the
    // exchange ends at once as a link error naming the endpoint, not as a missing answer after
    // the timeout, and the next exchange connects again.
    void aServerClosingDuringAnExchangeIsALinkErrorAtOnce() {
        ScratchDir dir;
        QTcpServer server;
        int frames = 0;
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&server, &frames] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                socket->setParent(&server);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, &frames] {
                    if (!socket->readAll().endsWith('\x03'))
                        return;
                    ++frames;
                    socket->disconnectFromHost();
                });
            }
        });
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const QString url = QStringLiteral("socket://127.0.0.1:%1").arg(server.serverPort());
        QProcess send;
        QSignalSpy finished(&send, &QProcess::finished);
        // The timeout is far beyond the wait below: a run that waits it out fails here.
        send.start(kSend, {"--port", url, "--address", "1", "--command", "RD", "--count", "2",
                           "--interval-ms", "0", "--timeout-ms", "60000", "--output", "csv"});
        QVERIFY(finished.wait(15000));
        const QStringList lines =
            QString::fromUtf8(send.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        for (const QString& record : lines.mid(1)) {
            QVERIFY2(record.contains(url + QStringLiteral(",1,RD,link-error,")),
                     qPrintable(record));
            QVERIFY2(record.contains(url + QStringLiteral(": the server closed the connection")),
                     qPrintable(record));
        }
        QCOMPARE(frames, 2);
        QCOMPARE(send.exitCode(), 3);
    }

    // A server that never negotiates, and a port nobody listens on: the run ends with status 3
    // and the endpoint and the reason, within the connect bound, not the system's minutes.
    void unansweringServersEndWithTheLinkError_data() {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("reason");
        QTest::newRow("accepts, never negotiates") << true << QStringLiteral("timed out");
        QTest::newRow("nothing listens") << false << QStringLiteral("connection refused");
        QTest::newRow("IPv6 in brackets, accepts, never negotiates")
            << true << QStringLiteral("timed out");
    }
    void unansweringServersEndWithTheLinkError() {
        QFETCH(bool, silent);
        QFETCH(QString, reason);
        ScratchDir dir;
        SilentServer server;
        const bool ipv6 = QByteArray(QTest::currentDataTag()).startsWith("IPv6");
        if (!server.listen(
                QHostAddress(ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost)))
            QSKIP("no loopback address of that family here");
        const QString url = silent ? server.url("rfc2217")
                                   : QStringLiteral("rfc2217://127.0.0.1:%1").arg(closedPort());
        QElapsedTimer clock;
        clock.start();
        const ProgramRun run =
            runProgram(kSend, {"--port", url, "--address", "1", "--command", "RD"}, 15000);
        QCOMPARE(run.status, 3);
        QVERIFY(clock.elapsed() < 10000);
        QVERIFY2(run.err.join(u'\n').contains(url + QStringLiteral(": ") + reason),
                 qPrintable(run.err.join(u'\n')));
    }

    // The command line's endpoints: each scheme's kind and parts, the line settings for the one
    // that sets them, and a clear usage error for what is no endpoint.
    void commandLineEndpoints() {
        Settings settings;
        settings.iniCommand = QStringLiteral("RD");
        const auto plan = [&](const QStringList& arguments) {
            return vmx::planSend(vmx::parseCommandLine(QStringList{"velmarixon-send"} + arguments),
                                 settings);
        };
        auto planned =
            plan({"--port", "rfc2217://[::1]:4001", "--baud", "19200", "--format", "E71"});
        QVERIFY2(planned.plan, qPrintable(planned.error));
        const auto& rfc2217 = std::get<vmx::Rfc2217Target>(planned.plan->request.target);
        QCOMPARE(rfc2217.endpoint.host, QStringLiteral("::1"));
        QCOMPARE(rfc2217.endpoint.port, quint16(4001));
        QCOMPARE(rfc2217.line, vmx::lineSettings(vmx::BaudRate::Baud19200, vmx::LineFormat::E71));
        planned = plan({"--port", "socket://gateway-7:4002"});
        QCOMPARE(std::get<vmx::TcpTarget>(planned.plan->request.target).endpoint.text,
                 QStringLiteral("socket://gateway-7:4002"));
        planned = plan({"--port", "udp://127.0.0.1:6000", "--local-port", "0"});
        const auto& udp = std::get<vmx::UdpTarget>(planned.plan->request.target);
        QCOMPARE(udp.ipAddress + u':' + udp.ipPort, QStringLiteral("127.0.0.1:6000"));
        QCOMPARE(udp.localUdpPort, quint16(0));
        for (const char* bad : {"rfc2217://127.0.0.1", "socket://:4001", "rfc2217://[::1:4001",
                                "socket://127.0.0.1:65536", "rfc2217://[127.0.0.1]:4001"}) {
            const vmx::CommandLine line = vmx::parseCommandLine({"velmarixon-send", "--port", bad});
            QVERIFY2(line.error.contains(u"HOST:PORT"), bad);
            // The example names the scheme typed, not a placeholder left unfilled.
            const QString scheme = QString::fromLatin1(bad).section(u':', 0, 0);
            QVERIFY2(line.error.contains(scheme + QStringLiteral("://127.0.0.1:4001.")),
                     qPrintable(line.error));
        }
    }

    // A host name goes through the look-up without holding the thread; a name server that
    // never answers ends in the connect bound.
    void hostNamesAreLookedUpAside() {
        ScratchDir dir;
        Bench bench;
        QVERIFY(bench.start());
        FakeResolver names;
        names.know(QStringLiteral("gateway-7"), {QHostAddress::LocalHost});
        names.answerLate(QStringLiteral("slow-gateway"), 20s);
        vmx::Exchange exchange(names.resolver(), 3000ms);
        QSignalSpy answered(&exchange, &vmx::Exchange::answered);
        QSignalSpy failed(&exchange, &vmx::Exchange::failed);
        const QString url = QStringLiteral("socket://gateway-7:%1").arg(bench.server->rawPort());
        QVERIFY(exchange.send({vmx::TcpTarget{vmx::typedEndpoint(url)->endpoint},
                               QStringLiteral("1"), QStringLiteral("RD")}));
        QVERIFY(answered.wait(5000));
        QCOMPARE(answered.at(0).at(1).toByteArray(), QByteArray("12.5"));

        const QString slow =
            QStringLiteral("socket://slow-gateway:%1").arg(bench.server->rawPort());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(exchange.send({vmx::TcpTarget{vmx::typedEndpoint(slow)->endpoint},
                               QStringLiteral("1"), QStringLiteral("RD")}));
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(failed.wait(10000));
        QVERIFY2(failed.at(0).at(1).toString().startsWith(slow + QStringLiteral(": timed out")),
                 qPrintable(failed.at(0).at(1).toString()));
        names.release();
    }

    // --list-ports tells where each COMn leads, a device server's endpoint included.
    void listPortsShowsDeviceServers() {
        ScratchDir dir;
        QFile com2(dir.filePath(QStringLiteral("COM2")));
        QVERIFY(com2.open(QIODevice::WriteOnly));
        com2.write("rfc2217://127.0.0.1:4001\n");
        com2.close();
        const ProgramRun run = runProgram(kSend, {"--list-ports"});
        QCOMPARE(run.status, 0);
        QVERIFY2(
            run.out.contains(QStringLiteral("  COM2 -> rfc2217://127.0.0.1:4001 (device server)")),
            qPrintable(run.out.join(u'\n')));
    }

    // What a broken or hostile server sends ends the SEND with the link error naming the
    // endpoint, within the connect bound and without memory growing with what it sent.
    void hostileServersFailCleanly_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("close");
        QTest::addColumn<QString>("reason");
        const QByteArray iac("\xff");
        QTest::newRow("subnegotiation without end")
            << iac + "\xfa\x2c" + QByteArray(8 << 20, 'x') << false << QString();
        QTest::newRow("flood of data, no negotiation")
            << QByteArray(16 << 20, 'A') << false << QStringLiteral("timed out");
        QTest::newRow("options never asked for, then silence")
            << iac + "\xfb\x01" + iac + "\xfd\x18" + iac + "\xfb\x03" << false
            << QStringLiteral("timed out");
        QTest::newRow("malformed Telnet, then closed mid-frame")
            << iac + "\xf0\x07"
                     "01R"
            << true << QStringLiteral("the server closed the connection");
    }
    void hostileServersFailCleanly() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, close);
        QFETCH(QString, reason);
        ScriptedServer server(bytes, close);
        QVERIFY(server.listen());
        vmx::Exchange exchange(FakeResolver().resolver(), 1000ms);
        QSignalSpy failed(&exchange, &vmx::Exchange::failed);
        QSignalSpy frameSent(&exchange, &vmx::Exchange::frameSent);
        const long before = residentKiB();
        QVERIFY(exchange.send({vmx::Rfc2217Target{server.endpoint(), std::nullopt},
                               QStringLiteral("1"), QStringLiteral("RD")}));
        QVERIFY(failed.wait(10000));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(frameSent.size(), 0);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("COM Port error"));
        const QString detail = failed.at(0).at(1).toString();
        QVERIFY2(detail.startsWith(server.endpoint().text + QStringLiteral(": ") + reason),
                 qPrintable(detail));
        // The test's own server holds what it sends; the link must not hold it as well.
        QVERIFY2(residentKiB() - before < 8 * 1024 + long(bytes.size() / 1024),
                 qPrintable(QString::number(residentKiB() - before)));
    }

    // The window's Com1, made a device server by a file COM1 naming it, answers through
    // ser2net with no new control and no changed text.
    void windowCom1AnswersThroughAComFile() {
        WindowFixture window(2s);
        Bench bench;
        QVERIFY(bench.start());
        QFile::remove(window.dir().filePath(QStringLiteral("COM1")));
        QFile com1(window.dir().filePath(QStringLiteral("COM1")));
        QVERIFY(com1.open(QIODevice::WriteOnly));
        com1.write(bench.server->rfc2217Url().toUtf8() + '\n');
        com1.close();
        QVERIFY(window.start());
        window.click("Option1");
        window.click("Option8"); // 19200
        window.box("Text1")->setText(QStringLiteral("1"));
        window.click("Command1");
        QTRY_VERIFY_WITH_TIMEOUT(window.messageText().contains(u"12.5"), 5000);
        QCOMPARE(uint(lineSpeed(bench.device)), uint(B19200));
        QVERIFY(window.messages().isEmpty());
    }

    // While a server does not answer, the window's thread runs: timers fire and the window
    // repaints; SEND ends with "COM Port error" after the connect bound.
    void windowKeepsRunningWhileAServerIsSilent() {
        WindowFixture window(2s);
        SilentServer server;
        QVERIFY(server.listen());
        QFile::remove(window.dir().filePath(QStringLiteral("COM1")));
        QFile com1(window.dir().filePath(QStringLiteral("COM1")));
        QVERIFY(com1.open(QIODevice::WriteOnly));
        com1.write(server.url("rfc2217").toUtf8());
        com1.close();
        QVERIFY(window.start());
        window.click("Option1");

        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
            ++ticks;
            window.form().update();
        });
        ticker.start(50);
        QElapsedTimer clock;
        clock.start();
        window.click("Command1");
        QVERIFY(clock.elapsed() < 1000); // SEND returned without waiting for the server
        QTRY_COMPARE_WITH_TIMEOUT(window.messages(), QStringList{"COM Port error"}, 10000);
        QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
    }
};

QTEST_MAIN(TestDeviceServers)
#include "tst_device_servers.moc"
