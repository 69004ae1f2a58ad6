#include "protocol/reply_assembler.h"

#include <QTest>

#include <cmath>
#include <limits>

using vmx::ReplyAssembler;

using Chunks = QList<QByteArray>;

namespace {

// A reply in the frame's envelope: start byte, address "02", the echoed command, the payload,
// two check characters and ETX.
QByteArray reply(const QByteArray& command, const QByteArray& payload) {
    return QByteArray("\x07"
                      "02") +
           command + payload + QByteArray("xy\x03");
}

} // namespace

class TestReplyAssembler : public QObject {
    Q_OBJECT
private slots:
    void collects_data() {
        QTest::addColumn<Chunks>("chunks");
        QTest::addColumn<float>("commandLength");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<QByteArray>("remaining");

        const QByteArray rd = reply("RD", "12.5");
        QCOMPARE(rd.size(), 12);

        QTest::newRow("RD 12.5 in one piece")
            << Chunks{rd} << 2.f << QList<QByteArray>{"12.5"} << QByteArray();
        QTest::newRow("RD 12.5 in pieces, completed by the last")
            << Chunks{"\x07"
                      "02",
                      "RD1", "2.5", "xy\x03"}
            << 2.f << QList<QByteArray>{"12.5"} << QByteArray();
        Chunks single;
        for (const char c : rd)
            single.append(QByteArray(1, c));
        QTest::newRow("RD 12.5 one byte at a time")
            << single << 2.f << QList<QByteArray>{"12.5"} << QByteArray();
        QTest::newRow("exactly n + 6 characters")
            << Chunks{reply("RD", "")} << 2.f << QList<QByteArray>{""} << QByteArray();
        QTest::newRow("one-character command")
            << Chunks{reply("X", "OK")} << 1.f << QList<QByteArray>{"OK"} << QByteArray();
        QTest::newRow("20-character command, cut after all 20")
            << Chunks{reply("ABCDEFGHIJKLMNOPQRST", "42")} << 20.f << QList<QByteArray>{"42"}
            << QByteArray();
        QTest::newRow("ACK") << Chunks{"\x06"} << 2.f << QList<QByteArray>{"ACK"} << QByteArray();
        QTest::newRow("NAK") << Chunks{"\x15"} << 2.f << QList<QByteArray>{"NAK"} << QByteArray();
        QTest::newRow("stray characters, then ACK")
            << Chunks{"ab", "c\x06"} << 2.f << QList<QByteArray>{"ACK"} << QByteArray();
        QTest::newRow("stray characters and NAK in one piece")
            << Chunks{"\x07zz\x15"} << 2.f << QList<QByteArray>{"NAK"} << QByteArray();
        QTest::newRow("terminator not last completes nothing")
            << Chunks{rd + "zz"} << 2.f << QList<QByteArray>{} << rd + "zz";
        QTest::newRow("terminator not last, later ACK takes everything")
            << Chunks{rd + "zz", "\x06"} << 2.f << QList<QByteArray>{"ACK"} << QByteArray();
        QTest::newRow("nothing but payload characters")
            << Chunks{"12", "34"} << 2.f << QList<QByteArray>{} << QByteArray("1234");
        // A payload byte 3 that happens to end a piece ends the reply there; the rest is a new
        // collection, which here is too short for the envelope.
        QTest::newRow("ETX inside a reply ends it") << Chunks{"\x07"
                                                              "02RD1\x03",
                                                              "5xy\x03"}
                                                    << 2.f
                                                    << QList<QByteArray>{"\x07"
                                                                         "02RD1",
                                                                         "5xy"}
                                                    << QByteArray();
        QTest::newRow("ACK inside a reply ends it")
            << Chunks{"\x07"
                      "02RD\x06",
                      "12.5xy"}
            << 2.f << QList<QByteArray>{"ACK"} << QByteArray("12.5xy");
        QTest::newRow("NAK inside a reply, then a full reply")
            << Chunks{"\x07"
                      "02\x15",
                      rd}
            << 2.f << QList<QByteArray>{"NAK", "12.5"} << QByteArray();
        QTest::newRow("ETX alone")
            << Chunks{"\x03"} << 2.f << QList<QByteArray>{""} << QByteArray();
        QTest::newRow("ETX reply shorter than the envelope")
            << Chunks{"ab\x03"} << 2.f << QList<QByteArray>{"ab"} << QByteArray();
        QTest::newRow("one short of the envelope") << Chunks{"\x07"
                                                             "02RDx\x03"}
                                                   << 2.f
                                                   << QList<QByteArray>{"\x07"
                                                                        "02RDx"}
                                                   << QByteArray();
        QTest::newRow("bytes 0 and 128 and above pass through")
            << Chunks{reply("RD", QByteArray("\x00\x80\xFF\xE9", 4))} << 2.f
            << QList<QByteArray>{QByteArray("\x00\x80\xFF\xE9", 4)} << QByteArray();
        QTest::newRow("NUL left in the collection")
            << Chunks{QByteArray("a\0b\0", 4)} << 2.f << QList<QByteArray>{}
            << QByteArray("a\0b\0", 4);
        QTest::newRow("100000-character command")
            << Chunks{reply(QByteArray(100000, 'C'), "7.25")} << 100000.f
            << QList<QByteArray>{"7.25"} << QByteArray();
        QTest::newRow("command length far beyond the reply")
            << Chunks{rd} << 1.0e7f << QList<QByteArray>{rd.chopped(1)} << QByteArray();
    }

