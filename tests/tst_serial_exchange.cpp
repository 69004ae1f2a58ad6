// The exchange with a device on a serial line, through the real window: SEND, the answer from a
// pseudo-terminal that plays the device, the message window and the reply watchdog.
#include "support/frame_bytes.h"
#include "support/pty_pair.h"
#include "support/window_fixture.h"

#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <chrono>

#include <sys/resource.h>

using namespace std::chrono_literals;
using vmx::MainForm;
using vmx::MainFormWaysOut;
using vmx::ReplyWatchdog;
using vmx::SerialLink;
using vmx::test::kDefaultFrame;
using vmx::test::PtyPair;
using vmx::test::ScratchDir;
using vmx::test::WaysOutRecord;

namespace {

const QString kCommunicationFail = QStringLiteral(" Communication fail with device");
const QString kComPortError = QStringLiteral("COM Port error");

// A first start in a scratch directory whose COM1 leads to a pseudo-terminal; the test plays
// the device on its master side. Every expiry of the watchdog is counted.
class SerialWindow : public vmx::test::WindowFixture {
public:
    explicit SerialWindow(std::chrono::milliseconds replyTimeout = vmx::kReplyTimeout)
        : WindowFixture(replyTimeout) {}

    PtyPair device;
    QSignalSpy expiries{&vmx::test::watchdog(form()), &ReplyWatchdog::expired};

    bool start() {
        if (!device.isValid() || !device.linkAs(1) || !WindowFixture::start())
            return false;
        // Address 02 and command RD: the frame 07 30 32 52 44 46 46 03.
        box("Text1")->setText(QStringLiteral("02"));
        return true;
    }

    // SEND and the frame as the device reads it.
    QByteArray sendAndRead(int frameLength = int(kDefaultFrame.size())) {
        click("Command1");
        return device.readMaster(frameLength);
    }

    // A SEND whose frame the device reads and answers; true once the message window shows `shown`.
    bool answered(const QByteArray& answer, const QString& shown) {
        return sendAndRead() == kDefaultFrame && device.writeMaster(answer) &&
               QTest::qWaitFor([&] { return messageText() == shown; });
    }

    // SEND with this address text on this port button.
    void sendWith(const QString& address, const QString& port) {
        box("Text1")->setText(address);
        click(port.toLatin1().constData());
        click("Command1");
    }

    // The caret of the message window and the end of its text.
    int caret() const { return text2()->textCursor().position(); }
    int textEnd() const { return text2()->document()->characterCount() - 1; }
    void caretToStart() const {
        QTextCursor cursor = text2()->textCursor();
        cursor.setPosition(0);
        text2()->setTextCursor(cursor);
    }

private:
    QPlainTextEdit* text2() const { return control<QPlainTextEdit>("Text2"); }
};

// The processor time this process uses while the event loop runs for one second, in ms.
double cpuMsOverOneSecond() {
    const auto cpuMs = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    };
    const double before = cpuMs();
    QEventLoop loop;
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
    return cpuMs() - before;
}

} // namespace

class TestSerialExchange : public QObject {
    Q_OBJECT
private slots:
    void answersBecomeLines_data() {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<QString>("line");
        QTest::newRow("ACK") << QList<QByteArray>{"\x06"} << "ACK";
        QTest::newRow("NAK") << QList<QByteArray>{"\x15"} << "NAK";
        // 07 '0' '2' 'R' 'D' '1' '2' '.' '5' x y 03: twelve characters, payload at offset 5.
        QTest::newRow("RD 12.5 at once") << QList<QByteArray>{"\x07"
                                                              "02RD12.5xy\x03"}
                                         << "12.5";
        QTest::newRow("RD 12.5 in pieces")
            << QList<QByteArray>{"\x07", "02RD", "12.5", "xy\x03"} << "12.5";
        QTest::newRow("empty payload") << QList<QByteArray>{"\x07"
                                                            "02RDxy\x03"}
                                       << "";
        QTest::newRow("stray characters before ACK") << QList<QByteArray>{"zz", "q\x06"} << "ACK";
        // A complete reply followed by more characters in the same piece completes nothing;
        // the ACK that comes later ends the whole collection.
        QTest::newRow("terminator not last") << QList<QByteArray>{"\x07"
                                                                  "02RD12.5xy\x03"
                                                                  "ab",
                                                                  "\x06"}
                                             << "ACK";
    }

