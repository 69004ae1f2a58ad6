// velmarixon-send's records, log, scan and port list, read as a machine reads them: CSV through
// Python's csv module, JSON through QJsonDocument, against the simulator program.
#include "support/programs.h"
#include "support/scratch_dir.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <memory>
#include <sys/stat.h>
#include <vector>

using namespace vmx::test;

namespace {

const QString kSend = QStringLiteral(VMX_SEND_PROGRAM);

// Quotes, a comma, CR LF, a control byte and bytes beyond ASCII (as the device sends them, one
// byte each: not UTF-8).
const QString kAwkwardPayload = QString::fromLatin1("a\"b,c\r\nd\x01\xe9\xff");
const QByteArray kAwkwardHex = QByteArrayLiteral("6122622c630d0a6401e9ff");
// As the payload is shown on one line: control pictures for CR, LF and 0x01.
const QString kAwkwardShown = QString::fromUtf8("a\"b,c\u240d\u240ad\u2401\u00e9\u00ff");

QList<QJsonObject> jsonRecords(const QByteArray& out) {
    QList<QJsonObject> records;
    for (const QByteArray& line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return {};
        records.append(document.object());
    }
    return records;
}

// The CSV parsed by Python's csv module (strict), each row back as a JSON array.
QList<QStringList> csvRows(const QByteArray& csv) {
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {"-c", "import csv, io, json, sys\n"
                        "text = sys.stdin.buffer.read().decode('utf-8')\n"
                        "for row in csv.reader(io.StringIO(text, newline=''), strict=True):\n"
                        "    print(json.dumps(row))\n"});
    python.write(csv);
    python.closeWriteChannel();
    if (!python.waitForFinished(10000) || python.exitCode() != 0)
        return {};
    QList<QStringList> rows;
    for (const QByteArray& line : python.readAllStandardOutput().split('\n')) {
        if (line.isEmpty())
            continue;
        QStringList row;
        for (const QJsonValue& field : QJsonDocument::fromJson(line).array())
            row.append(field.toString());
        rows.append(row);
    }
    return rows;
}

} // namespace

