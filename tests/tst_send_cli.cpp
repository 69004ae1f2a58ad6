// velmarixon-send as a script uses it: the program against the device simulator, on a
// pseudo-terminal linked as COM1 in a scratch directory and on UDP at 127.0.0.1. UDP runs use
// --local-port 0, so none of them needs port 5000.
#include "cli/send_options.h"
#include "settings/option_codes.h"
#include "support/programs.h"
#include "support/scratch_dir.h"
#include "support/settings_files.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QUdpSocket>

#include <csignal>

using namespace vmx::test;

namespace {

const QString kSend = QStringLiteral(VMX_SEND_PROGRAM);
const QString kEchoAddress1 = QStringLiteral("7 30 31 52 44 46 45 3"); // address 1, RD
const QRegularExpression kStamped(
    QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d) "));

} // namespace

class TestSendCli : public QObject {
    Q_OBJECT
private slots:
    // One exchange or a few, over either link, for each kind of answer.
    void printsAnswersWithTheirStatus_data() {
        QTest::addColumn<bool>("udp");
        QTest::addColumn<QStringList>("simArguments");
        QTest::addColumn<QStringList>("sendArguments");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("status");

        const QStringList twice{"12.5", "12.5"};
        QTest::newRow("serial reply, echo, twice")
            << false << QStringList{} << QStringList{"--echo", "--count", "2"}
            << QStringList{kEchoAddress1, "12.5", kEchoAddress1, "12.5"} << 0;
        QTest::newRow("serial ACK")
            << false << QStringList{"--answer", "ack"} << QStringList{} << QStringList{"ACK"} << 0;
        QTest::newRow("serial NAK")
            << false << QStringList{"--answer", "nak"} << QStringList{} << QStringList{"NAK"} << 1;
        // The terminator decides: a reply whose payload reads NAK is a reply.
        QTest::newRow("udp reply reading NAK")
            << true << QStringList{"--payload", "NAK"} << QStringList{} << QStringList{"NAK"} << 0;
        QTest::newRow("udp reply, control characters as the window shows them")
            << true << QStringList{"--payload", QStringLiteral("a\tb")} << QStringList{}
            << QStringList{QStringLiteral("a\u2409b")} << 0;
        QTest::newRow("udp NAK, polled three times")
            << true << QStringList{"--answer", "nak"}
            << QStringList{"--count", "3", "--interval-ms", "20"}
            << QStringList{"NAK", "NAK", "NAK"} << 1;
    }
    void printsAnswersWithTheirStatus() {
        QFETCH(bool, udp);
        QFETCH(QStringList, simArguments);
        QFETCH(QStringList, sendArguments);
        QFETCH(QStringList, lines);
        QFETCH(int, status);

        ScratchDir dir;
        SimProcess sim;
        QVERIFY(sim.start(QStringList{udp ? "udp" : "serial"} +
                          (udp ? QStringList{"--port", "0"} : QStringList{}) + simArguments));
        const QStringList link =
            udp ? QStringList{"--port", QStringLiteral("udp:127.0.0.1:%1").arg(sim.udpPort()),
                              "--local-port", "0"}
                : QStringList{"--port", "COM1"};
        const ProgramRun run =
            runProgram(kSend, link + QStringList{"--address", "1"} + sendArguments);
        QCOMPARE(run.out, lines);
        QCOMPARE(run.err, QStringList{});
        QCOMPARE(run.status, status);
    }

    // A device at another address stays silent: the watchdog's message, with a time stamp.
    void reportsAMissingAnswer() {
        ScratchDir dir;
        SimProcess sim;
        QVERIFY(sim.start({"serial", "--address", "5"}));
        const ProgramRun run = runProgram(
            kSend, {"--port", "COM1", "--address", "1", "--timeout-ms", "200", "--timestamps"});
        QCOMPARE(run.status, 2);
        QCOMPARE(run.out, QStringList{});
        QCOMPARE(run.err.size(), 1);
        QVERIFY2(kStamped.match(run.err.first()).hasMatch(), qPrintable(run.err.first()));
        QCOMPARE(run.err.first().section(u' ', 1),
                 QStringLiteral(" Communication fail with device"));
        QVERIFY(sim.log().contains("rx 07 30 31 52 44 46 45 03"));
    }