    void answersBecomeLines() {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(QString, line);

        SerialWindow w;
        QVERIFY(w.start());
        // An earlier answer already listed: its text stays as it is.
        QVERIFY(w.answered("\x15", QStringLiteral("NAK\r\n")));

        QCOMPARE(w.sendAndRead(), kDefaultFrame);
        QVERIFY(vmx::test::watchdog(w.form()).isRunning());
        QByteArray collected;
        for (qsizetype i = 0; i + 1 < pieces.size(); ++i) {
            QVERIFY(w.device.writeMaster(pieces[i]));
            collected += pieces[i];
            QTRY_COMPARE(w.rxBuffer(), collected);
            QCOMPARE(w.messageText(), QStringLiteral("NAK\r\n"));
            QVERIFY(vmx::test::watchdog(w.form()).isRunning());
        }
        QVERIFY(w.device.writeMaster(pieces.back()));
        QTRY_COMPARE(w.messageText(), QStringLiteral("NAK\r\n") + line + QStringLiteral("\r\n"));
        QCOMPARE(w.rxBuffer(), QByteArray());
        QVERIFY(!vmx::test::watchdog(w.form()).isRunning());
        QVERIFY(w.messages().isEmpty());
        QCOMPARE(w.device.drainMaster(), QByteArray());
    }

    void bytesFrom128AreShownAsLatin1() {
        SerialWindow w;
        QVERIFY(w.start());
        QByteArray payload;
        for (int v = 128; v < 256; ++v)
            payload.append(char(v));
        QCOMPARE(w.sendAndRead(), kDefaultFrame);
        QVERIFY(w.device.writeMaster("\x07"
                                     "02RD" +
                                     payload + "xy\x03"));
        QTRY_COMPARE(w.messageText(), QString::fromLatin1(payload) + QStringLiteral("\r\n"));
    }

    void controlCharactersInThePayloadAreKept() {
        SerialWindow w;
        QVERIFY(w.start());
        // Every byte below 128 but the three terminators, CR and LF alone and as a pair.
        QByteArray payload;
        for (int v = 0; v < 128; ++v) {
            if (v != 3 && v != 6 && v != 21)
                payload.append(char(v));
        }
        payload += "a\rb\nc\r\nd\r";
        QCOMPARE(w.sendAndRead(), kDefaultFrame);
        QVERIFY(w.device.writeMaster("\x07"
                                     "02RD" +
                                     payload + "xy\x03"));
        QTRY_COMPARE(w.messageText(), QString::fromLatin1(payload) + QStringLiteral("\r\n"));
        QVERIFY(w.device.writeMaster("\x06"));
        QTRY_COMPARE(w.messageText(), QString::fromLatin1(payload) + QStringLiteral("\r\nACK\r\n"));
    }

    void payloadIsCutWithTheFullCommandLength() {
        SerialWindow w;
        QVERIFY(w.start());
        // Twenty command characters: eighteen are sent, but the reply repeats all twenty.
        const QByteArray command = "ABCDEFGHIJKLMNOPQRST";
        w.box("xxx")->setText(QString::fromLatin1(command));
        const QByteArray frame = w.sendAndRead(24);
        QCOMPARE(frame.size(), 24);
        QCOMPARE(frame.mid(3, 18), command.first(18));
        QCOMPARE(w.form().exchange().state().commandLength, 20.0f);
        QVERIFY(w.device.writeMaster("\x07"
                                     "02" +
                                     command + "-7.25" + "xy\x03"));
        QTRY_COMPARE(w.messageText(), QStringLiteral("-7.25\r\n"));
    }

    void caretGoesToTheEndAfterEachSerialEvent() {
        SerialWindow w;
        QVERIFY(w.start());
        QVERIFY(w.answered("\x06", QStringLiteral("ACK\r\n")));
        QCOMPARE(w.sendAndRead(), kDefaultFrame);

        // An event that completes nothing still brings the caret to the end.
        w.caretToStart();
        QCOMPARE(w.caret(), 0);
        QVERIFY(w.device.writeMaster("\x07"
                                     "02"));
        QTRY_COMPARE(w.rxBuffer(), QByteArray("\x07"
                                              "02"));
        QTRY_COMPARE(w.caret(), w.textEnd());
        QVERIFY(w.caret() > 0);
        QCOMPARE(w.messageText(), QStringLiteral("ACK\r\n"));

        // And so does one that appends a line: the caret ends behind the new line.
        w.caretToStart();
        QVERIFY(w.device.writeMaster("RD12.5xy\x03"));
        QTRY_COMPARE(w.messageText(), QStringLiteral("ACK\r\n12.5\r\n"));
        QTRY_COMPARE(w.caret(), w.textEnd());
        QCOMPARE(w.textEnd(), QStringLiteral("ACK\n12.5\n").size());
    }

