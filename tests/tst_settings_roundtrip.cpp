// The settings between runs, through the real window: what EXIT writes is what the next start
// shows, and files written by hand load by the position of their values.
#include "app/main_form.h"
#include "settings/settings_codec.h"
#include "support/option_buttons.h"
#include "support/settings_files.h"
#include "support/window_fixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

using vmx::defaultIpAddress;
using vmx::test::chosenOptions;
using vmx::test::iniFile;
using vmx::test::ipFieldsShown;
using vmx::test::kIniName;
using vmx::test::readFile;
using vmx::test::WindowFixture;
using vmx::test::writeFile;

class TestSettingsRoundtrip : public QObject {
    Q_OBJECT
private slots:
    void udpChoiceSurvivesExit() {
        WindowFixture run;
        QVERIFY(run.start());
        run.click("Option9");
        run.click("Option6");
        run.click("Option11");
        QCOMPARE(ipFieldsShown(run.form()), 4);
        run.box("Text4")->setText(QStringLiteral("6123"));
        run.click("exitgomb");
        QCOMPARE(run.record().endCount, 1);
        QVERIFY(run.messages().isEmpty());
        const QByteArray ip = defaultIpAddress().toLatin1();
        QCOMPARE(readFile(kIniName), iniFile("99", "2", "1", "RD", ip, "6123", "1"));

        run.nextRun();
        QVERIFY(run.start());
        QVERIFY(run.messages().isEmpty());
        QCOMPARE(chosenOptions(run.form()), (QStringList{"Option6", "Option9", "Option11"}));
        QCOMPARE(vmx::test::portSelect(run.form()), 99.0f);
        QCOMPARE(vmx::test::baudSelect(run.form()), 1.0f);
        QCOMPARE(vmx::test::comFormat(run.form()), 1.0f);
        QCOMPARE(ipFieldsShown(run.form()), 4);
        QCOMPARE(run.box("Text3")->text(), defaultIpAddress());
        QCOMPARE(run.box("Text4")->text(), QStringLiteral("6123"));
        QCOMPARE(run.box("Text1")->text(), QStringLiteral("1"));
        QCOMPARE(run.box("xxx")->text(), QStringLiteral("RD"));
        QTRY_COMPARE(QApplication::focusWidget(), run.control<QWidget>("Option6"));

        // And back to a serial port: the IP texts stay stored while hidden.
        run.click("Option4");
        run.click("Option10");
        QCOMPARE(ipFieldsShown(run.form()), 0);
        run.click("exitgomb");
        QCOMPARE(readFile(kIniName), iniFile("4", "2", "1", "RD", ip, "6123", "0"));
        run.nextRun();
        QVERIFY(run.start());
        QCOMPARE(chosenOptions(run.form()), (QStringList{"Option4", "Option6", "Option10"}));
        QCOMPARE(vmx::test::portSelect(run.form()), 3.0f);
        QCOMPARE(ipFieldsShown(run.form()), 0);
        QCOMPARE(run.box("Text4")->text(), QStringLiteral("6123"));
    }