    void reportsALinkThatCannotBeUsed() {
        ScratchDir dir;
        QVERIFY(QFile::link(dir.filePath("no-such-device"), "COM3"));
        ProgramRun run = runProgram(kSend, {"--port", "COM3"});
        QCOMPARE(run.status, 3);
        QCOMPARE(run.err, QStringList{"COM Port error"});

        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress));
        run = runProgram(kSend, {"--port", "udp:127.0.0.1:9", "--local-port",
                                 QString::number(holder.localPort())});
        QCOMPARE(run.status, 3);
        QCOMPARE(run.err, QStringList{"udp connection error"});
        QCOMPARE(run.out, QStringList{});
    }

    // The window's settings file gives every default and is never written; a damaged one is
    // refused unless --settings names another.
    void takesItsDefaultsFromTheSettingsFile() {
        ScratchDir dir;
        SimProcess sim;
        QVERIFY(sim.start({"udp", "--port", "0", "--address", "7", "--payload", "42"}));
        const QByteArray ini =
            iniFile("99", "4", "7", "XY", "127.0.0.1", QByteArray::number(sim.udpPort()), "1");
        QVERIFY(writeFile(kIniName, ini));

        ProgramRun run = runProgram(kSend, {"--local-port", "0", "--echo"});
        QCOMPARE(run.out, (QStringList{"7 30 37 58 59 31 46 3", "42"}));
        QCOMPARE(run.status, 0);
        QCOMPARE(readFile(kIniName), ini);

        QVERIFY(writeFile("saved.ini", ini));
        QVERIFY(writeFile(kIniName, ini.left(40)));
        run = runProgram(kSend, {"--local-port", "0"});
        QCOMPARE(run.status, 64);
        QCOMPARE(run.err.size(), 1);
        QVERIFY(run.err.first().contains(u"ini file load error"));
        run = runProgram(kSend, {"--local-port", "0", "--settings", "saved.ini"});
        QCOMPARE(run.out, QStringList{"42"});
        QCOMPARE(readFile(kIniName), ini.left(40));
    }

    void refusesBadOptions_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("reason");
        QTest::newRow("baud") << QStringList{"--baud", "4800"} << "--baud takes";
        QTest::newRow("format") << QStringList{"--format", "E81"} << "--format takes";
        QTest::newRow("udp without port") << QStringList{"--port", "udp:127.0.0.1"} << "udp:HOST";
        QTest::newRow("udp port 0") << QStringList{"--port", "udp:127.0.0.1:0"} << "udp:HOST";
        QTest::newRow("timeout 0") << QStringList{"--timeout-ms", "0"} << "--timeout-ms";
        QTest::newRow("negative count") << QStringList{"--count", "-1"} << "--count";
        QTest::newRow("local port") << QStringList{"--local-port", "65536"} << "--local-port";
        QTest::newRow("unknown option") << QStringList{"--speed", "9600"} << "speed";
        QTest::newRow("stray word") << QStringList{"COM1"} << "COM1";
        QTest::newRow("address") << QStringList{"--address", "ab"} << "address";
        QTest::newRow("empty command") << QStringList{"--command", ""} << "command";
    }
    void refusesBadOptions() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, reason);

        const vmx::CommandLine line =
            vmx::parseCommandLine(QStringList{"velmarixon-send"} + arguments);
        const QString error =
            !line.error.isEmpty() ? line.error : vmx::planSend(line, vmx::defaultSettings(0)).error;
        QVERIFY2(error.contains(reason), qPrintable(error));
    }

    // What a script sees of a usage error: status 64 and one line that points at --help.
    void usageErrorIsOneLine() {
        ScratchDir dir;
        const ProgramRun run = runProgram(kSend, {"--baud", "4800"});
        QCOMPARE(run.status, 64);
        QCOMPARE(run.out, QStringList{});
        QCOMPARE(run.err, QStringList{"velmarixon-send: --baud takes 1200, 2400, 9600 or 19200. "
                                      "See velmarixon-send --help."});
    }

    // Options override the file; a stored code no button matches leaves the window's selector 0.
    void plansAsTheWindowApplies() {
        vmx::Settings settings = vmx::defaultSettings(0);
        settings.iniPort = 7;
        settings.iniBaud = 2;
        settings.iniAddress = 2.5f;
        vmx::PlanResult planned =
            vmx::planSend(vmx::parseCommandLine({"velmarixon-send"}), settings);
        QVERIFY(planned.plan);
        const vmx::ExchangeRequest& request = planned.plan->request;
        QCOMPARE(request.link, vmx::LinkKind::Serial);
        QCOMPARE(request.target.serialPort, 1);
        QCOMPARE(request.target.line->baudRate, 2400);
        QCOMPARE(request.addressText, QStringLiteral("2.5"));
        QCOMPARE(request.target.localUdpPort, vmx::kLocalUdpPort);

        planned = vmx::planSend(vmx::parseCommandLine({"velmarixon-send", "--port", "com4",
                                                       "--baud", "1200", "--format", "N81"}),
                                settings);
        QCOMPARE(planned.plan->request.target.serialPort, 4);
        QCOMPARE(planned.plan->request.target.line->baudRate, 1200);
        QCOMPARE(planned.plan->request.target.line->parity, QSerialPort::NoParity);
        planned = vmx::planSend(
            vmx::parseCommandLine({"velmarixon-send", "--port", "/dev/ttyUSB0"}), settings);
        QCOMPARE(planned.plan->request.target.serialPath, QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(planned.plan->request.link, vmx::LinkKind::Serial);
    }

    // Ctrl+C during polling ends the run at once with the status of the exchanges so far.
    void stopsCleanlyOnCtrlC() {
        ScratchDir dir;
        SimProcess sim;
        QVERIFY(sim.start({"serial"}));
        QProcess send;
        send.start(kSend, {"--port", "COM1", "--count", "0", "--interval-ms", "20"});
        QVERIFY(send.waitForStarted());
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += send.readAllStandardOutput()).count('\n') >= 2, 10000);
        ::kill(pid_t(send.processId()), SIGINT);
        QVERIFY(send.waitForFinished(5000));
        QCOMPARE(send.exitStatus(), QProcess::NormalExit);
        QCOMPARE(send.exitCode(), 0);
        out += send.readAllStandardOutput();
        const QStringList lines = outputLines(out);
        QVERIFY(lines.size() >= 2);
        QCOMPARE(lines.count(QStringLiteral("12.5")), lines.size());
    }
};

QTEST_GUILESS_MAIN(TestSendCli)
#include "tst_send_cli.moc"
