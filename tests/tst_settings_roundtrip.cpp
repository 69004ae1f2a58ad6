// The settings between runs, through the real window: what EXIT writes is what the next start
// shows, and files written by hand load by the position of their values.
#include "app/main_form.h"
#include "settings/settings_codec.h"
#include "support/window_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

using vmx::defaultIpAddress;
using vmx::MainForm;
using vmx::test::recordingSeams;
using vmx::test::SeamRecord;
using vmx::test::WindowFixture;

namespace {

const QString kIniName = QStringLiteral("velmarixon.ini");

const QStringList kOptionNames{"Option1", "Option2", "Option3", "Option4",  "Option5", "Option6",
                               "Option7", "Option8", "Option9", "Option10", "Option11"};

QByteArray ini(const QByteArray& port, const QByteArray& baud, const QByteArray& address,
               const QByteArray& command, const QByteArray& ipAddress, const QByteArray& ipPort,
               const QByteArray& format) {
    return "\"Serial port=\"," + port + "\r\n" + "\"Baud rate=\"," + baud + "\r\n" +
           "\"Address=\"," + address + "\r\n" + "\"Command=\",\"" + command + "\"\r\n" +
           "\"IP Address=\",\"" + ipAddress + "\"\r\n" + "\"IP port=\",\"" + ipPort + "\"\r\n" +
           "\"COM format=\"," + format + "\r\n";
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// One run of the program in the current directory, started as the program starts it.
class Run {
public:
    Run() : form_(recordingSeams(record_)) {}

    bool start() {
        if (!form_.loadSettings())
            return false;
        form_.show();
        if (!QTest::qWaitForWindowExposed(&form_))
            return false;
        form_.focusFirstTabStop();
        return true;
    }

    MainForm& form() { return form_; }
    SeamRecord& record() { return record_; }
    template <typename T> T* control(const char* name) {
        return form_.findChild<T*>(QLatin1String(name));
    }
    QLineEdit* box(const char* name) { return control<QLineEdit>(name); }
    void click(const char* name) { control<QAbstractButton>(name)->click(); }
    QStringList chosenOptions() {
        QStringList chosen;
        for (const QString& name : kOptionNames) {
            if (control<QAbstractButton>(name.toLatin1().constData())->isChecked())
                chosen << name;
        }
        return chosen;
    }
    // How many of the four IP fields are shown: all or none, never some.
    int ipFieldsShown() {
        int shown = 0;
        for (const char* name : {"Label4", "Text3", "Label5", "Text4"})
            shown += control<QWidget>(name)->isVisible() ? 1 : 0;
        return shown;
    }
    void exit() { control<QPushButton>("exitgomb")->click(); }

private:
    SeamRecord record_;
    MainForm form_;
};

} // namespace

class TestSettingsRoundtrip : public QObject {
    Q_OBJECT
private slots:
    void udpChoiceSurvivesExit() {
        WindowFixture fx; // the scratch directory; its own window is not used
        {
            Run first;
            QVERIFY(first.start());
            first.click("Option9");
            first.click("Option6");
            first.click("Option11");
            QCOMPARE(first.ipFieldsShown(), 4);
            first.box("Text4")->setText(QStringLiteral("6123"));
            first.exit();
            QCOMPARE(first.record().endCount, 1);
            QVERIFY(first.record().messages.isEmpty());
        }
        const QByteArray ip = defaultIpAddress().toLatin1();
        QCOMPARE(readFile(kIniName), ini("99", "2", "1", "RD", ip, "6123", "1"));

        Run second;
        QVERIFY(second.start());
        QVERIFY(second.record().messages.isEmpty());
        QCOMPARE(second.chosenOptions(), (QStringList{"Option6", "Option9", "Option11"}));
        QCOMPARE(second.form().portSelect(), 99.0f);
        QCOMPARE(second.form().baudSelect(), 1.0f);
        QCOMPARE(second.form().comFormat(), 1.0f);
        QCOMPARE(second.ipFieldsShown(), 4);
        QCOMPARE(second.box("Text3")->text(), defaultIpAddress());
        QCOMPARE(second.box("Text4")->text(), QStringLiteral("6123"));
        QCOMPARE(second.box("Text1")->text(), QStringLiteral("1"));
        QCOMPARE(second.box("xxx")->text(), QStringLiteral("RD"));
        QTRY_COMPARE(QApplication::focusWidget(), second.control<QWidget>("Option6"));

        // And back to a serial port: the IP texts stay stored while hidden.
        second.click("Option4");
        second.click("Option10");
        QCOMPARE(second.ipFieldsShown(), 0);
        second.exit();
        QCOMPARE(readFile(kIniName), ini("4", "2", "1", "RD", ip, "6123", "0"));
        Run third;
        QVERIFY(third.start());
        QCOMPARE(third.chosenOptions(), (QStringList{"Option4", "Option6", "Option10"}));
        QCOMPARE(third.form().portSelect(), 3.0f);
        QCOMPARE(third.ipFieldsShown(), 0);
        QCOMPARE(third.box("Text4")->text(), QStringLiteral("6123"));
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
            << "RD" << defaultIpAddress() << ini("1", "4", "2", "RD", ip, "5000", "0") << "2"
            << "RD";
        QTest::newRow("empty address is stored as 0")
            << ""
            << "RD" << defaultIpAddress() << ini("1", "4", "0", "RD", ip, "5000", "0") << "0"
            << "RD";
        QTest::newRow("12 followed by letters")
            << "12ab"
            << "RD" << defaultIpAddress() << ini("1", "4", "12", "RD", ip, "5000", "0") << "12"
            << "RD";
        QTest::newRow("fraction") << " 2.5 "
                                  << "RD" << defaultIpAddress()
                                  << ini("1", "4", "2.5", "RD", ip, "5000", "0") << "2.5"
                                  << "RD";
        QTest::newRow("comma inside the texts")
            << "3"
            << "A,B"
            << "127.0.0.1,x" << ini("1", "4", "3", "A,B", "127.0.0.1,x", "5000", "0") << "3"
            << "A,B";
        QTest::newRow("Latin-1 command")
            << "3" << QString::fromLatin1("R\xDC") << defaultIpAddress()
            << ini("1", "4", "3", "R\xDC", ip, "5000", "0") << "3" << QString::fromLatin1("R\xDC");
        QTest::newRow("empty command")
            << "3"
            << "" << defaultIpAddress() << ini("1", "4", "3", "", ip, "5000", "0") << "3"
            << "";
    }

