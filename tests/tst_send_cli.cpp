// velmarixon-send as a script uses it: the program against the device simulator, on a
// pseudo-terminal linked as COM1 in a scratch directory and on UDP at 127.0.0.1. UDP runs use
// --local-port 0, so none of them needs port 5000.
#include "cli/send_options.h"
#include "settings/option_codes.h"
#include "support/programs.h"
#include "support/scratch_dir.h"
#include "support/settings_files.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/inotify.h>
#include <unistd.h>

using namespace vmx::test;

namespace {

const QString kSend = QStringLiteral(VMX_SEND_PROGRAM);
const QString kEchoAddress1 = QStringLiteral("7 30 31 52 44 46 45 3"); // address 1, RD
const QRegularExpression kStamped(
    QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d) "));

// How the link of a poll goes away and comes back.
enum class Away { No, DeviceEnds, LinkRenamed };

// The outcome of each record so far: the "outcome" of a JSON line, "reply" for a text line that
// shows the simulator's payload, a text line itself otherwise (a cut line is never a reply).
QStringList outcomes(const QByteArray& out) {
    QStringList found;
    for (const QString& line : outputLines(out)) {
        if (line.startsWith(u'{'))
            found.append(QJsonDocument::fromJson(line.toUtf8()).object()[u"outcome"].toString());
        else
            found.append(line == u"12.5" ? QStringLiteral("reply") : line);
    }
    return found;
}

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
        // The window's text first, for scripts that look for it; then the port and the reason.
        QCOMPARE(run.err.size(), 1);
        QVERIFY2(run.err.first().startsWith(
                     QStringLiteral("COM Port error: %1").arg(dir.filePath("no-such-device"))),
                 qPrintable(run.err.first()));

        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress));
        run = runProgram(kSend, {"--port", "udp:127.0.0.1:9", "--local-port",
                                 QString::number(holder.localPort())});
        QCOMPARE(run.status, 3);
        QCOMPARE(run.err.size(), 1);
        const QString inUse =
            QStringLiteral("udp connection error: local port %1 is in use").arg(holder.localPort());
        QVERIFY2(run.err.first().startsWith(inUse), qPrintable(run.err.first()));
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
        QTest::newRow("guard") << QStringList{"--guard-ms", "60001"} << "--guard-ms";
        QTest::newRow("local port") << QStringList{"--local-port", "65536"} << "--local-port";
        // Digits only, in both programs: a sign or a blank is no number.
        QTest::newRow("count with a sign") << QStringList{"--count", "+2"} << "--count takes";
        QTest::newRow("timeout with a blank")
            << QStringList{"--timeout-ms", " 200"} << "--timeout-ms";
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
        QCOMPARE(request.link(), vmx::LinkKind::Serial);
        QCOMPARE(std::get<vmx::SerialTarget>(request.target).serialPort, 1);
        QCOMPARE(std::get<vmx::SerialTarget>(request.target).line->baudRate, 2400);
        QCOMPARE(request.addressText, QStringLiteral("2.5"));

        planned = vmx::planSend(vmx::parseCommandLine({"velmarixon-send", "--port", "com4",
                                                       "--baud", "1200", "--format", "N81"}),
                                settings);
        QCOMPARE(std::get<vmx::SerialTarget>(planned.plan->request.target).serialPort, 4);
        QCOMPARE(std::get<vmx::SerialTarget>(planned.plan->request.target).line->baudRate, 1200);
        QCOMPARE(std::get<vmx::SerialTarget>(planned.plan->request.target).line->parity,
                 QSerialPort::NoParity);
        planned = vmx::planSend(
            vmx::parseCommandLine({"velmarixon-send", "--port", "/dev/ttyUSB0"}), settings);
        QCOMPARE(std::get<vmx::SerialTarget>(planned.plan->request.target).serialPath,
                 QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(planned.plan->request.link(), vmx::LinkKind::Serial);
    }

    // Output that cannot be written is an error, never a success: a full disk, a closed
    // standard output, a reader that went away. The port is closed properly all the same.
    void failedOutputEndsTheRun() {
        ScratchDir dir;
        SimProcess sim;
        QVERIFY(sim.start({"serial"}));
        QProcess full;
        full.setStandardOutputFile(QStringLiteral("/dev/full"));
        full.start(kSend, {"--port", "COM1", "--count", "3"});
        QVERIFY(full.waitForFinished(10000));
        QCOMPARE(full.exitCode(), 74);
        QCOMPARE(outputLines(full.readAllStandardError()).size(), 1);

        const ProgramRun closed =
            runProgram(QStringLiteral("/bin/sh"), {"-c", "exec \"$0\" --port COM1 >&-", kSend});
        QCOMPARE(closed.status, 74);
        QCOMPARE(closed.err.size(), 1);

        // | head -n 1: the reader takes one line and leaves.
        const ProgramRun piped =
            runProgram(QStringLiteral("/bin/bash"),
                       {"-c",
                        "\"$0\" --port COM1 --count 0 --format E71 | head -n 1 >/dev/null; "
                        "echo status ${PIPESTATUS[0]}",
                        kSend});
        QCOMPARE(piped.out, QStringList{"status 74"});
    }

    // A client that dies with the line open (SIGKILL cannot be caught) must not break the
    // simulated line for the next one: E71 works again, as it did before.
    void simulatorSurvivesAKilledClient() {
        ScratchDir dir;
        SimProcess sim;
        QVERIFY(sim.start({"serial"}));
        QProcess victim;
        victim.start(kSend, {"--port", "COM1", "--format", "E71", "--count", "0"});
        QTRY_VERIFY_WITH_TIMEOUT(victim.canReadLine(), 10000);
        victim.kill();
        QVERIFY(victim.waitForFinished(5000));
        // The simulator tidies up once it sees the client gone; give it that moment.
        QTRY_COMPARE_WITH_TIMEOUT(runProgram(kSend, {"--port", "COM1", "--format", "E71"}).out,
                                  QStringList{"12.5"}, 5000);
        QCOMPARE(runProgram(kSend, {"--port", "COM1", "--format", "N81"}).out, QStringList{"12.5"});
    }

    // A poll (--count 0) ended by Ctrl+C or SIGTERM ends at once with the highest status of the
    // exchanges so far; with none completed it is no success (128 + the signal's number) and
    // prints nothing. A link that goes away meanwhile, and comes back, is link errors on it,
    // never frames to another port (COM1 is never /dev/ttyS0), and polled again: a device whose
    // link, named relative to the current folder, goes and comes with it, and a COM1 renamed.
    void pollingEndsOnASignal_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QStringList>("simArguments");
        QTest::addColumn<QStringList>("sendArguments");
        QTest::addColumn<int>("away");
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("status");

        const QStringList polled{"--output", "jsonl", "--timeout-ms", "200"};
        QTest::newRow("replies, Ctrl+C")
            << "COM1" << QStringList{} << QStringList{} << int(Away::No) << int(SIGINT) << 0;
        QTest::newRow("no answer yet, Ctrl+C")
            << "COM1" << QStringList{"--answer", "silent"} << QStringList{} << int(Away::No)
            << int(SIGINT) << 128 + SIGINT;
        QTest::newRow("no answer yet, SIGTERM")
            << "COM1" << QStringList{"--answer", "silent"} << QStringList{} << int(Away::No)
            << int(SIGTERM) << 128 + SIGTERM;
        QTest::newRow("a device that comes back")
            << "TTYA" << QStringList{} << polled << int(Away::DeviceEnds) << int(SIGINT) << 3;
        QTest::newRow("a COM link that goes away")
            << "COM1" << QStringList{} << polled << int(Away::LinkRenamed) << int(SIGINT) << 3;
    }
    void pollingEndsOnASignal() {
        QFETCH(QString, link);
        QFETCH(QStringList, simArguments);
        QFETCH(QStringList, sendArguments);
        QFETCH(int, away);
        QFETCH(int, signalNumber);
        QFETCH(int, status);

        ScratchDir dir;
        const QStringList simStart = QStringList{"serial", "--link", link} + simArguments;
        auto sim = std::make_unique<SimProcess>();
        QVERIFY(sim->start(simStart));
        QProcess send;
        send.start(kSend, QStringList{"--port", link, "--count", "0", "--interval-ms", "20"} +
                              sendArguments);
        QVERIFY(send.waitForStarted());
        QByteArray out;
        const auto seen = [&out, &send](const QString& outcome) {
            out += send.readAllStandardOutput();
            return outcomes(out).count(outcome);
        };
        QTRY_VERIFY_WITH_TIMEOUT(sim->log().contains("rx 07 30 31"), 10000);
        if (status < 128)
            QTRY_VERIFY_WITH_TIMEOUT(seen("reply") >= 2, 10000);
        if (Away(away) != Away::No) {
            if (Away(away) == Away::DeviceEnds)
                sim.reset(); // the link goes with it
            else
                QVERIFY(::rename(qPrintable(link), qPrintable(link + ".away")) == 0);
            QTRY_VERIFY_WITH_TIMEOUT(seen("link-error") >= 2, 10000);
            if (Away(away) == Away::DeviceEnds) {
                sim = std::make_unique<SimProcess>();
                QVERIFY(sim->start(simStart));
            } else {
                QVERIFY(::rename(qPrintable(link + ".away"), qPrintable(link)) == 0);
            }
            const int repliesBefore = seen("reply");
            QTRY_VERIFY_WITH_TIMEOUT(seen("reply") >= repliesBefore + 2, 10000);
        }
        ::kill(pid_t(send.processId()), signalNumber);
        QVERIFY(send.waitForFinished(5000));
        QCOMPARE(send.exitStatus(), QProcess::NormalExit);
        QCOMPARE(send.exitCode(), status);
        seen(QString());
        if (status >= 128) {
            QCOMPARE(out, QByteArray());
        } else if (Away(away) == Away::No) {
            QVERIFY(outcomes(out).size() >= 2);
            QCOMPARE(seen("reply"), outcomes(out).size());
        } else {
            QVERIFY2(!out.contains("ttyS"), out.constData());
            QVERIFY2(out.contains("\"port\":\"" + QFile::encodeName(dir.filePath(link)) + '"'),
                     out.constData());
        }
    }

    // A script polling at speed pays for one open per run, not one per exchange.
    void keepsTheSerialPortOpenThroughARun() {
        ScratchDir dir;
        SimProcess sim;
        QVERIFY(sim.start({"serial"}));
        const QByteArray line =
            QFile::encodeName(QFileInfo(QStringLiteral("COM1")).canonicalFilePath());
        const int opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(opens >= 0);
        // Closes too: inotify merges an event into an unread one just like it.
        QVERIFY(::inotify_add_watch(opens, line.constData(),
                                    IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) >= 0);
        const ProgramRun run = runProgram(kSend, {"--port", "COM1", "--count", "5"});
        QCOMPARE(run.out.size(), 5);
        int opened = 0;
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = ::read(opens, events, sizeof events)) > 0;) {
            // No names follow the events: the watch is on a file.
            for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;
                 at += ssize_t(sizeof(inotify_event)))
                opened +=
                    (reinterpret_cast<const inotify_event*>(events + at)->mask & IN_OPEN) ? 1 : 0;
        }
        ::close(opens);
        QCOMPARE(opened, 1);
    }
};

QTEST_GUILESS_MAIN(TestSendCli)
#include "tst_send_cli.moc"