class TestSendRecords : public QObject {
    Q_OBJECT
private slots:
    void recordsParse() {
        if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
            QSKIP("python3 is needed to read the CSV with another parser");
        ScratchDir dir;
        SimProcess sim;
        QVERIFY(sim.start({"serial", "--payload", kAwkwardPayload}));

        // Text: one line for the reply, however many line breaks its payload holds.
        ProgramRun run = runProgram(kSend, {"--port", "COM1"});
        QCOMPARE(run.out, QStringList{kAwkwardShown});

        run = runProgram(kSend, {"--port", "COM1", "--output", "jsonl", "--count", "2"});
        QCOMPARE(run.status, 0);
        const QList<QJsonObject> records = jsonRecords(run.out.join(u'\n').toUtf8());
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0]["outcome"].toString(), QStringLiteral("reply"));
        QCOMPARE(records[0]["payload"].toString(), kAwkwardShown);
        QCOMPARE(records[0]["payload_hex"].toString(), QString::fromLatin1(kAwkwardHex));
        QCOMPARE(records[0]["address"].toString(), QStringLiteral("1"));
        QCOMPARE(records[0]["command"].toString(), QStringLiteral("RD"));
        QVERIFY(records[0]["round_trip_ms"].toDouble() > 0);
        QVERIFY(QDateTime::fromString(records[0]["time"].toString(), Qt::ISODateWithMs).isValid());

        QProcess csv;
        csv.start(kSend, {"--port", "COM1", "--output", "csv", "--address", "2", "--timeout-ms",
                          "100"}); // a failure is a record too
        QVERIFY(csv.waitForFinished(10000));
        QCOMPARE(csv.exitCode(), 2);
        QProcess csvReply;
        csvReply.start(kSend, {"--port", "COM1", "--output", "csv"});
        QVERIFY(csvReply.waitForFinished(10000));
        const QList<QStringList> failed = csvRows(csv.readAllStandardOutput());
        const QList<QStringList> replied = csvRows(csvReply.readAllStandardOutput());
        QCOMPARE(failed.size(), 2);
        QCOMPARE(replied.size(), 2);
        const QStringList header = replied[0];
        QCOMPARE(header, failed[0]);
        const auto field = [&header](const QStringList& row, const char* name) {
            return row.value(header.indexOf(QLatin1String(name)));
        };
        QCOMPARE(field(failed[1], "outcome"), QStringLiteral("no-answer"));
        QCOMPARE(field(failed[1], "error"), QStringLiteral(" Communication fail with device"));
        QCOMPARE(field(replied[1], "payload"), kAwkwardShown);
        QCOMPARE(field(replied[1], "payload_hex"), QString::fromLatin1(kAwkwardHex));
        QCOMPARE(field(replied[1], "port"), QFileInfo(QStringLiteral("COM1")).canonicalFilePath());
    }

    // An answer after its deadline is dropped before the next exchange and said to be late,
    // never printed as an answer.
    void lateAnswersAreDroppedAndRecorded() {
        ScratchDir dir;
        auto sim = std::make_unique<SimProcess>();
        QVERIFY(sim->start({"serial", "--delay-ms", "300"}));
        const QStringList arguments{"--port",  "COM1", "--timeout-ms",  "100",
                                    "--count", "2",    "--interval-ms", "600"};
        ProgramRun run = runProgram(kSend, arguments + QStringList{"--output", "jsonl"});
        QStringList outcomes;
        for (const QJsonObject& record : jsonRecords(run.out.join(u'\n').toUtf8()))
            outcomes.append(record["outcome"].toString());
        QCOMPARE(outcomes, (QStringList{"no-answer", "late", "no-answer"}));
        QCOMPARE(run.status, 2);

        sim.reset(); // its last answer is still on its way
        sim = std::make_unique<SimProcess>();
        QVERIFY(sim->start({"serial", "--delay-ms", "300"}));
        run = runProgram(kSend, arguments);
        QCOMPARE(run.out, QStringList{});
        QCOMPARE(run.err.size(), 3);
        QVERIFY2(run.err[1].startsWith(u"late"), qPrintable(run.err[1]));
    }

    // An answer that waited on the line before the run (to a client that has gone) is dropped
    // when the port opens, never taken for the first exchange's answer.
    void bytesWaitingAtOpeningAreLate() {
        ScratchDir dir;
        SimProcess sim;
        QVERIFY(sim.start({"serial", "--payload", "old"}));
        QFile line(QStringLiteral("COM1"));
        QVERIFY(line.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
        QVERIFY(line.write(QByteArray::fromHex("0730315244464503")) == 8);
        QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains("tx "), 5000);
        const ProgramRun run = runProgram(kSend, {"--port", "COM1", "--output", "jsonl"});
        line.close();
        QStringList outcomes;
        for (const QJsonObject& record : jsonRecords(run.out.join(u'\n').toUtf8()))
            outcomes.append(record["outcome"].toString() + u' ' + record["payload"].toString());
        QCOMPARE(outcomes.size(), 2);
        QVERIFY2(outcomes[0].startsWith(u"late ") && outcomes[0].contains(u"old"),
                 qPrintable(outcomes[0]));
        QCOMPARE(outcomes[1], QStringLiteral("reply old"));
    }

    // The commissioning log holds every frame and answer; a log that cannot be written is one
    // warning and the exchange goes on.
    void logsEveryEvent() {
        ScratchDir dir;
        SimProcess sim;
        QVERIFY(sim.start({"serial"}));
        ProgramRun run = runProgram(kSend, {"--port", "COM1", "--log", "run.log"});
        QCOMPARE(run.out, QStringList{"12.5"});
        run = runProgram(
            kSend, {"--port", "COM1", "--log", "run.log", "--address", "3", "--timeout-ms", "100"});
        QFile log(QStringLiteral("run.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList lines = outputLines(log.readAll());
        QStringList events;
        for (const QString& line : lines)
            events.append(line.section(u' ', 1));
        QCOMPARE(events, (QStringList{"sent 07 30 31 52 44 46 45 03",
                                      "received 07 30 31 52 44 31 32 2E 35 43 34 03", "reply 12.5",
                                      "sent 07 30 33 52 44 30 30 03",
                                      "no-answer Communication fail with device"}));

        // A full disk, and a pipe that nobody reads (opening it must not wait for a reader).
        QVERIFY(::mkfifo("nobody-reads", 0600) == 0);
        for (const char* path : {"/dev/full", "nobody-reads"}) {
            run = runProgram(kSend, {"--port", "COM1", "--log", path}, 10000);
            QCOMPARE(run.out, QStringList{"12.5"});
            QCOMPARE(run.status, 0);
            QCOMPARE(run.err.size(), 1);
            QVERIFY2(run.err.first().contains(QLatin1String(path)), qPrintable(run.err.first()));
        }
    }

    // One simulated line plays a bus of three devices; the scan finds exactly them.
    void scanFindsTheBus() {
        ScratchDir dir;
        SimProcess sim;
        QVERIFY(sim.start({"serial", "--address", "1,5,17"}));
        const ProgramRun run =
            runProgram(kSend, {"--port", "COM1", "--scan", "0-30", "--timeout-ms", "100"}, 60000);
        QCOMPARE(run.out, (QStringList{"1 reply 12.5", "5 reply 12.5", "17 reply 12.5"}));
        QCOMPARE(run.status, 0);
    }

    // A bus whose devices answer after 350 ms: a scan names exactly those whose own answer came
    // within its wait, over either link; with a shorter wait it names none and says who
    // answered late. The four scans run at once: each waits out most of its addresses.
    void scanOfASlowBusNamesOnlyOwnAnswers() {
        ScratchDir dir;
        struct Scan {
            bool shortWait;
            SimProcess sim;
            QProcess send;
        };
        std::vector<std::unique_ptr<Scan>> scans;
        for (const bool udp : {false, true}) {
            for (const bool shortWait : {true, false}) {
                auto& scan = *scans.emplace_back(std::make_unique<Scan>());
                scan.shortWait = shortWait;
                const QString bus = QStringLiteral("BUS%1").arg(scans.size());
                QVERIFY(scan.sim.start(
                    QStringList{udp ? "udp" : "serial", "--address", "1,5,17", "--delay-ms",
                                "350"} +
                    (udp ? QStringList{"--port", "0"} : QStringList{"--link", bus})));
                const QStringList port =
                    udp ? QStringList{"--port",
                                      QStringLiteral("udp:127.0.0.1:%1").arg(scan.sim.udpPort()),
                                      "--local-port", "0"}
                        : QStringList{"--port", bus};
                scan.send.start(kSend, port + QStringList{"--scan", "0-20", "--timeout-ms",
                                                          shortWait ? "100" : "800"});
            }
        }
        static const QRegularExpression late(
            QStringLiteral("^late: (\\d+) answered after (\\d+) ms"));
        for (const auto& scan : scans) {
            QVERIFY(scan->send.waitForFinished(40000));
            const QStringList out = outputLines(scan->send.readAllStandardOutput());
            const QStringList err = outputLines(scan->send.readAllStandardError());
            if (!scan->shortWait) {
                QVERIFY2(out == (QStringList{"1 reply 12.5", "5 reply 12.5", "17 reply 12.5"}),
                         qPrintable((out + err).join(u'\n')));
                QCOMPARE(scan->send.exitCode(), 0);
                continue;
            }
            QCOMPARE(out, QStringList{});
            QCOMPARE(scan->send.exitCode(), 2);
            QStringList lateOnes;
            for (const QString& line : err) {
                const auto match = late.match(line);
                QVERIFY2(match.hasMatch() && match.captured(2).toInt() >= 350, qPrintable(line));
                lateOnes.append(match.captured(1));
            }
            QCOMPARE(lateOnes, (QStringList{"1", "5", "17"}));
        }
    }

    // A device slower than the wait: its ACK, which names no address, is late, never the next
    // exchange's. It comes between the end of the wait and the end of the next exchange's, with
    // margins of half a second so that a busy machine cannot blur the test; the guard outlasts
    // it as the default outlasts a device 100 ms late.
    void aLateAckIsNeverTheNextOnes() {
        ScratchDir dir;
        SimProcess sim;
        QVERIFY(sim.start({"serial", "--answer", "ack", "--delay-ms", "1100"}));
        const ProgramRun run =
            runProgram(kSend, {"--port", "COM1", "--count", "2", "--timeout-ms", "600",
                               "--guard-ms", "1000", "--output", "jsonl"});
        QStringList outcomes;
        for (const QJsonObject& record : jsonRecords(run.out.join(u'\n').toUtf8()))
            outcomes.append(record["outcome"].toString());
        QCOMPARE(outcomes, (QStringList{"no-answer", "late", "no-answer"}));
        QCOMPARE(run.status, 2);
    }

    void listsPortsAndWhereComLinksLead() {
        ScratchDir dir;
        SimProcess sim;
        QVERIFY(sim.start({"serial"}));
        const ProgramRun run = runProgram(kSend, {"--list-ports"});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.contains(QStringLiteral("  COM1 -> ") +
                                  QFileInfo(QStringLiteral("COM1")).canonicalFilePath()),
                 qPrintable(run.out.join(u'\n')));
    }
};

QTEST_GUILESS_MAIN(TestSendRecords)
#include "tst_send_records.moc"