    void collects() {
        QFETCH(Chunks, chunks);
        QFETCH(float, commandLength);
        QFETCH(QList<QByteArray>, lines);
        QFETCH(QByteArray, remaining);

        ReplyAssembler assembler;
        QList<QByteArray> got;
        for (const QByteArray& chunk : chunks) {
            const std::optional<QByteArray> line = assembler.receive(chunk, commandLength);
            if (line) {
                got.append(*line);
                QVERIFY(assembler.rxBuffer().isEmpty());
            }
        }
        QCOMPARE(got, lines);
        QCOMPARE(assembler.rxBuffer(), remaining);
    }

    void workingValuesAfterEachOutcome() {
        ReplyAssembler assembler;
        QVERIFY(!assembler.receive("\x07"
                                   "02RD1",
                                   2.f));
        QCOMPARE(assembler.lastChar(), '1');
        QCOMPARE(assembler.replyLength(), 6.f);

        QCOMPARE(assembler.receive("2.5xy\x03", 2.f), QByteArray("12.5"));
        QCOMPARE(assembler.lastChar(), vmx::kEtx);
        QCOMPARE(assembler.replyLength(), 4.f); // the payload length, no longer the collection's
        QCOMPARE(assembler.replyText(), QByteArray("12.5"));

        // ACK and NAK leave the last payload as it was.
        QCOMPARE(assembler.receive("z\x06", 2.f), QByteArray("ACK"));
        QCOMPARE(assembler.lastChar(), vmx::kAck);
        QCOMPARE(assembler.replyLength(), 2.f);
        QCOMPARE(assembler.replyText(), QByteArray("12.5"));

        QCOMPARE(assembler.receive("\x15", 2.f), QByteArray("NAK"));
        QCOMPARE(assembler.lastChar(), vmx::kNak);
        QCOMPARE(assembler.replyLength(), 1.f);

        // A reply shorter than the envelope keeps its negative payload length.
        QCOMPARE(assembler.receive("ab\x03", 2.f), QByteArray("ab"));
        QCOMPARE(assembler.replyLength(), -5.f);
        QCOMPARE(assembler.replyText(), QByteArray("ab"));
    }

    void emptyChunkChangesNothing() {
        ReplyAssembler fresh;
        QVERIFY(!fresh.receive(QByteArrayView(), 2.f));
        QVERIFY(fresh.rxBuffer().isEmpty());
        QCOMPARE(fresh.lastChar(), '\0');
        QCOMPARE(fresh.replyLength(), 0.f);

        ReplyAssembler assembler;
        QVERIFY(!assembler.receive("ab", 2.f));
        QVERIFY(!assembler.receive(QByteArray(), 2.f));
        QCOMPARE(assembler.rxBuffer(), QByteArray("ab"));
        QCOMPARE(assembler.lastChar(), 'b');
        QCOMPARE(assembler.replyLength(), 2.f);

        // After a completed answer the last character stays a terminator, yet an empty chunk
        // must not complete anything again.
        QCOMPARE(assembler.receive("\x06", 2.f), QByteArray("ACK"));
        QVERIFY(!assembler.receive(QByteArrayView(""), 2.f));
        QVERIFY(assembler.rxBuffer().isEmpty());
    }

    void clearStartsAFreshCollection() {
        ReplyAssembler assembler;
        QVERIFY(!assembler.receive("leftover", 2.f));
        assembler.clear();
        QVERIFY(assembler.rxBuffer().isEmpty());
        QCOMPARE(assembler.receive(reply("RD", "12.5"), 2.f), QByteArray("12.5"));
    }

