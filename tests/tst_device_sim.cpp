#include "device_sim/answer_builder.h"
#include "device_sim/byte_text.h"
#include "device_sim/device.h"
#include "device_sim/frame_parser.h"
#include "device_sim/pty_line.h"
#include "device_sim/sim_options.h"
#include "device_sim/udp_endpoint.h"

#include "protocol/command_frame.h"
#include "protocol/reply_assembler.h"
#include "settings/settings_codec.h"

#include "support/pty_pair.h"
#include "support/scratch_dir.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace vmx::sim;

Q_DECLARE_METATYPE(vmx::sim::FrameStatus)
Q_DECLARE_METATYPE(vmx::sim::AnswerMode)

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// The frame the tool itself builds and sends for these fields.
QByteArray toolFrame(const QString& address, const QString& command, float* commandLength) {
    vmx::CommandFrame frame;
    float length = 0;
    if (vmx::buildCommandFrame(address, command, frame, length) != vmx::FrameError::None)
        return {};
    if (commandLength)
        *commandLength = length;
    return vmx::sendingOrder(frame);
}

// One line per frame: bytes skipped in front of it within its feed (if any), address, command
// and verdict, for comparing whole streams at once.
QString summary(const ParsedFrame& frame) {
    static const char* const kVerdicts[] = {"ok", "bad", "short"};
    const QString line = QStringLiteral("%1 %2 %3")
                             .arg(printableBytes(frame.address), printableBytes(frame.command),
                                  QLatin1String(kVerdicts[int(frame.status)]));
    return frame.skippedBefore > 0 ? QStringLiteral("+%1 ").arg(frame.skippedBefore) + line : line;
}

// Answers as the tool collects them: each piece a receive event, the line of the piece that
// completes the answer.
QList<QByteArray> toolLines(const QList<QByteArray>& pieces, float commandLength) {
    vmx::ReplyAssembler assembler;
    QList<QByteArray> lines;
    for (const QByteArray& piece : pieces) {
        if (const auto line = assembler.receive(piece, commandLength))
            lines.append(*line);
    }
    return lines;
}

struct WrittenPiece {
    QByteArray bytes;
    Destination to;
};

} // namespace

class TestDeviceSim : public QObject {
    Q_OBJECT
private slots:
    // -- frames --

    void parsesFrame_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<FrameStatus>("status");
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("expectedCheck");

