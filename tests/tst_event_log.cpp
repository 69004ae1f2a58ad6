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
#include <optional>
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

// A device on COM1 whose exchange feeds a log; the log's warnings are kept.
class LoggedExchange {
    // First: the scratch folder is the current one before anything opens, and the device
    // outlives the exchange.
    FourPorts ports_;

public:
    bool isValid() const { return ports_.isValid(); }
    vmx::test::PtyPair& device() const { return ports_.pty(1); }
    bool open(const QString& path) {
        vmx::logExchange(exchange, log);
        return log.open(path, [this](const QString& text) { warnings.append(text); });
    }

    Exchange exchange{vmx::systemHostLookup, 200ms};
    EventLog log;
    QStringList warnings;
};

// What goes wrong with a log after it was opened.
enum class Trouble { None, SizeLimit, ReaderLeaves };

} // namespace

class TestEventLog : public QObject {
    Q_OBJECT
private slots:
    void recordsEveryEventOfTheExchange() {
        LoggedExchange run;
        QVERIFY(run.isValid());
        QVERIFY(run.open(QStringLiteral("commissioning.log")));
        QSignalSpy answered(&run.exchange, &Exchange::answered);
        QSignalSpy noAnswer(&run.exchange, &Exchange::noAnswer);

        QVERIFY(run.exchange.send(request()));
        QCOMPARE(run.device().readMaster(int(kDefaultFrame.size())), kDefaultFrame);
        QVERIFY(run.device().writeMaster("\x07"
                                         "02RD1\r\n5FF\x03"));
        QVERIFY(answered.wait(3000));
        QVERIFY(run.exchange.send(request()));
        QVERIFY(run.device().writeMaster("\x07"
                                         "02")); // and no more
        QVERIFY(noAnswer.wait(3000));
        QVERIFY(run.exchange.send(request()));
        QCOMPARE(events(QStringLiteral("commissioning.log")),
                 (QStringList{
                     "sent 07 30 32 52 44 46 46 03", "received 07 30 32 52 44 31 0D 0A 35 46 46 03",
                     QString::fromUtf8("reply 1\u240d\u240a5"), "sent 07 30 32 52 44 46 46 03",
                     "received 07 30 32", "no-answer Communication fail with device",
                     "dropped 07 30 32", "sent 07 30 32 52 44 46 46 03"}));
        QCOMPARE(run.warnings, QStringList{});
    }

    // A log that cannot be opened or written is said once, with the system's reason, and the
    // exchanges go on. The trouble comes before the second of three exchanges and is gone for
    // the third: the log stays closed, and a line cut in the middle is taken back, so the file
    // holds the first exchange's lines whole and nothing after them.
    void aLogThatFailsIsOneWarning_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("trouble");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no folder")
            << "no-such-folder/x.log" << int(Trouble::None) << "No such file or directory";
        QTest::newRow("a full disk")
            << "/dev/full" << int(Trouble::None) << "No space left on device";
        QTest::newRow("a size limit in the middle of a line")
            << "cut.log" << int(Trouble::SizeLimit) << "File too large";
        QTest::newRow("a reader that leaves")
            << "pipe" << int(Trouble::ReaderLeaves) << "Broken pipe";
    }
    void aLogThatFailsIsOneWarning() {
        QFETCH(QString, path);
        QFETCH(int, trouble);
        QFETCH(QString, reason);

        LoggedExchange run;
        QVERIFY(run.isValid());
        int reader = -1;
        if (Trouble(trouble) == Trouble::ReaderLeaves) {
            QVERIFY(::mkfifo(qPrintable(path), 0600) == 0);
            reader = ::open(qPrintable(path), O_RDONLY | O_NONBLOCK);
            QVERIFY(reader >= 0);
        }
        QCOMPARE(run.open(path), !path.startsWith(u"no-such-folder"));
        QSignalSpy answered(&run.exchange, &Exchange::answered);
        const auto exchange = [&] {
            return run.exchange.send(request()) && run.device().writeMaster("\x06") &&
                   answered.wait(3000);
        };
        QVERIFY(exchange());
        const qint64 whole = QFileInfo(path).size();
        std::optional<vmx::test::FileSizeLimit> limit;
        if (Trouble(trouble) == Trouble::SizeLimit) {
            limit.emplace(rlim_t(whole) + 10); // the next line is longer
            QVERIFY(limit->isActive());
        }
        if (reader >= 0)
            ::close(reader);
        QVERIFY(exchange());
        limit.reset();
        QVERIFY(exchange());
        QCOMPARE(answered.size(), 3);
        QCOMPARE(QFileInfo(path).size(), whole);
        QCOMPARE(run.warnings.size(), 1);
        QVERIFY2(run.warnings.first().contains(path) && run.warnings.first().contains(reason),
                 qPrintable(run.warnings.first()));
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
