#include "links/line_settings.h"

#include <QTest>

#include <cmath>
#include <limits>

using vmx::LineSettings;
using vmx::lineSettingsText;
using vmx::parseLineSettings;

class TestLineSettings : public QObject {
    Q_OBJECT
private slots:
    void tableTexts_data() {
        QTest::addColumn<float>("comFormat");
        QTest::addColumn<float>("baudSelect");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("dataBits");

        const int bauds[] = {1200, 2400, 9600, 19200};
        for (int format = 0; format < 2; ++format) {
            for (int select = 0; select < 4; ++select) {
                const QString text = QStringLiteral("%1, %2, %3, 1")
                                         .arg(bauds[select])
                                         .arg(format == 0 ? QLatin1Char('E') : QLatin1Char('N'))
                                         .arg(format == 0 ? 7 : 8);
                QTest::addRow("format %d baud %d", format, select)
                    << float(format) << float(select) << text << bauds[select]
                    << int(format == 0 ? QSerialPort::EvenParity : QSerialPort::NoParity)
                    << int(format == 0 ? QSerialPort::Data7 : QSerialPort::Data8);
            }
        }
    }

    void tableTexts() {
        QFETCH(float, comFormat);
        QFETCH(float, baudSelect);
        QFETCH(QString, text);
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, dataBits);

        const auto got = lineSettingsText(comFormat, baudSelect);
        QVERIFY(got.has_value());
        QCOMPARE(*got, text);

        const auto settings = parseLineSettings(*got);
        QVERIFY(settings.has_value());
        QCOMPARE(settings->baudRate, baud);
        QCOMPARE(int(settings->parity), parity);
        QCOMPARE(int(settings->dataBits), dataBits);
        QCOMPARE(settings->stopBits, QSerialPort::OneStop);
    }

    void selectorsOutsideTheTable_data() {
        QTest::addColumn<float>("comFormat");
        QTest::addColumn<float>("baudSelect");
        QTest::newRow("format 2") << 2.0f << 0.0f;
        QTest::newRow("format -1") << -1.0f << 3.0f;
        QTest::newRow("format 0.5") << 0.5f << 1.0f;
        QTest::newRow("format just above 0") << std::nextafter(0.0f, 1.0f) << 1.0f;
        QTest::newRow("baud 4") << 0.0f << 4.0f;
        QTest::newRow("baud -1") << 1.0f << -1.0f;
        QTest::newRow("baud 2.5") << 1.0f << 2.5f;
        QTest::newRow("baud just below 3") << 1.0f << std::nextafter(3.0f, 0.0f);
        QTest::newRow("udp selector as baud") << 0.0f << 99.0f;
        QTest::newRow("nan format") << std::numeric_limits<float>::quiet_NaN() << 0.0f;
        QTest::newRow("nan baud") << 0.0f << std::numeric_limits<float>::quiet_NaN();
        QTest::newRow("infinite baud") << 1.0f << std::numeric_limits<float>::infinity();
    }

    void selectorsOutsideTheTable() {
        QFETCH(float, comFormat);
        QFETCH(float, baudSelect);
        QVERIFY(!lineSettingsText(comFormat, baudSelect).has_value());
    }

    void otherWellFormedTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("stopBits");
        QTest::newRow("odd, two stop bits") << "4800,O,8,2" << 4800 << int(QSerialPort::OddParity)
                                            << int(QSerialPort::Data8) << int(QSerialPort::TwoStop);
        QTest::newRow("mark, one and a half")
            << " 110 , M , 5 , 1.5 " << 110 << int(QSerialPort::MarkParity)
            << int(QSerialPort::Data5) << int(QSerialPort::OneAndHalfStop);
        QTest::newRow("space, lower case letter")
            << "38400, s, 6, 1" << 38400 << int(QSerialPort::SpaceParity) << int(QSerialPort::Data6)
            << int(QSerialPort::OneStop);
    }

    void otherWellFormedTexts() {
        QFETCH(QString, text);
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, dataBits);
        QFETCH(int, stopBits);
        const auto settings = parseLineSettings(text);
        QVERIFY(settings.has_value());
        QCOMPARE(settings->baudRate, baud);
        QCOMPARE(int(settings->parity), parity);
        QCOMPARE(int(settings->dataBits), dataBits);
        QCOMPARE(int(settings->stopBits), stopBits);
    }

    void malformedTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("blank") << "   ";
        QTest::newRow("baud only") << "9600";
        QTest::newRow("three fields") << "9600, E, 7";
        QTest::newRow("five fields") << "9600, E, 7, 1, 1";
        QTest::newRow("no baud") << ", E, 7, 1";
        QTest::newRow("baud zero") << "0, E, 7, 1";
        QTest::newRow("baud signed") << "+9600, E, 7, 1";
        QTest::newRow("baud negative") << "-9600, E, 7, 1";
        QTest::newRow("baud fraction") << "9600.0, E, 7, 1";
        QTest::newRow("baud too large") << "2147483648, N, 8, 1";
        QTest::newRow("baud letters") << "fast, N, 8, 1";
        QTest::newRow("parity unknown") << "9600, X, 7, 1";
        QTest::newRow("parity word") << "9600, Even, 7, 1";
        QTest::newRow("parity missing") << "9600, , 7, 1";
        QTest::newRow("data bits 9") << "9600, E, 9, 1";
        QTest::newRow("data bits 4") << "9600, E, 4, 1";
        QTest::newRow("stop bits 3") << "9600, E, 7, 3";
        QTest::newRow("stop bits 0") << "9600, E, 7, 0";
        QTest::newRow("semicolons") << "9600; E; 7; 1";
    }

    void malformedTexts() {
        QFETCH(QString, text);
        QVERIFY(!parseLineSettings(text).has_value());
    }

    void largestBaudStillFits() {
        const auto settings = parseLineSettings(u"2147483647, N, 8, 1");
        QVERIFY(settings.has_value());
        QCOMPARE(settings->baudRate, 2147483647);
    }
};

QTEST_APPLESS_MAIN(TestLineSettings)
#include "tst_line_settings.moc"
