#include "links/rfc2217_client.h"

#include <QTest>

using vmx::LineSettings;
using vmx::Rfc2217Client;
using State = Rfc2217Client::State;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// What ser2net 4.3 sends the moment a client connects to its telnet(rfc2217) accepter:
// WILL SGA, DO SGA, WILL ECHO, DONT ECHO, DO BINARY, WILL BINARY, DO COM-PORT-OPTION.
const QByteArray kSer2netOpening = hex("fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c");

// What we send first: WILL BINARY, DO BINARY, WILL COM-PORT-OPTION, and DONT SGA, WONT SGA,
// DONT ECHO, so that ser2net's offers of those need no answer.
const QByteArray kOpening = hex("fffb00 fffd00 fffb2c fffe03 fffc03 fffe01");

const LineSettings kE71at19200 = vmx::lineSettings(vmx::BaudRate::Baud19200, vmx::LineFormat::E71);

// The server's answer to one SET-* request: the request's number + 100.
QByteArray answer(char code, const QByteArray& value) {
    return hex("fffa2c") + QByteArray(1, code) + value + hex("fff0");
}

QByteArray answers(const QByteArray& baud, char size, char parity, char stop) {
    return answer(101, baud) + answer(102, QByteArray(1, size)) +
           answer(103, QByteArray(1, parity)) + answer(104, QByteArray(1, stop));
}

struct Outcome {
    QByteArray data;
    QByteArray reply;
    State state;
    QString failure;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

Outcome run(const LineSettings& line, const QList<QByteArray>& pieces) {
    Rfc2217Client client(line);
    client.opening();
    Outcome outcome;
    for (const QByteArray& piece : pieces)
        client.feed(piece, outcome.data, outcome.reply);
    outcome.state = client.state();
    outcome.failure = client.failure();
    return outcome;
}

// A whole session as ser2net plays it, with everything a server may mix in: data before and
// after Ready, doubled 0xFF, a modem state notification, NOP and GA, and options not asked for.
const QByteArray kSession = kSer2netOpening + QByteArray("ab") + hex("ffff") +
                            hex("fffa2c6b00fff0") + answers(hex("00004b00"), 7, 3, 1) +
                            hex("fff1 fff9 fffb18 fffd1f") +
                            QByteArray("\x07"
                                       "02RD") +
                            hex("ffff ff ff 0d00 03");

} // namespace

class TestRfc2217Client : public QObject {
    Q_OBJECT
private slots:
    void opening_offers_binary_and_com_port_and_refuses_sga_and_echo() {
        Rfc2217Client client(kE71at19200);
        // The SET-* wait for the server's DO.
        QCOMPARE(client.opening(), kOpening);
        QCOMPARE(client.state(), State::Negotiating);
    }

    void negotiates_to_ready_data() {
        QTest::addColumn<vmx::BaudRate>("baud");
        QTest::addColumn<vmx::LineFormat>("format");
        QTest::addColumn<QByteArray>("baudBytes");
        QTest::addColumn<char>("dataSize");
        QTest::addColumn<char>("parity");

        const struct {
            vmx::BaudRate baud;
            const char* name;
            const char* bytes;
        } bauds[] = {{vmx::BaudRate::Baud1200, "1200", "000004b0"},
                     {vmx::BaudRate::Baud2400, "2400", "00000960"},
                     {vmx::BaudRate::Baud9600, "9600", "00002580"},
                     {vmx::BaudRate::Baud19200, "19200", "00004b00"}};
        for (const auto& b : bauds) {
            QTest::addRow("%s E71", b.name)
                << b.baud << vmx::LineFormat::E71 << hex(b.bytes) << char(7) << char(3);
            QTest::addRow("%s N81", b.name)
                << b.baud << vmx::LineFormat::N81 << hex(b.bytes) << char(8) << char(1);
        }
    }

