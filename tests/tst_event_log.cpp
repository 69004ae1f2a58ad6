// The commissioning log as the window and velmarixon-send feed it: from an exchange's signals,
// with a device on a pseudo-terminal.
#include "eventlog/event_log.h"
#include "eventlog/exchange_log.h"
#include "exchange/exchange.h"
#include "support/file_size_limit.h"
#include "support/four_ports.h"
#include "support/frame_bytes.h"
#include "support/scratch_dir.h"
#include "support/settings_files.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
        QVERIFY2(warnings.first().contains(u"/dev/full") &&
                     warnings.first().contains(u"No space left on device"),
                 qPrintable(warnings.first()));

        EventLog unopened;
        QVERIFY(!unopened.open(QStringLiteral("no-such-folder/x.log"),
                               [&warnings](const QString& text) { warnings.append(text); }));
        QCOMPARE(warnings.size(), 2);
    }

    // A disk that fills up in the middle of a line: the line is taken back, the reason named.
    void aLineIsWrittenWholeOrNotAtAll() {
        vmx::test::ScratchDir dir;
        QStringList warnings;
        EventLog log;
        QVERIFY(log.open(QStringLiteral("cut.log"),
                         [&warnings](const QString& text) { warnings.append(text); }));
        log.event(QStringLiteral("first"));
        const qint64 whole = QFileInfo(QStringLiteral("cut.log")).size();
        {
            vmx::test::FileSizeLimit limit(rlim_t(whole) + 10);
            QVERIFY(limit.isActive());
            log.event(QStringLiteral("second"), QString(40, u'x'));
        }
        log.event(QStringLiteral("third"));
        QCOMPARE(QFileInfo(QStringLiteral("cut.log")).size(), whole);
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().contains(u"File too large"), qPrintable(warnings.first()));
    }

    // A pipe whose reader has gone: one warning with the reason, and the program lives on.
    void aReaderThatLeavesIsOneWarning() {
        vmx::test::ScratchDir dir;
        QVERIFY(::mkfifo("pipe", 0600) == 0);
        const int reader = ::open("pipe", O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        QStringList warnings;
        EventLog log;
        QVERIFY(log.open(QStringLiteral("pipe"),
                         [&warnings](const QString& text) { warnings.append(text); }));
        ::close(reader);
        log.event(QStringLiteral("first"));
        log.event(QStringLiteral("second"));
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().contains(u"Broken pipe"), qPrintable(warnings.first()));
    }

    // The window with a log on a pipe that nobody reads: one warning, and the window comes up
    // (its first start writes the settings file just before it shows).
    void aPipeNobodyReadsHoldsUpNothing() {
        vmx::test::ScratchDir dir;
        QVERIFY(::mkfifo("nobody-reads", 0600) == 0);
        QProcess window;
        window.setProgram(QStringLiteral(VELMARIXON_PROGRAM));
        window.setArguments({"--log", "nobody-reads"});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        window.setProcessEnvironment(env);
        window.start();
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo::exists(vmx::test::kIniName) &&
                (err += window.readAllStandardError()).contains("nobody-reads"),
            15000);
        QCOMPARE(window.state(), QProcess::Running);
        window.kill();
        window.waitForFinished();
        QCOMPARE(err.count("The log"), 1);
    }

    void theWindowTakesTheLogFromItsArguments() {
        QCOMPARE(vmx::logPathArgument({"velmarixon", "--log", "a.log"}), QStringLiteral("a.log"));
        QCOMPARE(vmx::logPathArgument({"velmarixon", "--log"}), QString());
        QCOMPARE(vmx::logPathArgument({"velmarixon"}), QString());
    }
};

QTEST_GUILESS_MAIN(TestEventLog)
#include "tst_event_log.moc"