        QTest::newRow("02 RD") << hex("07 30 32 52 44 46 46 03") << FrameStatus::Ok
                               << QByteArray("02") << QByteArray("RD") << QByteArray("FF");
        QTest::newRow("99 ZZZ") << hex("07 39 39 5A 5A 5A 38 37 03") << FrameStatus::Ok
                                << QByteArray("99") << QByteArray("ZZZ") << QByteArray("87");
        QTest::newRow("05 X, seven bytes")
            << hex("07 30 35 58 43 34 03") << FrameStatus::Ok << QByteArray("05") << QByteArray("X")
            << QByteArray("C4");
        QTest::newRow("eighteen command bytes")
            << hex("07 30 32 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 39 34 03")
            << FrameStatus::Ok << QByteArray("02") << QByteArray("ABCDEFGHIJKLMNOPQR")
            << QByteArray("94");
        // 7 + 0x30 + 0x30 + 0x4C + 0x4D = 0x100: the check is written with a leading zero.
        QTest::newRow("check below 0x10")
            << hex("07 30 30 4C 4D 30 30 03") << FrameStatus::Ok << QByteArray("00")
            << QByteArray("LM") << QByteArray("00");
        QTest::newRow("wrong check") << hex("07 30 32 52 44 46 45 03") << FrameStatus::BadCheck
                                     << QByteArray("02") << QByteArray("RD") << QByteArray("FF");
        QTest::newRow("lower-case check")
            << hex("07 30 32 52 44 66 66 03") << FrameStatus::BadCheck << QByteArray("02")
            << QByteArray("RD") << QByteArray("FF");
        QTest::newRow("address changed in transit")
            << hex("07 30 33 52 44 46 46 03") << FrameStatus::BadCheck << QByteArray("03")
            << QByteArray("RD") << QByteArray("00");
        QTest::newRow("no command") << hex("07 30 32 46 46 03") << FrameStatus::TooShort
                                    << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("start and end only") << hex("07 03") << FrameStatus::TooShort << QByteArray()
                                            << QByteArray() << QByteArray();
    }
    void parsesFrame() {
        QFETCH(QByteArray, bytes);
        QFETCH(FrameStatus, status);
        QFETCH(QByteArray, address);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, expectedCheck);

        FrameParser parser;
        const QList<ParsedFrame> frames = parser.feed(bytes);
        QCOMPARE(frames.size(), 1);
        const ParsedFrame& frame = frames.first();
        QCOMPARE(frame.status, status);
        QCOMPARE(frame.bytes, bytes);
        QCOMPARE(frame.address, address);
        QCOMPARE(frame.command, command);
        QCOMPARE(frame.expectedCheck, expectedCheck);
        QCOMPARE(parser.pendingBytes(), 0);
        QCOMPARE(parser.skippedBytes(), 0);
    }

    // Whatever the tool's own frame builder sends is read back with its fields and a good check.
    void readsToolFrames_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("addressBytes");
        QTest::addColumn<QByteArray>("commandBytes");

        QTest::newRow("defaults") << "02"
                                  << "RD" << QByteArray("02") << QByteArray("RD");
        QTest::newRow("address 0") << "0"
                                   << "RD" << QByteArray("00") << QByteArray("RD");
        QTest::newRow("address 99") << "99"
                                    << "ZZZ" << QByteArray("99") << QByteArray("ZZZ");
        QTest::newRow("address 123") << "123"
                                     << "RD" << hex("3C 33") << QByteArray("RD");
        QTest::newRow("tens value 207") << "2079"
                                        << "RD" << hex("FF 39") << QByteArray("RD");
        QTest::newRow("twenty characters, eighteen sent")
            << "7"
            << "ABCDEFGHIJKLMNOPQRST" << QByteArray("07") << QByteArray("ABCDEFGHIJKLMNOPQR");
        QTest::newRow("Latin-1 command")
            << "12" << QStringLiteral("W\u00E9") << QByteArray("12") << hex("57 E9");
    }
    void readsToolFrames() {
        QFETCH(QString, address);
        QFETCH(QString, command);
        QFETCH(QByteArray, addressBytes);
        QFETCH(QByteArray, commandBytes);

        const QByteArray sent = toolFrame(address, command, nullptr);
        QVERIFY(!sent.isEmpty());
        FrameParser parser;
        const QList<ParsedFrame> frames = parser.feed(sent);
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames.first().status, FrameStatus::Ok);
        QCOMPARE(frames.first().address, addressBytes);
        QCOMPARE(frames.first().command, commandBytes);
        QCOMPARE(frames.first().check, sent.sliced(sent.size() - 3, 2));
    }

    void collectsStream_data() {
        QTest::addColumn<QList<QByteArray>>("feeds");
        QTest::addColumn<QList<int>>("framesPerFeed");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<qint64>("skipped");
        QTest::addColumn<qsizetype>("pending");

        const QByteArray rd = hex("07 30 32 52 44 46 46 03");
        const QByteArray zzz = hex("07 39 39 5A 5A 5A 38 37 03");

        QTest::newRow("garbage before the frame")
            << QList<QByteArray>{QByteArray("noise\x03\x06\x15") + rd} << QList<int>{1}
            << QStringList{"+8 02 RD ok"} << qint64(8) << qsizetype(0);
        QTest::newRow("garbage over two feeds")
            << QList<QByteArray>{QByteArray("xy"), QByteArray("z") + rd} << QList<int>{0, 1}
            << QStringList{"+1 02 RD ok"} << qint64(3) << qsizetype(0);
        QList<QByteArray> single;
        QList<int> none;
        for (const char byte : rd) {
            single.append(QByteArray(1, byte));
            none.append(0);
        }
        none.last() = 1;
        QTest::newRow("one byte per feed")
            << single << none << QStringList{"02 RD ok"} << qint64(0) << qsizetype(0);
        QTest::newRow("split in three")
            << QList<QByteArray>{rd.first(2), rd.sliced(2, 4), rd.sliced(6)} << QList<int>{0, 0, 1}
            << QStringList{"02 RD ok"} << qint64(0) << qsizetype(0);
        QTest::newRow("two frames in one feed")
            << QList<QByteArray>{rd + zzz} << QList<int>{2} << QStringList{"02 RD ok", "99 ZZZ ok"}
            << qint64(0) << qsizetype(0);
        QTest::newRow("end of one frame and start of the next")
            << QList<QByteArray>{rd.first(5), rd.sliced(5) + zzz.first(4), zzz.sliced(4)}
            << QList<int>{0, 1, 1} << QStringList{"02 RD ok", "99 ZZZ ok"} << qint64(0)
            << qsizetype(0);
        QTest::newRow("bad frame, garbage, a good frame")
            << QList<QByteArray>{hex("07 30 32 52 44 30 30 03") + "??" + zzz} << QList<int>{2}
            << QStringList{"02 RD bad", "+2 99 ZZZ ok"} << qint64(2) << qsizetype(0);
        // A start byte inside a frame begins it afresh; the broken beginning is passed over.
        QTest::newRow("broken frame restarted")
            << QList<QByteArray>{hex("07 30 32 52") + rd} << QList<int>{1}
            << QStringList{"+4 02 RD ok"} << qint64(4) << qsizetype(0);
        QTest::newRow("frame still open")
            << QList<QByteArray>{QByteArray("xy") + rd.first(5)} << QList<int>{0} << QStringList{}
            << qint64(2) << qsizetype(5);
        // Longer than any frame the tool sends: dropped at the 24th byte without an end byte,
        // the tail is garbage too.
        QTest::newRow("overlong frame")
            << QList<QByteArray>{hex("07 30 32") + QByteArray(30, 'A') + hex("46 46 03") + rd}
            << QList<int>{1} << QStringList{"+36 02 RD ok"} << qint64(36) << qsizetype(0);
    }
    void collectsStream() {
        QFETCH(QList<QByteArray>, feeds);
        QFETCH(QList<int>, framesPerFeed);
        QFETCH(QStringList, frames);
        QFETCH(qint64, skipped);
        QFETCH(qsizetype, pending);

        FrameParser parser;
        QStringList got;
        for (qsizetype i = 0; i < feeds.size(); ++i) {
            const QList<ParsedFrame> completed = parser.feed(feeds.at(i));
            QCOMPARE(completed.size(), framesPerFeed.at(i));
            for (const ParsedFrame& frame : completed)
                got.append(summary(frame));
        }
        QCOMPARE(got, frames);
        QCOMPARE(parser.skippedBytes(), skipped);
        QCOMPARE(parser.pendingBytes(), pending);
    }

    void boundedOnEndlessInput_data() {
        QTest::addColumn<QByteArray>("prefix");
        QTest::addColumn<char>("filler");
        QTest::addRow("garbage, no start byte") << QByteArray() << 'x';
        QTest::addRow("a start byte, then no end byte") << hex("07 30 32") << 'A';
        QTest::addRow("only start bytes") << QByteArray() << char(0x07);
    }
    void boundedOnEndlessInput() {
        QFETCH(QByteArray, prefix);
        QFETCH(char, filler);

        FrameParser parser;
        QVERIFY(parser.feed(prefix).isEmpty());
        const QByteArray chunk(64 * 1024, filler);
        for (int i = 0; i < 64; ++i) {
            QVERIFY(parser.feed(chunk).isEmpty());
            QVERIFY(parser.pendingBytes() < FrameParser::kMaxFrameBytes);
        }
        QVERIFY(parser.skippedBytes() > 64 * 1024 * 63);
        // The stream goes on to carry frames as before; an end byte first closes whatever was held.
        parser.feed(hex("03"));
        QCOMPARE(parser.pendingBytes(), 0);
        const QList<ParsedFrame> frames = parser.feed(hex("07 30 32 52 44 46 46 03"));
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames.first().status, FrameStatus::Ok);
    }

    // Random bytes in random pieces: every byte is either held, skipped or part of a frame, and
    // nothing held or returned is ever longer than a frame.
    void accountsForEveryByte() {
        QRandomGenerator random(20240517);
        FrameParser parser;
        qint64 fed = 0;
        qint64 inFrames = 0;
        for (int round = 0; round < 2000; ++round) {
            QByteArray piece(random.bounded(1, 64), Qt::Uninitialized);
            for (char& byte : piece) {
                // Plenty of start and end bytes so frames of all sorts turn up.
                const int pick = random.bounded(10);
                byte = pick == 0 ? char(0x07) : pick == 1 ? char(0x03) : char(random.bounded(256));
            }
            fed += piece.size();
            const qint64 skippedBefore = parser.skippedBytes();
            qint64 skippedBetween = 0;
            for (const ParsedFrame& frame : parser.feed(piece)) {
                skippedBetween += frame.skippedBefore;
                QCOMPARE(frame.bytes.front(), char(0x07));
                QCOMPARE(frame.bytes.back(), char(0x03));
                QVERIFY(frame.bytes.size() <= FrameParser::kMaxFrameBytes);
                inFrames += frame.bytes.size();
            }
            QVERIFY(skippedBetween <= parser.skippedBytes() - skippedBefore);
            QVERIFY(parser.pendingBytes() < FrameParser::kMaxFrameBytes);
            QCOMPARE(parser.skippedBytes() + inFrames + parser.pendingBytes(), fed);
        }
    }

    // -- answers --

    void buildsReply_data() {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("reply");

        // 7 + '0' + '2' + 'R' + 'D' + '1' + '2' + '.' + '5' = 453; 453 mod 256 = 0xC5.
        QTest::newRow("02 RD 12.5") << QByteArray("02") << QByteArray("RD") << QByteArray("12.5")
                                    << hex("07 30 32 52 44 31 32 2E 35 43 35 03");
        // 7 + 0x39 + 0x39 + 3 * 0x5A = 391 = 0x187.
        QTest::newRow("empty payload") << QByteArray("99") << QByteArray("ZZZ") << QByteArray()
                                       << hex("07 39 39 5A 5A 5A 38 37 03");
        // 7 + 0x30 + 0x35 + 0x58 + 0x40 = 0x104.
        QTest::newRow("check with a leading zero")
            << QByteArray("05") << QByteArray("X") << QByteArray("@")
            << hex("07 30 35 58 40 30 34 03");
    }
    void buildsReply() {
        QFETCH(QByteArray, address);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, reply);

        QCOMPARE(buildReply(address, command, payload), reply);
    }

    // From the tool's frame to the line the tool shows, through the device's answer, whole or in
    // pieces.
    void toolReadsTheAnswer_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("command");
        QTest::addColumn<AnswerMode>("mode");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("split");
        QTest::addColumn<QByteArray>("line");

        QTest::newRow("reply 12.5")
            << "02"
            << "RD" << AnswerMode::Reply << QByteArray("12.5") << 0 << QByteArray("12.5");
        for (const int split : {1, 2, 5, 11, 12}) {
            QTest::addRow("reply in pieces of %d", split)
                << "02"
                << "RD" << AnswerMode::Reply << QByteArray("12.5") << split << QByteArray("12.5");
        }
        QTest::newRow("empty payload")
            << "99"
            << "ZZZ" << AnswerMode::Reply << QByteArray() << 3 << QByteArray();
        QTest::newRow("eighteen characters") << "1"
                                             << "ABCDEFGHIJKLMNOPQR" << AnswerMode::Reply
                                             << QByteArray("-0.75") << 4 << QByteArray("-0.75");
        QTest::newRow("ack") << "02"
                             << "RD" << AnswerMode::Ack << QByteArray("12.5") << 0
                             << QByteArray("ACK");
        QTest::newRow("nak") << "02"
                             << "RD" << AnswerMode::Nak << QByteArray("12.5") << 0
                             << QByteArray("NAK");
    }
    void toolReadsTheAnswer() {
        QFETCH(QString, address);
        QFETCH(QString, command);
        QFETCH(AnswerMode, mode);
        QFETCH(QByteArray, payload);
        QFETCH(int, split);
        QFETCH(QByteArray, line);

        float commandLength = 0;
        const QByteArray sent = toolFrame(address, command, &commandLength);
        const QList<ParsedFrame> frames = FrameParser().feed(sent);
        QCOMPARE(frames.size(), 1);
        const QByteArray answer = answerFor(frames.first(), mode, payload);

        const QList<QByteArray> pieces = splitIntoPieces(answer, split);
        QCOMPARE(pieces.join(), answer);
        const qsizetype pieceSize = split > 0 ? split : answer.size();
        QCOMPARE(pieces.size(), (answer.size() + pieceSize - 1) / pieceSize);
        for (const QByteArray& piece : pieces)
            QVERIFY(piece.size() <= pieceSize);

        // Only the last piece completes the answer.
        QCOMPARE(toolLines(pieces, commandLength), QList<QByteArray>{line});
    }

    void refusesBadFrames_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<AnswerMode>("mode");
        QTest::addColumn<QByteArray>("answer");

        const QByteArray badCheck = hex("07 30 32 52 44 46 45 03");
        const QByteArray tooShort = hex("07 30 32 46 46 03");
        const QByteArray nak(1, vmx::kNak);
        QTest::newRow("bad check, reply mode") << badCheck << AnswerMode::Reply << nak;
        QTest::newRow("bad check, ack mode") << badCheck << AnswerMode::Ack << nak;
        QTest::newRow("too short, reply mode") << tooShort << AnswerMode::Reply << nak;
        QTest::newRow("bad check, silent") << badCheck << AnswerMode::Silent << QByteArray();
        QTest::newRow("good frame, silent")
            << hex("07 30 32 52 44 46 46 03") << AnswerMode::Silent << QByteArray();
    }
    void refusesBadFrames() {
        QFETCH(QByteArray, frame);
        QFETCH(AnswerMode, mode);
        QFETCH(QByteArray, answer);

        QCOMPARE(answerFor(parseFrame(frame), mode, "12.5"), answer);
        QVERIFY(splitIntoPieces(answerFor(parseFrame(frame), mode, "12.5"), 3).size() ==
                (answer.isEmpty() ? 0 : 1));
    }

    // -- command line --

    void readsOptions_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<QString>("linkName");
        QTest::addColumn<int>("udpPort");
        QTest::addColumn<AnswerMode>("mode");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("split");
        QTest::addColumn<int>("delay");

        const AnswerMode reply = AnswerMode::Reply;
        QTest::newRow("serial, defaults") << QStringList{"serial"} << true << "COM1" << 6000
                                          << reply << QByteArray("12.5") << 0 << 0;
        QTest::newRow("serial COM3 ack")
            << QStringList{"serial", "--link", "COM3", "--answer", "ack"} << true << "COM3" << 6000
            << AnswerMode::Ack << QByteArray("12.5") << 0 << 0;
        QTest::newRow("udp, all answer options")
            << QStringList{"udp", "--port",     "6000", "--payload", "42.0",  "--split",
                           "3",   "--delay-ms", "500",  "--answer",  "silent"}
            << true << "COM1" << 6000 << AnswerMode::Silent << QByteArray("42.0") << 3 << 500;
        QTest::newRow("udp, free port") << QStringList{"udp", "--port", "0"} << true << "COM1" << 0
                                        << reply << QByteArray("12.5") << 0 << 0;
        QTest::newRow("empty payload") << QStringList{"udp", "--payload", ""} << true << "COM1"
                                       << 6000 << reply << QByteArray() << 0 << 0;
        QTest::newRow("Latin-1 payload")
            << QStringList{"udp", "--payload", QStringLiteral("5\u00B0")} << true << "COM1" << 6000
            << reply << QByteArray("5\xB0") << 0 << 0;

        const auto refused = [](const char* name, const QStringList& arguments) {
            QTest::newRow(name) << arguments << false << QString() << 0 << AnswerMode::Reply
                                << QByteArray() << 0 << 0;
        };
        refused("no mode", {});
        refused("unknown mode", {"tcp"});
        refused("two modes", {"serial", "udp"});
        refused("tool's own port", {"udp", "--port", "5000"});
        refused("port too large", {"udp", "--port", "65536"});
        refused("port not a number", {"udp", "--port", "60x"});
        refused("port with a sign", {"udp", "--port", "+6000"});
        refused("address with a blank", {"serial", "--address", "1, 5"});
        refused("port for serial", {"serial", "--port", "6000"});
        refused("link for udp", {"udp", "--link", "COM1"});
        refused("link with a path", {"serial", "--link", "../COM1"});
        refused("absolute link", {"serial", "--link", "/tmp/COM1"});
        refused("link ..", {"serial", "--link", ".."});
        refused("empty link", {"serial", "--link", ""});
        refused("unknown answer", {"serial", "--answer", "maybe"});
        refused("split 0", {"serial", "--split", "0"});
        refused("negative delay", {"serial", "--delay-ms", "-1"});
        refused("delay too long", {"serial", "--delay-ms", "600001"});
        refused("payload beyond Latin-1", {"serial", "--payload", QStringLiteral("\u20AC")});
        refused("payload too long", {"serial", "--payload", QString(1001, u'9')});
        refused("unknown option", {"serial", "--baud", "9600"});
        refused("address beyond the tool's", {"serial", "--address", "2080"});
        refused("address not a number", {"serial", "--address", "1.5"});
        refused("missing value", {"serial", "--link"});
        refused("address twice", {"serial", "--address", "1", "--address", "5"});
        refused("delay twice", {"serial", "--delay-ms", "10", "--delay-ms", "20"});
    }
    void readsOptions() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, usable);
        QFETCH(QString, linkName);
        QFETCH(int, udpPort);
        QFETCH(AnswerMode, mode);
        QFETCH(QByteArray, payload);
        QFETCH(int, split);
        QFETCH(int, delay);

        arguments.prepend(QStringLiteral("velmarixon-device-sim"));
        const OptionsResult result = parseOptions(arguments);
        QVERIFY(!result.helpRequested);
        QCOMPARE(result.options.has_value(), usable);
        if (!usable) {
            QVERIFY(!result.error.isEmpty());
            return;
        }
        const SimOptions& options = *result.options;
        QCOMPARE(options.link, arguments.at(1) == u"udp" ? LinkKind::Udp : LinkKind::Serial);
        QCOMPARE(options.linkName, linkName);
        QCOMPARE(int(options.udpPort), udpPort);
        QCOMPARE(options.answer, mode);
        QCOMPARE(options.payload, payload);
        QCOMPARE(options.splitBytes, split);
        QCOMPARE(options.delayMs, delay);
    }

    void showsUsage() {
        const OptionsResult result =
            parseOptions({QStringLiteral("velmarixon-device-sim"), QStringLiteral("--help")});
        QVERIFY(result.helpRequested);
        QVERIFY(!result.options);
        for (const char* word : {"serial", "udp", "--link", "--port", "--answer", "--payload",
                                 "--split", "--delay-ms", "127.0.0.1"})
            QVERIFY2(result.helpText.contains(QLatin1String(word)), word);
    }

    // -- the device --

    void answersInOrderAndInPieces() {
        QList<WrittenPiece> written;
        AnswerSettings settings;
        settings.splitBytes = 5;
        settings.gapMs = 1;
        Device device(settings, [&written](QByteArrayView piece, const Destination& to) {
            written.append({piece.toByteArray(), to});
            return true;
        });
        QSignalSpy log(&device, &Device::logLine);

        // Two frames, the second arriving in two pieces, with garbage around them.
        device.receiveStream(hex("AA BB 07 30 32 52 44 46 46 03 07 39 39 5A"));
        device.receiveStream(hex("5A 5A 38 37 03 CC"));

        const QByteArray first = hex("07 30 32 52 44 31 32 2E 35 43 35 03");
        const QByteArray second = buildReply("99", "ZZZ", "12.5");
        QTRY_COMPARE(written.size(), 3 + 3);
        QByteArray all;
        for (const WrittenPiece& piece : written) {
            QVERIFY(piece.bytes.size() <= 5);
            QVERIFY(!piece.to.isDatagramSender());
            all += piece.bytes;
        }
        QCOMPARE(all, first + second);
        QCOMPARE(device.waitingAnswers(), std::size_t(0));

        QStringList lines;
        for (const auto& arguments : log)
            lines.append(arguments.at(0).toString());
        const QStringList expected{
            QStringLiteral("rx skipped 2 byte(s) outside a frame"),
            QStringLiteral("rx 07 30 32 52 44 46 46 03  address 02 command RD check FF ok"),
            QStringLiteral("rx 07 39 39 5A 5A 5A 38 37 03  address 99 command ZZZ check 87 ok"),
            QStringLiteral("rx skipped 1 byte(s) outside a frame"),
            QStringLiteral("tx 07 30 32 52 44 31 32 2E 35 43 35 03  reply, payload 12.5 in 3 "
                           "pieces"),
            QStringLiteral("tx %1  reply, payload 12.5 in 3 pieces").arg(hexBytes(second)),
        };
        QCOMPARE(lines, expected);
    }

    // --reading-ramp: each reply carries the next reading, up to TO and back, within the noise,
    // the same for the same seed; --reading-list cycles. Bad combinations are refused.
    void answersAChangingReading() {
        const auto readings = [](const QStringList& arguments, int count) {
            const auto options =
                parseOptions(QStringList{"velmarixon-device-sim", "udp"} + arguments).options;
            QStringList payloads;
            if (!options)
                return payloads;
            AnswerSettings settings;
            settings.reading = options->reading;
            QByteArray written;
            Device device(settings, [&written](QByteArrayView piece, const Destination&) {
                written += piece.toByteArray();
                return true;
            });
            for (int i = 0; i < count; ++i)
                device.receiveStream(hex("07 30 32 52 44 46 46 03"));
            if (!QTest::qWaitFor([&] { return written.count('\x03') >= count; }, 5000))
                return payloads;
            for (QByteArray reply : written.split('\x03')) {
                if (reply.size() > 7) // start, address, command, check characters
                    payloads.append(QString::fromLatin1(reply.mid(5, reply.size() - 7)));
            }
            return payloads;
        };
        const QStringList ramp = {"--reading-ramp", "10:11:0.5", "--reading-noise",
                                  "0.05",           "--seed",    "3"};
        const QStringList got = readings(ramp, 7);
        QCOMPARE(got.size(), 7);
        const double expected[] = {10, 10.5, 11, 10.5, 10, 10.5, 11};
        bool anyNoise = false;
        for (int i = 0; i < 7; ++i) {
            QVERIFY2(got[i].contains(QRegularExpression(QStringLiteral("^\\d+\\.\\d\\d$"))),
                     qPrintable(got[i]));
            const double value = got[i].toDouble();
            QVERIFY2(std::abs(value - expected[i]) <= 0.05 + 1e-9, qPrintable(got[i]));
            anyNoise = anyNoise || value != expected[i];
        }
        QVERIFY(anyNoise);
        QCOMPARE(readings(ramp, 7), got);
        QCOMPARE(readings({"--reading-list", "1,2.5,x"}, 4), QStringList({"1", "2.5", "x", "1"}));

        for (const QStringList& refused :
             {QStringList{"--reading-list", "1,2", "--payload", "3"},
              QStringList{"--reading-ramp", "1:2:0"}, QStringList{"--reading-ramp", "1:1:0.1"},
              QStringList{"--reading-ramp", "1:2:0.1", "--reading-noise", "nan"},
              QStringList{"--reading-noise", "0.1"}, QStringList{"--reading-list", "1,,2"},
              QStringList{"--reading-list", "1", "--answer", "ack"}}) {
            const OptionsResult result =
                parseOptions(QStringList{"velmarixon-device-sim", "udp"} + refused);
            QVERIFY2(!result.options && !result.error.isEmpty(), qPrintable(refused.join(u' ')));
        }
    }

    // A device at one address answers its own frames only and stays silent for the others, as
    // on a shared line; a frame for it with a bad check is still refused.
    void answersItsOwnAddressOnly() {
        const auto parsed = [](const QStringList& arguments) {
            return parseOptions(QStringList{"velmarixon-device-sim"} + arguments).options;
        };
        QCOMPARE(parsed({"serial"})->addresses, QList<int>{1});
        QCOMPARE(parsed({"udp", "--address", "123"})->addresses, QList<int>{123});
        QCOMPARE(parsed({"udp", "--address", "1,5,17"})->addresses, (QList<int>{1, 5, 17}));
        QVERIFY(!parsed({"udp", "--address", "1,,5"}));
        QVERIFY(!parsed({"udp", "--address", "5,5"}));
        QCOMPARE(addressCharacters(1), QByteArray("01"));
        QCOMPARE(addressCharacters(123), hex("3C 33"));

        QList<QByteArray> written;
        AnswerSettings settings;
        settings.mode = AnswerMode::Ack;
        settings.addresses = {addressCharacters(1)};
        Device device(settings, [&written](QByteArrayView piece, const Destination&) {
            written.append(piece.toByteArray());
            return true;
        });
        device.receiveStream(toolFrame("2", "RD", nullptr));
        device.receiveStream(hex("07 30 32 52 44 46 45 03")); // address 02, bad check
        device.receiveStream(toolFrame("1", "RD", nullptr));
        device.receiveStream(hex("07 30 31 52 44 46 46 03")); // address 01, bad check
        QTRY_COMPARE(written,
                     (QList<QByteArray>{QByteArray(1, vmx::kAck), QByteArray(1, vmx::kNak)}));
    }

    void waitsBeforeAnswering() {
        QList<QByteArray> written;
        AnswerSettings settings;
        settings.mode = AnswerMode::Ack;
        settings.delayMs = 100;
        Device device(settings, [&written](QByteArrayView piece, const Destination&) {
            written.append(piece.toByteArray());
            return true;
        });
        QDeadlineTimer atLeast(settings.delayMs);
        device.receiveStream(hex("07 30 32 52 44 46 46 03"));
        QVERIFY(written.isEmpty());
        QCOMPARE(device.waitingAnswers(), std::size_t(1));
        QTRY_COMPARE(written, QList<QByteArray>{QByteArray(1, vmx::kAck)});
        QVERIFY(atLeast.hasExpired());
    }

    void reportsBadFramesAndFailedWrites() {
        AnswerSettings settings;
        Device device(settings, [](QByteArrayView, const Destination&) { return false; });
        QSignalSpy log(&device, &Device::logLine);
        device.receiveStream(hex("07 30 32 52 44 46 45 03"));
        QTRY_COMPARE(log.size(), 2);
        QCOMPARE(log.at(0).at(0).toString(),
                 QStringLiteral("rx 07 30 32 52 44 46 45 03  address 02 command RD check FE bad, "
                                "expected FF"));
        QCOMPARE(log.at(1).at(0).toString(),
                 QStringLiteral("tx failed: 15 to serial line not written, answer abandoned"));
        QCOMPARE(device.waitingAnswers(), std::size_t(0));
    }

    void holdsABoundedNumberOfAnswers() {
        int writes = 0;
        AnswerSettings settings;
        settings.delayMs = 60000;
        Device device(settings, [&writes](QByteArrayView, const Destination&) {
            ++writes;
            return true;
        });
        QSignalSpy log(&device, &Device::logLine);
        QByteArray flood;
        for (int i = 0; i < 200; ++i)
            flood += hex("07 30 32 52 44 46 46 03");
        device.receiveStream(flood);
        QCOMPARE(device.waitingAnswers(), Device::kMaxWaitingAnswers);
        QCOMPARE(writes, 0);
        int dropped = 0;
        for (const auto& arguments : log)
            dropped += arguments.at(0).toString().startsWith(u"-- answer dropped") ? 1 : 0;
        QCOMPARE(dropped, 200 - int(Device::kMaxWaitingAnswers));
    }

    // -- on the lines --

    void servesUdpOnLoopbackOnly() {
        UdpEndpoint endpoint;
        QString error;
        QVERIFY2(endpoint.open(0, &error), qPrintable(error));
        QCOMPARE(endpoint.localAddress(), QHostAddress(QHostAddress::LocalHost));
        QVERIFY(endpoint.localPort() != 0);

        AnswerSettings settings;
        settings.splitBytes = 4;
        settings.gapMs = 0;
        Device device(settings, [&endpoint](QByteArrayView piece, const Destination& to) {
            return endpoint.send(piece, to);
        });
        endpoint.onDatagram([&device](const QByteArray& bytes, const Destination& from) {
            device.receiveDatagram(bytes, from);
        });

        // The tool's side: a socket on 127.0.0.1 that sends the tool's frame.
        QUdpSocket tool;
        QVERIFY(tool.bind(QHostAddress(QHostAddress::LocalHost), 0));
        float commandLength = 0;
        const QByteArray frame = toolFrame("02", "RD", &commandLength);
        QCOMPARE(
            tool.writeDatagram(frame, QHostAddress(QHostAddress::LocalHost), endpoint.localPort()),
            qint64(frame.size()));

        QList<QByteArray> pieces;
        const auto allPiecesIn = [&] {
            while (tool.hasPendingDatagrams()) {
                const QNetworkDatagram datagram = tool.receiveDatagram();
                if (datagram.senderPort() == endpoint.localPort())
                    pieces.append(datagram.data());
            }
            return pieces.size() == 3;
        };
        QTRY_VERIFY_WITH_TIMEOUT(allPiecesIn(), 5000);
        QCOMPARE(pieces.join(), hex("07 30 32 52 44 31 32 2E 35 43 35 03"));
        QCOMPARE(toolLines(pieces, commandLength), QList<QByteArray>{"12.5"});
    }

    void refusesNonLoopbackDestinations_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("loopback");
        QTest::newRow("127.0.0.1") << "127.0.0.1" << true;
        QTest::newRow("other loopback address") << "127.0.0.2" << false;
        QTest::newRow("the device's default address") << vmx::defaultIpAddress() << false;
        QTest::newRow("any") << "0.0.0.0" << false;
        QTest::newRow("IPv6 loopback") << "::1" << false;
        QTest::newRow("none") << "" << false;
    }
    void refusesNonLoopbackDestinations() {
        QFETCH(QString, address);
        QFETCH(bool, loopback);
        QCOMPARE(UdpEndpoint::isLoopback127(QHostAddress(address)), loopback);
    }

    void servesSerialThroughTheLink() {
        vmx::test::ScratchDir scratch;
        QVERIFY(scratch.isValid());
        {
            PtyLine line;
            QString error;
            QVERIFY2(line.open(QStringLiteral("COM2"), &error), qPrintable(error));
            const QFileInfo link(scratch.filePath(QStringLiteral("COM2")));
            QVERIFY(link.isSymLink());
            QCOMPARE(link.symLinkTarget(), line.slavePath());

            AnswerSettings settings;
            settings.splitBytes = 7;
            settings.gapMs = 5;
            Device device(settings, [&line](QByteArrayView piece, const Destination&) {
                return line.write(piece);
            });
            connect(&line, &PtyLine::received, &device,
                    [&device](const QByteArray& bytes) { device.receiveStream(bytes); });

            // Opened by the name in the current directory, as the tool opens COMn.
            const int fd = ::open("COM2", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            QVERIFY(fd >= 0);
            termios raw{};
            QCOMPARE(::tcgetattr(fd, &raw), 0);
            ::cfmakeraw(&raw);
            QCOMPARE(::tcsetattr(fd, TCSANOW, &raw), 0);

            float commandLength = 0;
            const QByteArray frame = toolFrame("99", "ZZZ", &commandLength);
            // One byte per write, as the tool writes a frame.
            for (const char byte : frame)
                QCOMPARE(::write(fd, &byte, 1), ssize_t(1));
            const QByteArray expected = buildReply("99", "ZZZ", "12.5");
            // The slave side read as the tool reads it, while the device answers.
            const QByteArray got = vmx::test::readRunningEvents(fd, expected.size());
            ::close(fd);
            QCOMPARE(got, expected);
            QCOMPARE(toolLines({got}, commandLength), QList<QByteArray>{"12.5"});
        }
        // Closing removes the link again.
        QVERIFY(!QFileInfo(scratch.filePath(QStringLiteral("COM2"))).exists());
        QVERIFY(!QFileInfo(scratch.filePath(QStringLiteral("COM2"))).isSymLink());
    }

    void leavesExistingFilesAlone() {
        vmx::test::ScratchDir scratch;
        QVERIFY(scratch.isValid());
        QFile file(scratch.filePath(QStringLiteral("COM1")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write("keep"), qint64(4));
        file.close();

        PtyLine line;
        QString error;
        QVERIFY(!line.open(QStringLiteral("COM1"), &error));
        QVERIFY(error.contains(QLatin1String("exists")));
        line.close();
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep"));
    }

    void replacesALinkLeftByAKilledRun() {
        vmx::test::ScratchDir scratch;
        QVERIFY(scratch.isValid());
        QVERIFY(QFile::link(QStringLiteral("/dev/pts/velmarixon-gone"), QStringLiteral("COM4")));

        PtyLine line;
        QString error;
        QVERIFY2(line.open(QStringLiteral("COM4"), &error), qPrintable(error));
        QCOMPARE(QFileInfo(scratch.filePath(QStringLiteral("COM4"))).symLinkTarget(),
                 line.slavePath());
        line.close();
        QVERIFY(!QFileInfo(scratch.filePath(QStringLiteral("COM4"))).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestDeviceSim)
#include "tst_device_sim.moc"