    void negotiates_to_ready() {
        QFETCH(vmx::BaudRate, baud);
        QFETCH(vmx::LineFormat, format);
        QFETCH(QByteArray, baudBytes);
        QFETCH(char, dataSize);
        QFETCH(char, parity);

        Rfc2217Client client(vmx::lineSettings(baud, format));
        client.opening();
        QByteArray data;
        QByteArray reply;
        client.feed(kSer2netOpening, data, reply);
        // Nothing to answer to ser2net's offers (each was refused or asked for in the opening):
        // just SET-BAUDRATE (4 bytes, big-endian), SET-DATASIZE, SET-PARITY and SET-STOPSIZE
        // (1: one stop bit), in one piece.
        QCOMPARE(reply.toHex(' '),
                 (hex("fffa2c01") + baudBytes + hex("fff0 fffa2c02") + QByteArray(1, dataSize) +
                  hex("fff0 fffa2c03") + QByteArray(1, parity) + hex("fff0 fffa2c0401fff0"))
                     .toHex(' '));
        QCOMPARE(client.state(), State::Negotiating);

        reply.clear();
        // Three of four answers are not enough.
        const QByteArray all = answers(baudBytes, dataSize, parity, 1);
        const QByteArray lastAnswer = answer(104, QByteArray(1, 1));
        client.feed(all.chopped(lastAnswer.size()), data, reply);
        QCOMPARE(client.state(), State::Negotiating);
        client.feed(lastAnswer, data, reply);
        QCOMPARE(client.state(), State::Ready);
        QCOMPARE(client.failure(), QString());
        QCOMPARE(reply, QByteArray());
        QCOMPARE(data, QByteArray());
    }

    void settings_wait_for_the_servers_agreement() {
        Rfc2217Client client(kE71at19200);
        client.opening();
        QByteArray data;
        QByteArray reply;
        // Answers that nobody asked for yet do not make the link ready.
        client.feed(answers(hex("00004b00"), 7, 3, 1), data, reply);
        QCOMPARE(client.state(), State::Negotiating);
        QCOMPARE(reply, QByteArray());
        client.feed(hex("fffd2c"), data, reply);
        QVERIFY(reply.startsWith(hex("fffa2c0100004b00fff0")));
        client.feed(answers(hex("00004b00"), 7, 3, 1), data, reply);
        QCOMPARE(client.state(), State::Ready);
    }

    void server_not_offering_com_port_first() {
        // A server that waits for our WILL and answers it with DO: the same requests follow.
        Rfc2217Client client(kE71at19200);
        client.opening();
        QByteArray data;
        QByteArray reply;
        client.feed(hex("fffd2c"), data, reply);
        QCOMPARE(reply.count(hex("fffa2c")), 4);
        // Offering it again later changes nothing and sends nothing.
        reply.clear();
        client.feed(hex("fffd2c fffd00 fffb00"), data, reply);
        QCOMPARE(reply, QByteArray());
    }

    void server_refuses_or_changes_data() {
        QTest::addColumn<QByteArray>("fromServer");
        QTest::addColumn<QString>("failure");

        QTest::newRow("DONT COM-PORT-OPTION")
            << hex("fffe2c") << QStringLiteral("the server refused COM-PORT-OPTION");
        QTest::newRow("WONT COM-PORT-OPTION")
            << hex("fffc2c") << QStringLiteral("the server refused COM-PORT-OPTION");
        QTest::newRow("other baud rate")
            << hex("fffd2c") + answers(hex("00002580"), 7, 3, 1)
            << QStringLiteral("the server set the baud rate to 9600, not 19200");
        QTest::newRow("other data size")
            << hex("fffd2c") + answers(hex("00004b00"), 8, 3, 1)
            << QStringLiteral("the server set the data size to 8, not 7");
        QTest::newRow("other parity")
            << hex("fffd2c") + answers(hex("00004b00"), 7, 1, 1)
            << QStringLiteral("the server set the parity to none, not even");
        QTest::newRow("other stop bits")
            << hex("fffd2c") + answers(hex("00004b00"), 7, 3, 2)
            << QStringLiteral("the server set the stop bits to 2, not 1");
        QTest::newRow("baud rate answer too short")
            << hex("fffd2c") + answer(101, hex("4b00"))
            << QStringLiteral("malformed answer to SET-BAUDRATE: 2 value bytes, not 4");
        QTest::newRow("parity answer without a value")
            << hex("fffd2c") + answer(103, QByteArray())
            << QStringLiteral("malformed answer to SET-PARITY: 0 value bytes, not 1");
    }

    void server_refuses_or_changes() {
        QFETCH(QByteArray, fromServer);
        QFETCH(QString, failure);
        const Outcome outcome = run(kE71at19200, {fromServer});
        QCOMPARE(outcome.state, State::Failed);
        QCOMPARE(outcome.failure, failure);
    }

