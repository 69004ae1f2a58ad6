// The commissioning log as the window and velmarixon-send feed it: from an exchange's signals,
// with a device on a pseudo-terminal.
#include "eventlog/event_log.h"
#include "eventlog/exchange_log.h"
#include "exchange/exchange.h"
#include "support/four_ports.h"
#include "support/frame_bytes.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using vmx::EventLog;
using vmx::Exchange;
using vmx::test::FourPorts;
using vmx::test::kDefaultFrame;

namespace {

vmx::ExchangeRequest request() {
    vmx::ExchangeRequest request;
    request.target = vmx::SerialTarget{
        1, {}, vmx::lineSettings(vmx::BaudRate::Baud19200, vmx::LineFormat::E71), false};
    request.addressText = QStringLiteral("02");
    request.commandText = QStringLiteral("RD");
    return request;
}

// The events of the log, without their times.
QStringList events(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            lines.append(QString::fromUtf8(line).section(u' ', 1));
    }
    return lines;
}

} // namespace

class TestEventLog : public QObject {
    Q_OBJECT
private slots:
    void recordsEveryEventOfTheExchange() {
        FourPorts ports;
        QVERIFY(ports.isValid());
        Exchange exchange(vmx::systemHostLookup, 200ms);
        QStringList warnings;
        EventLog log;
        QVERIFY(log.open(QStringLiteral("commissioning.log"),
                         [&warnings](const QString& text) { warnings.append(text); }));
        vmx::logExchange(exchange, log);
        QSignalSpy answered(&exchange, &Exchange::answered);
        QSignalSpy noAnswer(&exchange, &Exchange::noAnswer);

        QVERIFY(exchange.send(request()));
        QCOMPARE(ports.pty(1).readMaster(int(kDefaultFrame.size())), kDefaultFrame);
        QVERIFY(ports.pty(1).writeMaster("\x07"
                                         "02RD1\r\n5FF\x03"));
        QVERIFY(answered.wait(3000));
        QVERIFY(exchange.send(request()));
        QVERIFY(ports.pty(1).writeMaster("\x07"
                                         "02")); // and no more
        QVERIFY(noAnswer.wait(3000));
        QVERIFY(exchange.send(request()));
        QCOMPARE(events(QStringLiteral("commissioning.log")),
                 (QStringList{
                     "sent 07 30 32 52 44 46 46 03", "received 07 30 32 52 44 31 0D 0A 35 46 46 03",
                     QString::fromUtf8("reply 1\u240d\u240a5"), "sent 07 30 32 52 44 46 46 03",
                     "received 07 30 32", "no-answer Communication fail with device",
                     "dropped 07 30 32", "sent 07 30 32 52 44 46 46 03"}));
        QCOMPARE(warnings, QStringList{});
    }

    // A log that cannot be written is said once, and the exchanges go on.
    void aLogThatFailsIsOneWarning() {
        FourPorts ports;
        QVERIFY(ports.isValid());
        Exchange exchange(vmx::systemHostLookup, 200ms);
        QStringList warnings;
        EventLog log;
        QVERIFY(log.open(QStringLiteral("/dev/full"),
                         [&warnings](const QString& text) { warnings.append(text); }));
        vmx::logExchange(exchange, log);
        QSignalSpy answered(&exchange, &Exchange::answered);
        for (int i = 0; i < 2; ++i) {
            QVERIFY(exchange.send(request()));
            QVERIFY(ports.pty(1).writeMaster("\x06"));
            QVERIFY(answered.wait(3000));
        }
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().contains(u"/dev/full"), qPrintable(warnings.first()));

        EventLog unopened;
        QVERIFY(!unopened.open(QStringLiteral("no-such-folder/x.log"),
                               [&warnings](const QString& text) { warnings.append(text); }));
        QCOMPARE(warnings.size(), 2);
    }

    void theWindowTakesTheLogFromItsArguments() {
        QCOMPARE(vmx::logPathArgument({"velmarixon", "--log", "a.log"}), QStringLiteral("a.log"));
        QCOMPARE(vmx::logPathArgument({"velmarixon", "--log"}), QString());
        QCOMPARE(vmx::logPathArgument({"velmarixon"}), QString());
    }
};

QTEST_GUILESS_MAIN(TestEventLog)
#include "tst_event_log.moc"