    void productionWatchdogPeriodIs4000ms() {
        QCOMPARE(MainFormWaysOut{}.replyTimeout, 4000ms);

        ScratchDir dir;
        QVERIFY(dir.isValid());
        PtyPair device;
        QVERIFY(device.isValid() && device.linkAs(1));
        WaysOutRecord record; // the program's period; only the message boxes are recorded
        MainForm form(vmx::test::recordingWaysOut(record, MainFormWaysOut{}.replyTimeout));
        QVERIFY(!vmx::test::watchdog(form).isRunning());

        form.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
        QCOMPARE(device.readMaster(int(kDefaultFrame.size())), kDefaultFrame);
        QVERIFY(vmx::test::watchdog(form).isRunning());
        QVERIFY(device.writeMaster("\x06"));
        QTRY_VERIFY(!vmx::test::watchdog(form).isRunning());
        QVERIFY(record.messages.isEmpty());
    }

    void silentDeviceGivesOneMessageAndChangesNothing() {
        constexpr auto period = 150ms;
        SerialWindow w(period);
        QVERIFY(w.start());
        QVERIFY(w.answered("\x06", QStringLiteral("ACK\r\n")));
        // Only the silence that follows counts, however long this first answer took.
        w.messages().clear();
        w.expiries.clear();

        QCOMPARE(w.sendAndRead(), kDefaultFrame);
        // A reply starts but does not end in time.
        QVERIFY(w.device.writeMaster("\x07"
                                     "02R"));
        QTRY_COMPARE(w.rxBuffer(), QByteArray("\x07"
                                              "02R"));
        QTRY_COMPARE(w.messages(), QStringList{kCommunicationFail});
        QCOMPARE(w.messages().front().size(), 31);
        const QString outmessage = w.box("outmessage")->text();
        QCOMPARE(outmessage, QStringLiteral("7 30 32 52 44 46 46 3"));
        QVERIFY(!w.expiries.wait(int(3 * period.count())));
        QCOMPARE(w.expiries.count(), 1);
        QCOMPARE(w.messages(), QStringList{kCommunicationFail});
        // The watchdog leaves the collection, the link, the window and the command alone.
        QCOMPARE(w.rxBuffer(), QByteArray("\x07"
                                          "02R"));
        QCOMPARE(w.messageText(), QStringLiteral("ACK\r\n"));
        QCOMPARE(w.box("outmessage")->text(), outmessage);
        QCOMPARE(w.form().exchange().state().commandLength, 2.0f);
        QVERIFY(vmx::test::serialPortOpen(w.form()));
        QVERIFY(!vmx::test::watchdog(w.form()).isRunning());

        // The rest of the reply still comes through and is shown.
        QVERIFY(w.device.writeMaster("D12.5xy\x03"));
        QTRY_COMPARE(w.messageText(), QStringLiteral("ACK\r\n12.5\r\n"));
        QCOMPARE(w.messages(), QStringList{kCommunicationFail});
        QCOMPARE(w.rxBuffer(), QByteArray());
    }