    void refusal_after_ready_keeps_the_link() {
        // Once the line is set, a server that switches the option off later has nothing left
        // to refuse: the data path stays open and it is told WONT as RFC 854 asks.
        const Outcome outcome =
            run(kE71at19200, {hex("fffd2c") + answers(hex("00004b00"), 7, 3, 1) + hex("fffe2c")});
        QCOMPARE(outcome.state, State::Ready);
        QVERIFY(outcome.reply.endsWith(hex("fffc2c")));
    }

    void escapes_0xff_both_ways() {
        QCOMPARE(Rfc2217Client::escaped(hex("07 3032 ff 41 ffff 03")),
                 hex("07 3032 ffff 41 ffffffff 03"));
        QCOMPARE(Rfc2217Client::escaped(QByteArray()), QByteArray());
        QCOMPARE(Rfc2217Client::escaped(hex("0d 00 0d0a")), hex("0d 00 0d0a"));

        const Outcome outcome = run(kE71at19200, {hex("41 ffff 42 ffffffff 0d00 0d 43")});
        QCOMPARE(outcome.data, hex("41 ff 42 ffff 0d00 0d 43"));
        QCOMPARE(outcome.state, State::Negotiating);
    }

    void every_value_byte_is_escaped_in_requests() {
        // A baud rate whose bytes include 0xFF: each is doubled inside the subnegotiation.
        LineSettings line = kE71at19200;
        line.baudRate = 0x00ff01ff;
        Rfc2217Client client(line);
        client.opening();
        QByteArray data;
        QByteArray reply;
        client.feed(hex("fffd2c"), data, reply);
        QVERIFY(reply.startsWith(hex("fffa2c01 00ffff01ffff fff0")));
        // And the server's answer, escaped the same way, confirms it.
        client.feed(answers(hex("00ffff01ffff"), 7, 3, 1), data, reply);
        QCOMPARE(client.state(), State::Ready);
    }

    void refuses_options_not_asked_for_once() {
        // A server that asks again after every refusal gets one answer per option, no more.
        QByteArray flood;
        for (int i = 0; i < 100; ++i)
            flood += hex("fffb05 fffd18 fffc05 fffe18");
        const Outcome outcome = run(kE71at19200, {flood});
        QCOMPARE(outcome.reply, hex("fffe05 fffc18"));
        QCOMPARE(outcome.state, State::Negotiating);

        // Every option both ways: bounded by one answer per option and side.
        QByteArray all;
        for (int round = 0; round < 3; ++round)
            for (int option = 0; option < 256; ++option)
                for (const char verb : {char(0xfb), char(0xfc), char(0xfd), char(0xfe)})
                    all += QByteArray(1, char(0xff)) + verb + char(option);
        const Outcome every = run(kE71at19200, {all});
        QVERIFY2(every.reply.size() <= 2 * 256 * 3 + 4 * 16,
                 QByteArray::number(every.reply.size()));
    }

    void switches_binary_off_when_asked() {
        // RFC 856: the server may leave binary mode; we agree once and say so.
        const Outcome outcome = run(kE71at19200, {hex("fffd00 fffb00 fffe00 fffc00 fffe00")});
        QCOMPARE(outcome.reply, hex("fffc00 fffe00"));
    }

    void ignores_commands_without_meaning_for_the_line() {
        // NOP, GA, AYT, a stray SE, and subnegotiations of other options.
        const Outcome outcome =
            run(kE71at19200, {hex("61 fff1 62 fff9 63 fff6 64 fff0 65 fffa18 01 02 fff0 66")});
        QCOMPARE(outcome.data, QByteArray("abcdef"));
        QCOMPARE(outcome.state, State::Negotiating);
    }

    void malformed_sequences_fail_data() {
        QTest::addColumn<QByteArray>("fromServer");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("failure");

        QTest::newRow("IAC followed by a letter")
            << hex("41 ff41 42") << hex("41")
            << QStringLiteral("malformed Telnet sequence: IAC followed by 0x41");
        QTest::newRow("IAC followed by NUL")
            << hex("ff00") << QByteArray()
            << QStringLiteral("malformed Telnet sequence: IAC followed by 0x00");
        QTest::newRow("IAC and a command inside a subnegotiation")
            << hex("fffa2c65 00 fffb00") << QByteArray()
            << QStringLiteral("malformed Telnet subnegotiation: IAC followed by 0xfb inside it");
        QByteArray endless = hex("fffa2c") + QByteArray(1 << 20, 'x');
        QTest::newRow("subnegotiation without end")
            << endless << QByteArray()
            << QStringLiteral("malformed Telnet subnegotiation: no end after 4096 bytes");
        QByteArray endlessIac = hex("fffa18");
        for (int i = 0; i < 5000; ++i)
            endlessIac += hex("ffff");
        QTest::newRow("subnegotiation of doubled 0xFF without end")
            << endlessIac << QByteArray()
            << QStringLiteral("malformed Telnet subnegotiation: no end after 4096 bytes");
    }