    void collectionKeepsOnlyNewestBytes() {
        constexpr qsizetype cap = ReplyAssembler::kMaxBufferBytes;
        ReplyAssembler assembler;
        QVERIFY(!assembler.receive(QByteArray(cap - 1, 'a'), 2.f));
        QCOMPARE(assembler.rxBuffer().size(), cap - 1);
        QVERIFY(!assembler.receive("bcd", 2.f));
        QCOMPARE(assembler.rxBuffer().size(), cap);
        QVERIFY(assembler.rxBuffer().startsWith("aa"));
        QVERIFY(assembler.rxBuffer().endsWith("abcd"));
        QCOMPARE(assembler.replyLength(), float(cap));

        // One chunk larger than the cap on its own.
        QByteArray huge(cap + 10, 'q');
        huge.replace(0, 10, "0123456789");
        huge.replace(10, 4, "keep");
        QVERIFY(!assembler.receive(huge, 2.f));
        QCOMPARE(assembler.rxBuffer(), huge.right(cap));
        QVERIFY(assembler.rxBuffer().startsWith("keep"));

        // A reply that arrives after the overflow still completes; the payload is cut from the
        // kept bytes.
        const QByteArray payload = assembler.receive(reply("RD", "12.5"), 2.f).value_or("none");
        QCOMPARE(payload.size(), cap - 8);
        QVERIFY(payload.endsWith("02RD12.5"));
        QVERIFY(assembler.rxBuffer().isEmpty());

        QVERIFY(!assembler.receive(QByteArray(cap + 5, 'z'), 2.f));
        QCOMPARE(assembler.receive("\x06", 2.f), QByteArray("ACK"));
        QVERIFY(assembler.rxBuffer().isEmpty());
    }

    // Whose answer it is, read from the leading characters a full reply copies from its frame.
    void readsWhoseAnswerItIs_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("address"); // -1: none
        QTest::addColumn<bool>("answersFrame");

        // The frame to address 2, command RD: 07 "02" "RD" "FF" 03.
        const QByteArray rd = reply("RD", "12.5");
        QTest::newRow("its own reply") << rd << 2 << true;
        QTest::newRow("another address") << QByteArray("\x07"
                                                       "17RD12.5xy\x03")
                                         << 17 << false;
        QTest::newRow("another command") << reply("WR", "12.5") << 2 << false;
        QTest::newRow("the command cut short") << reply("R", "") << 2 << false;
        QTest::newRow("address beyond 99") << QByteArray("\x07"
                                                         "<3RDxy\x03")
                                           << 123 << false;
        QTest::newRow("ACK names none") << QByteArray("\x06") << -1 << true;
        QTest::newRow("stray bytes before the reply") << "z" + rd << -1 << false;
        QTest::newRow("units beyond the builder's") << QByteArray("\x07"
                                                                  "0;RDxy\x03")
                                                    << -1 << false;
    }
    void readsWhoseAnswerItIs() {
        QFETCH(QByteArray, answer);
        QFETCH(int, address);
        QFETCH(bool, answersFrame);
        const QByteArray frame("\x07"
                               "02RDFF\x03");
        QCOMPARE(vmx::answerAddress(answer).value_or(-1), address);
        QCOMPARE(vmx::mayAnswer(answer, frame), answersFrame);
    }

    void unusableCommandLengthsStayInside_data() {
        QTest::addColumn<float>("commandLength");
        QTest::addColumn<QByteArray>("line");

        // Frame building never produces these, but the cut must stay inside the collection
        // whatever it is given; without a usable payload the whole collection before the ETX
        // is shown.
        const QByteArray beforeEtx("\x07"
                                   "02RD12.5xy");
        QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN() << beforeEtx;
        QTest::newRow("infinity") << std::numeric_limits<float>::infinity() << beforeEtx;
        QTest::newRow("largest float") << std::numeric_limits<float>::max() << beforeEtx;
        QTest::newRow("beyond exact float counts") << 16777217.f << beforeEtx;
        QTest::newRow("negative") << -5.f << beforeEtx;
        QTest::newRow("minus infinity") << -std::numeric_limits<float>::infinity() << beforeEtx;
        QTest::newRow("fractional") << 2.5f << QByteArray("2.5");
    }

    void unusableCommandLengthsStayInside() {
        QFETCH(float, commandLength);
        QFETCH(QByteArray, line);
        ReplyAssembler assembler;
        QCOMPARE(assembler.receive(reply("RD", "12.5"), commandLength), line);
        QVERIFY(assembler.rxBuffer().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestReplyAssembler)
#include "tst_reply_assembler.moc"