    void typedTextsSurviveExit_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("ipAddress");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("shownAddress");
        QTest::addColumn<QString>("shownCommand");
        const QByteArray ip = defaultIpAddress().toLatin1();
        QTest::newRow("02 is stored as 2")
            << "02"
            << "RD" << defaultIpAddress() << iniFile("1", "4", "2", "RD", ip, "5000", "0") << "2"
            << "RD";
        QTest::newRow("empty address is stored as 0")
            << ""
            << "RD" << defaultIpAddress() << iniFile("1", "4", "0", "RD", ip, "5000", "0") << "0"
            << "RD";
        QTest::newRow("12 followed by letters")
            << "12ab"
            << "RD" << defaultIpAddress() << iniFile("1", "4", "12", "RD", ip, "5000", "0") << "12"
            << "RD";
        QTest::newRow("fraction") << " 2.5 "
                                  << "RD" << defaultIpAddress()
                                  << iniFile("1", "4", "2.5", "RD", ip, "5000", "0") << "2.5"
                                  << "RD";
        QTest::newRow("comma inside the texts")
            << "3"
            << "A,B"
            << "127.0.0.1,x" << iniFile("1", "4", "3", "A,B", "127.0.0.1,x", "5000", "0") << "3"
            << "A,B";
        QTest::newRow("Latin-1 command")
            << "3" << QString::fromLatin1("R\xDC") << defaultIpAddress()
            << iniFile("1", "4", "3", "R\xDC", ip, "5000", "0") << "3"
            << QString::fromLatin1("R\xDC");
        QTest::newRow("empty command")
            << "3"
            << "" << defaultIpAddress() << iniFile("1", "4", "3", "", ip, "5000", "0") << "3"
            << "";
    }

    void typedTextsSurviveExit() {
        QFETCH(QString, address);
        QFETCH(QString, command);
        QFETCH(QString, ipAddress);
        QFETCH(QByteArray, file);
        QFETCH(QString, shownAddress);
        QFETCH(QString, shownCommand);
        WindowFixture run;
        QVERIFY(run.start());
        run.box("Text1")->setText(address);
        run.box("xxx")->setText(command);
        run.box("Text3")->setText(ipAddress);
        run.click("exitgomb");
        QCOMPARE(run.record().endCount, 1);
        QCOMPARE(readFile(kIniName), file);

        run.nextRun();
        QVERIFY(run.start());
        QVERIFY(run.messages().isEmpty());
        QCOMPARE(run.box("Text1")->text(), shownAddress);
        QCOMPARE(run.box("xxx")->text(), shownCommand);
        QCOMPARE(run.box("Text3")->text(), ipAddress);
    }

    void codesThatMatchNoButtonAreKept_data() {
        QTest::addColumn<QByteArray>("port");
        QTest::addColumn<QByteArray>("baud");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<float>("portSelect");
        QTest::addColumn<float>("comFormat");
        QTest::addColumn<bool>("ipShown");
        QTest::newRow("port code 7") << QByteArray("7") << QByteArray("4") << QByteArray("0")
                                     << QStringList{"Option8", "Option10"} << 0.0f << 0.0f << false;
        QTest::newRow("port code 1.5")
            << QByteArray("1.5") << QByteArray("3") << QByteArray("1")
            << QStringList{"Option7", "Option11"} << 0.0f << 1.0f << false;
        QTest::newRow("port code -1")
            << QByteArray("-1") << QByteArray("1") << QByteArray("0")
            << QStringList{"Option5", "Option10"} << 0.0f << 0.0f << false;
        QTest::newRow("baud code 7, port 99")
            << QByteArray("99") << QByteArray("7") << QByteArray("0")
            << QStringList{"Option9", "Option10"} << 99.0f << 0.0f << true;
        // No button has format 2: SEND gives the port no line settings (-1), so it keeps the
        // ones it had, and EXIT writes the 2 back.
        QTest::newRow("format code 2")
            << QByteArray("2") << QByteArray("2") << QByteArray("2")
            << QStringList{"Option2", "Option6"} << 1.0f << -1.0f << false;
    }

    void codesThatMatchNoButtonAreKept() {
        QFETCH(QByteArray, port);
        QFETCH(QByteArray, baud);
        QFETCH(QByteArray, format);
        QFETCH(QStringList, chosen);
        QFETCH(float, portSelect);
        QFETCH(float, comFormat);
        QFETCH(bool, ipShown);
        WindowFixture run;
        const QByteArray file = iniFile(port, baud, "5", "RD", "127.0.0.1", "5000", format);
        QVERIFY(writeFile(kIniName, file));
        QVERIFY(run.start());
        QVERIFY(run.messages().isEmpty());
        QCOMPARE(chosenOptions(run.form()), chosen);
        QCOMPARE(vmx::test::portSelect(run.form()), portSelect);
        QCOMPARE(vmx::test::comFormat(run.form()), comFormat);
        QCOMPARE(ipFieldsShown(run.form()), ipShown ? 4 : 0);
        QCOMPARE(run.box("Text1")->text(), QStringLiteral("5"));

        // Nothing chosen in a frame: EXIT writes back the code that was read.
        run.click("exitgomb");
        QCOMPARE(run.record().endCount, 1);
        QCOMPARE(readFile(kIniName), file);
    }

    void filesWrittenByHandLoadByPosition_data() {
        QTest::addColumn<QByteArray>("file");
        const QByteArray canonical = iniFile("3", "2", "17", "WR", "127.0.0.1", "6001", "1");
        QTest::newRow("as written") << canonical;
        QTest::newRow("other labels") << QByteArray("\"port\",3\r\n\"b\",2\r\n\"\",17\r\n"
                                                    "\"cmd\",\"WR\"\r\n\"ip\",\"127.0.0.1\"\r\n"
                                                    "\"p\",\"6001\"\r\n\"f\",1\r\n");
        QTest::newRow("unquoted labels")
            << QByteArray("Serial port=,3\r\nBaud rate=,2\r\nAddress=,17\r\nCommand=,\"WR\"\r\n"
                          "IP Address=,\"127.0.0.1\"\r\nIP port=,\"6001\"\r\nCOM format=,1\r\n");
        QTest::newRow("extra lines after the seventh")
            << canonical + "\"Eighth=\",8\r\nnot a setting at all\r\n";
    }

    void filesWrittenByHandLoadByPosition() {
        QFETCH(QByteArray, file);
        WindowFixture run;
        QVERIFY(writeFile(kIniName, file));
        QVERIFY(run.start());
        QVERIFY(run.messages().isEmpty());
        QCOMPARE(chosenOptions(run.form()), (QStringList{"Option3", "Option6", "Option11"}));
        QCOMPARE(run.box("Text1")->text(), QStringLiteral("17"));
        QCOMPARE(run.box("xxx")->text(), QStringLiteral("WR"));
        QCOMPARE(run.box("Text3")->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(run.box("Text4")->text(), QStringLiteral("6001"));
        // Start-up leaves the file as it is; EXIT writes it in its own form.
        QCOMPARE(readFile(kIniName), file);
        run.click("exitgomb");
        QCOMPARE(readFile(kIniName), iniFile("3", "2", "17", "WR", "127.0.0.1", "6001", "1"));
    }

    void closingWithoutExitKeepsTheLastExit() {
        WindowFixture run;
        QVERIFY(run.start());
        run.click("Option3");
        run.box("xxx")->setText(QStringLiteral("ST"));
        run.click("exitgomb");
        const QByteArray ip = defaultIpAddress().toLatin1();
        const QByteArray saved = iniFile("3", "4", "1", "ST", ip, "5000", "0");
        QCOMPARE(readFile(kIniName), saved);

        run.nextRun();
        QVERIFY(run.start());
        run.click("Option9");
        run.click("Option5");
        run.box("xxx")->setText(QStringLiteral("LOST"));
        QVERIFY(run.form().close());
        QCOMPARE(run.record().endCount, 1);
        QCOMPARE(readFile(kIniName), saved);

        run.nextRun();
        QVERIFY(run.start());
        QCOMPARE(chosenOptions(run.form()), (QStringList{"Option3", "Option8", "Option10"}));
        QCOMPARE(run.box("xxx")->text(), QStringLiteral("ST"));
    }
    // Texts far beyond a line edit's usual 32,767 characters load whole and EXIT writes them
    // back byte for byte; a text beyond the bound the boxes take is refused, not cut.
    void longTextsRoundTripAndTooLongOnesAreRefused() {
        QByteArray command;
        for (int i = 0; i < 40000; ++i) {
            const char c = char(0x20 + (i * 7) % 0xE0); // every Latin-1 character but controls
            command.append(c == '"' || c == '\x7f' ? 'q' : c);
        }
        QCOMPARE(command.size(), 40000);
        const QByteArray ip(33000, '1');
        const QByteArray file = iniFile("1", "4", "3", command, ip, "5000", "0");
        WindowFixture run;
        QVERIFY(writeFile(kIniName, file));
        QVERIFY(run.start());
        QVERIFY(run.messages().isEmpty());
        QCOMPARE(run.box("xxx")->text(), QString::fromLatin1(command));
        QCOMPARE(run.box("Text3")->text().size(), ip.size());
        run.click("exitgomb");
        QVERIFY(run.messages().isEmpty());
        QCOMPARE(readFile(kIniName), file);

        const QByteArray tooLong =
            iniFile("1", "4", "3", QByteArray(vmx::kMaxSettingsTextLength + 1, 'c'), "", "", "0");
        QVERIFY(writeFile(kIniName, tooLong));
        run.nextRun();
        QVERIFY(run.start());
        QCOMPARE(run.messages(), QStringList{QStringLiteral("ini file load error")});
        QCOMPARE(run.box("xxx")->text(), QStringLiteral("RD"));
        QCOMPARE(readFile(kIniName), tooLong);
    }
};

QTEST_MAIN(TestSettingsRoundtrip)
#include "tst_settings_roundtrip.moc"