    void malformed_sequences_fail() {
        QFETCH(QByteArray, fromServer);
        QFETCH(QByteArray, data);
        QFETCH(QString, failure);
        Rfc2217Client client(kE71at19200);
        client.opening();
        Outcome outcome;
        client.feed(fromServer, outcome.data, outcome.reply);
        QCOMPARE(client.state(), State::Failed);
        QCOMPARE(client.failure(), failure);
        QCOMPARE(outcome.data, data);
        // Nothing after the failure is taken as data or answered.
        client.feed(hex("41 fffb05 fffd2c"), outcome.data, outcome.reply);
        QCOMPARE(outcome.data, data);
        QCOMPARE(outcome.reply, QByteArray());
    }

    void long_subnegotiation_within_the_limit() {
        // A signature text of 4000 bytes is long but ends: no failure, nothing in the data.
        const Outcome outcome =
            run(kE71at19200, {hex("fffa2c6e") + QByteArray(4000, 's') + hex("fff0 7a")});
        QCOMPARE(outcome.state, State::Negotiating);
        QCOMPARE(outcome.data, QByteArray("z"));
    }

    void a_whole_session() {
        const Outcome outcome = run(kE71at19200, {kSession});
        QCOMPARE(outcome.state, State::Ready);
        // Data before Ready is handed out too, in order.
        QCOMPARE(outcome.data, QByteArray("ab") + hex("ff 07303252 44 ff ff 0d00 03"));
        // The SET-* requests, then refusals of the later TERMINAL-TYPE and NAWS offers only.
        QCOMPARE(outcome.reply.count(hex("fffa2c")), 4);
        QVERIFY(outcome.reply.startsWith(hex("fffa2c01")));
        QVERIFY(outcome.reply.endsWith(hex("fff0 fffe18 fffc1f")));
    }

    void cut_anywhere_gives_the_same() {
        const Outcome whole = run(kE71at19200, {kSession});
        QList<QByteArray> bytes;
        for (const char c : kSession)
            bytes.append(QByteArray(1, c));
        QVERIFY(run(kE71at19200, bytes) == whole);
        for (qsizetype at = 0; at <= kSession.size(); ++at) {
            const Outcome cut = run(kE71at19200, {kSession.left(at), kSession.mid(at)});
            if (!(cut == whole))
                QFAIL(qPrintable(QStringLiteral("differs when cut at %1").arg(at)));
        }
    }

    void failures_cut_anywhere_give_the_same() {
        const QByteArray stream =
            kSer2netOpening + hex("41 ffff") + answers(hex("00002580"), 7, 3, 1) + hex("42");
        const Outcome whole = run(kE71at19200, {stream});
        QCOMPARE(whole.failure, QStringLiteral("the server set the baud rate to 9600, not 19200"));
        QList<QByteArray> bytes;
        for (const char c : stream)
            bytes.append(QByteArray(1, c));
        QVERIFY(run(kE71at19200, bytes) == whole);
    }

    void a_flood_is_handed_out_not_kept() {
        // 8 MiB of data with doubled 0xFF: every byte comes out at once, the client keeps none.
        Rfc2217Client client(kE71at19200);
        client.opening();
        const QByteArray chunk = QByteArray(4096, 'd') + hex("ffff");
        qsizetype total = 0;
        for (int i = 0; i < 2048; ++i) {
            QByteArray data;
            QByteArray reply;
            client.feed(chunk, data, reply);
            QCOMPARE(data.size(), 4097);
            QCOMPARE(reply.size(), 0);
            total += data.size();
        }
        QCOMPARE(total, 2048 * 4097);
        QCOMPARE(client.state(), State::Negotiating);
    }
};

QTEST_APPLESS_MAIN(TestRfc2217Client)
#include "tst_rfc2217_client.moc"