    void everyCompletedAnswerDisarms_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("line");
        QTest::newRow("ACK") << QByteArray("\x06") << "ACK";
        QTest::newRow("NAK") << QByteArray("\x15") << "NAK";
        QTest::newRow("ETX") << QByteArray("\x07"
                                           "02RD12.5xy\x03")
                             << "12.5";
    }

    void everyCompletedAnswerDisarms() {
        QFETCH(QByteArray, answer);
        QFETCH(QString, line);
        constexpr auto period = 600ms;
        SerialWindow w(period);
        QVERIFY(w.start());
        QCOMPARE(w.sendAndRead(), kDefaultFrame);
        QVERIFY(vmx::test::watchdog(w.form()).isRunning());
        QVERIFY(w.device.writeMaster(answer));
        QTRY_COMPARE(w.messageText(), line + QStringLiteral("\r\n"));
        QVERIFY(!vmx::test::watchdog(w.form()).isRunning());
        QVERIFY(!w.expiries.wait(int(period.count() * 3 / 2)));
        QVERIFY(w.messages().isEmpty());
    }

    // A SEND that fails before writing (an address that is no number, a port that cannot be
    // opened) shows "COM Port error" and leaves the watchdog as it was: not armed when it was
    // not, still armed for the SEND before when it was.
    void failedSendLeavesTheWatchdogAsItWas_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("armedBefore");
        for (const bool armed : {false, true}) {
            const char* before = armed ? ", armed before" : ", not armed before";
            QTest::addRow("address not a number%s", before) << "ab"
                                                            << "Option1" << armed;
            QTest::addRow("port that cannot be opened%s", before) << "02"
                                                                  << "Option2" << armed;
        }
    }

    void failedSendLeavesTheWatchdogAsItWas() {
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(bool, armedBefore);
        const auto period = armedBefore ? 1000ms : 150ms;
        SerialWindow w(period);
        QVERIFY(w.start());
        if (armedBefore) {
            QCOMPARE(w.sendAndRead(), kDefaultFrame);
            QVERIFY(vmx::test::watchdog(w.form()).isRunning());
        }

        w.sendWith(address, port);
        QCOMPARE(w.messages(), QStringList{kComPortError});
        QCOMPARE(w.device.drainMaster(), QByteArray());
        QCOMPARE(vmx::test::watchdog(w.form()).isRunning(), armedBefore);
        if (armedBefore) {
            QVERIFY(w.expiries.wait(int(4 * period.count())));
            QCOMPARE(w.messages(), (QStringList{kComPortError, kCommunicationFail}));
        } else {
            QVERIFY(!w.expiries.wait(int(3 * period.count())));
            QCOMPARE(w.messages(), QStringList{kComPortError});
        }
    }

    void deviceThatGoesAwayIsLetGoUntilTheNextSend_data() {
        QTest::addColumn<bool>("duringWrite");
        QTest::newRow("after an answer, with the watchdog armed") << false;
        QTest::newRow("while SEND writes the frame") << true;
    }

    void deviceThatGoesAwayIsLetGoUntilTheNextSend() {
        QFETCH(bool, duringWrite);
        constexpr auto period = 300ms;
        SerialWindow w(period);
        QVERIFY(w.start());
        QSignalSpy lost(&vmx::test::serialLink(w.form()), &SerialLink::lost);
        QVERIFY(w.answered("\x06", QStringLiteral("ACK\r\n")));

        QStringList expected;
        if (duringWrite) {
            // The echo is shown after the port has been opened and before the frame is written:
            // the device leaves then, and the write fails.
            QObject::connect(w.box("outmessage"), &QLineEdit::textChanged, &w.form(),
                             [&w] { w.device.closeMaster(); });
            w.box("Text1")->setText(QStringLiteral("03"));
            w.click("Command1");
            expected << kComPortError;
        } else {
            // An answer is awaited when the device leaves: the watchdog still reports it.
            QCOMPARE(w.sendAndRead(), kDefaultFrame);
            w.device.closeMaster();
            expected << kCommunicationFail;
        }
        QVERIFY(lost.wait(3000));
        QVERIFY(!vmx::test::serialPortOpen(w.form()));
        // The port is no longer watched: the process stays nearly idle (a port that keeps
        // reporting its hang-up takes most of a core).
        const double cpuMs = cpuMsOverOneSecond();
        QVERIFY2(cpuMs < 50, qPrintable(QStringLiteral("%1 ms CPU in one second").arg(cpuMs)));
        QCOMPARE(w.messages(), expected);
        QCOMPARE(lost.count(), 1);

        // SEND while the device is still missing fails as a port that cannot be opened.
        w.box("Text1")->setText(QStringLiteral("02"));
        w.click("Command1");
        QCOMPARE(w.messages(), expected << kComPortError);

        // The device is back at the same name: the next SEND works and gets its answer.
        PtyPair back;
        QVERIFY(back.isValid() && back.linkAs(1));
        w.click("Command1");
        QCOMPARE(back.readMaster(int(kDefaultFrame.size())), kDefaultFrame);
        QVERIFY(back.writeMaster("\x15"));
        QTRY_COMPARE(w.messageText(), QStringLiteral("ACK\r\nNAK\r\n"));
        QVERIFY(!vmx::test::watchdog(w.form()).isRunning());
        QCOMPARE(w.messages(), expected);
        QVERIFY(vmx::test::serialPortOpen(w.form()));
    }

    void watchdogNeverFiresBeforeTheFirstSend() {
        constexpr auto period = 100ms;
        SerialWindow w(period);
        QVERIFY(w.start());
        QVERIFY(!vmx::test::watchdog(w.form()).isRunning());
        QVERIFY(!w.expiries.wait(int(5 * period.count())));
        QVERIFY(w.messages().isEmpty());
    }
};

QTEST_MAIN(TestSerialExchange)
#include "tst_serial_exchange.moc"
