// velmarixon-send --write-settings as an operator's folder is prepared with it: the program
// writes the file, the window starts on it, and EXIT saves it back unchanged.
#include "settings/settings_codec.h"
#include "support/option_buttons.h"
#include "support/programs.h"
#include "support/settings_files.h"
#include "support/window_fixture.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QTest>

using namespace vmx::test;

namespace {

const QString kSend = QStringLiteral(VMX_SEND_PROGRAM);

} // namespace

class TestWriteSettings : public QObject {
    Q_OBJECT
private slots:
    void writesWhatTheWindowLoads_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("stored"); // a settings file there before, if any
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QStringList>("boxes"); // address, command, IP address, IP port

        const QByteArray ip = vmx::defaultIpAddress().toLatin1();
        // A first start's file, byte for byte: seven lines, each ending in CR LF.
        QTest::newRow("no options: the window's defaults")
            << QStringList{} << QByteArray()
            << QByteArray("\"Serial port=\",1\r\n\"Baud rate=\",4\r\n\"Address=\",1\r\n"
                          "\"Command=\",\"RD\"\r\n\"IP Address=\",\"" +
                          ip + "\"\r\n\"IP port=\",\"5000\"\r\n\"COM format=\",0\r\n")
            << QStringList{"Option1", "Option8", "Option10"}
            << QStringList{"1", "RD", QString::fromLatin1(ip), "5000"};
        QTest::newRow("udp:HOST:PORT, 2400, N81")
            << QStringList{"--port", "udp:127.0.0.1:6000", "--baud", "2400",      "--format",
                           "N81",    "--address",          "12",     "--command", "WR 5"}
            << QByteArray() << iniFile("99", "2", "12", "WR 5", "127.0.0.1", "6000", "1")
            << QStringList{"Option6", "Option9", "Option11"}
            << QStringList{"12", "WR 5", "127.0.0.1", "6000"};
        // The IP fields without choosing Udp, as the demo's first start has them; a command with
        // a quote and a comma, and an address the box shows as typed.
        QTest::newRow("COM3 with IP fields")
            << QStringList{"--port", "com3",         "--address", "02.50",     "--command",
                           "a\",b",  "--ip-address", "localhost", "--ip-port", "6001"}
            << QByteArray() << iniFile("3", "4", "2.5", "a\",b", "localhost", "6001", "0")
            << QStringList{"Option3", "Option8", "Option10"}
            << QStringList{"2.5", "a\",b", "localhost", "6001"};
        // A stored file gives what the options leave, codes no button matches included.
        QTest::newRow("over the stored file")
            << QStringList{"--baud", "9600"} << iniFile("7", "1", "7", "XY", "::1", "6002", "1")
            << iniFile("7", "3", "7", "XY", "::1", "6002", "1")
            << QStringList{"Option7", "Option11"} << QStringList{"7", "XY", "::1", "6002"};
    }
    void writesWhatTheWindowLoads() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, chosen);
        QFETCH(QStringList, boxes);

        WindowFixture window;
        if (!stored.isEmpty())
            QVERIFY(writeFile(kIniName, stored));
        const ProgramRun run =
            runProgram(kSend, QStringList{"--write-settings", kIniName} + arguments);
        QCOMPARE(run.err, QStringList{});
        QCOMPARE(run.out, QStringList{});
        QCOMPARE(run.status, 0);
        QCOMPARE(readFile(kIniName), bytes);

        QVERIFY(window.start());
        QCOMPARE(window.messages(), QStringList{});
        QCOMPARE(chosenOptions(window.form()), chosen);
        QCOMPARE((QStringList{window.box("Text1")->text(), window.box("xxx")->text(),
                              window.box("Text3")->text(), window.box("Text4")->text()}),
                 boxes);
        // What the program wrote is what EXIT saves of it.
        window.click("exitgomb");
        QCOMPARE(window.record().endCount, 1);
        QCOMPARE(readFile(kIniName), bytes);
    }

    // What the file cannot hold, or a run's option, is a usage error and the file stays as it
    // was; a file that cannot be written is status 73.
    void refusesWhatTheFileCannotHold_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason");
        QTest::newRow("socket://") << QStringList{"--port", "socket://127.0.0.1:4001"} << 64
                                   << "a device server through a file COMn in its folder";
        QTest::newRow("rfc2217://")
            << QStringList{"--port", "rfc2217://127.0.0.1:4001"} << 64 << "file COMn";
        QTest::newRow("device path")
            << QStringList{"--port", "/dev/ttyUSB0"} << 64 << "through COMn in its folder";
        QTest::newRow("a run's option") << QStringList{"--count", "2"} << 64 << "--count";
        QTest::newRow("address") << QStringList{"--address", "2080"} << 64 << "2080";
        QTest::newRow("IP port") << QStringList{"--ip-port", "65536"} << 64 << "--ip-port";
        QTest::newRow("IP fields twice")
            << QStringList{"--port", "udp:127.0.0.1:6000", "--ip-port", "6001"} << 64
            << "--ip-address and --ip-port";
        QTest::newRow("no folder") << QStringList{"--write-settings", "no-such-folder/x.ini"} << 73
                                   << "no-such-folder/x.ini could not be written";
    }
    void refusesWhatTheFileCannotHold() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, reason);

        ScratchDir dir;
        const QByteArray stored = iniFile("2", "3", "4", "XY", "127.0.0.1", "6000", "1");
        QVERIFY(writeFile(kIniName, stored));
        // The last --write-settings counts: the rows that name another file give it last.
        const ProgramRun run =
            runProgram(kSend, QStringList{"--write-settings", kIniName} + arguments);
        QCOMPARE(run.status, status);
        QCOMPARE(run.out, QStringList{});
        QCOMPARE(run.err.size(), 1);
        QVERIFY2(run.err.first().contains(reason), qPrintable(run.err.first()));
        QCOMPARE(readFile(kIniName), stored);
        QCOMPARE(entries(dir.path()), QStringList{kIniName});
    }
};

QTEST_MAIN(TestWriteSettings)
#include "tst_write_settings.moc"