    void typedTextsSurviveExit() {
        QFETCH(QString, address);
        QFETCH(QString, command);
        QFETCH(QString, ipAddress);
        QFETCH(QByteArray, file);
        QFETCH(QString, shownAddress);
        QFETCH(QString, shownCommand);
        WindowFixture fx;
        QVERIFY(fx.start());
        fx.control<QLineEdit>("Text1")->setText(address);
        fx.control<QLineEdit>("xxx")->setText(command);
        fx.control<QLineEdit>("Text3")->setText(ipAddress);
        fx.control<QPushButton>("exitgomb")->click();
        QCOMPARE(fx.record().endCount, 1);
        QCOMPARE(readFile(kIniName), file);
        fx.form().hide();

        Run next;
        QVERIFY(next.start());
        QVERIFY(next.record().messages.isEmpty());
        QCOMPARE(next.box("Text1")->text(), shownAddress);
        QCOMPARE(next.box("xxx")->text(), shownCommand);
        QCOMPARE(next.box("Text3")->text(), ipAddress);
        QCOMPARE(next.form().settings().iniCommand, command);
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
        // The format is the selector itself: the loader stores 2 and no button matches it.
        QTest::newRow("format code 2")
            << QByteArray("2") << QByteArray("2") << QByteArray("2")
            << QStringList{"Option2", "Option6"} << 1.0f << 2.0f << false;
    }

    void codesThatMatchNoButtonAreKept() {
        QFETCH(QByteArray, port);
        QFETCH(QByteArray, baud);
        QFETCH(QByteArray, format);
        QFETCH(QStringList, chosen);
        QFETCH(float, portSelect);
        QFETCH(float, comFormat);
        QFETCH(bool, ipShown);
        WindowFixture fx;
        const QByteArray file = ini(port, baud, "5", "RD", "127.0.0.1", "5000", format);
        QVERIFY(writeFile(kIniName, file));
        Run run;
        QVERIFY(run.start());
        QVERIFY(run.record().messages.isEmpty());
        QCOMPARE(run.chosenOptions(), chosen);
        QCOMPARE(run.form().portSelect(), portSelect);
        QCOMPARE(run.form().comFormat(), comFormat);
        QCOMPARE(run.ipFieldsShown(), ipShown ? 4 : 0);
        QCOMPARE(run.box("Text1")->text(), QStringLiteral("5"));

        // Nothing chosen in a frame: EXIT writes back the code that was read.
        run.exit();
        QCOMPARE(run.record().endCount, 1);
        QCOMPARE(readFile(kIniName), file);
    }

    void filesWrittenByHandLoadByPosition_data() {
        QTest::addColumn<QByteArray>("file");
        const QByteArray canonical = ini("3", "2", "17", "WR", "127.0.0.1", "6001", "1");
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
        WindowFixture fx;
        QVERIFY(writeFile(kIniName, file));
        Run run;
        QVERIFY(run.start());
        QVERIFY(run.record().messages.isEmpty());
        QCOMPARE(run.chosenOptions(), (QStringList{"Option3", "Option6", "Option11"}));
        QCOMPARE(run.box("Text1")->text(), QStringLiteral("17"));
        QCOMPARE(run.box("xxx")->text(), QStringLiteral("WR"));
        QCOMPARE(run.box("Text3")->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(run.box("Text4")->text(), QStringLiteral("6001"));
        // Start-up leaves the file as it is; EXIT writes it in its own form.
        QCOMPARE(readFile(kIniName), file);
        run.exit();
        QCOMPARE(readFile(kIniName), ini("3", "2", "17", "WR", "127.0.0.1", "6001", "1"));
    }

    void closingWithoutExitKeepsTheLastExit() {
        WindowFixture fx;
        const QByteArray ip = defaultIpAddress().toLatin1();
        {
            Run first;
            QVERIFY(first.start());
            first.click("Option3");
            first.box("xxx")->setText(QStringLiteral("ST"));
            first.exit();
        }
        const QByteArray saved = ini("3", "4", "1", "ST", ip, "5000", "0");
        QCOMPARE(readFile(kIniName), saved);
        {
            Run second;
            QVERIFY(second.start());
            second.click("Option9");
            second.click("Option5");
            second.box("xxx")->setText(QStringLiteral("LOST"));
            QVERIFY(second.form().close());
            QCOMPARE(second.record().endCount, 1);
        }
        QCOMPARE(readFile(kIniName), saved);
        Run third;
        QVERIFY(third.start());
        QCOMPARE(third.chosenOptions(), (QStringList{"Option3", "Option8", "Option10"}));
        QCOMPARE(third.box("xxx")->text(), QStringLiteral("ST"));
    }
};

QTEST_MAIN(TestSettingsRoundtrip)
#include "tst_settings_roundtrip.moc"
