#include "settings/option_codes.h"
#include "settings/settings_codec.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QStringList>
#include <QTest>

#include <bit>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

using vmx::Settings;

Q_DECLARE_METATYPE(vmx::Settings)
Q_DECLARE_METATYPE(vmx::OptionGroup)

namespace {

QString describe(const Settings& s) {
    return QStringLiteral("{%1, %2, %3, \"%4\", \"%5\", \"%6\", %7}")
        .arg(double(s.iniPort), 0, 'g', 9)
        .arg(double(s.iniBaud), 0, 'g', 9)
        .arg(double(s.iniAddress), 0, 'g', 9)
        .arg(s.iniCommand.left(40), s.ipAddress.left(40), s.ipPort.left(40))
        .arg(double(s.comFormat), 0, 'g', 9);
}

// Floats are compared exactly, never fuzzily: the file must give back the very same value.
bool sameSettings(const Settings& a, const Settings& b) {
    return a.iniPort == b.iniPort && a.iniBaud == b.iniBaud && a.iniAddress == b.iniAddress &&
           a.iniCommand == b.iniCommand && a.ipAddress == b.ipAddress && a.ipPort == b.ipPort &&
           a.comFormat == b.comFormat;
}

#define COMPARE_SETTINGS(actual, expected)                                                         \
    QVERIFY2(sameSettings((actual), (expected)),                                                   \
             qPrintable(                                                                           \
                 QStringLiteral("got %1, expected %2").arg(describe(actual), describe(expected))))

// A start-of-run state that no file line produces, so untouched members stand out.
Settings untouched() {
    Settings s;
    s.iniPort = -11;
    s.iniBaud = -12;
    s.iniAddress = -13;
    s.iniCommand = QStringLiteral("<command>");
    s.ipAddress = QStringLiteral("<ip>");
    s.ipPort = QStringLiteral("<port>");
    s.comFormat = -14;
    return s;
}

Settings make(float port, float baud, float address, const QString& command, const QString& ip,
              const QString& ipPort, float format) {
    Settings s;
    s.iniPort = port;
    s.iniBaud = baud;
    s.iniAddress = address;
    s.iniCommand = command;
    s.ipAddress = ip;
    s.ipPort = ipPort;
    s.comFormat = format;
    return s;
}

// Seven lines with the given labels and raw value texts and line end.
QByteArray fileOf(const QList<QByteArray>& labels, const QList<QByteArray>& values,
                  const QByteArray& lineEnd) {
    QByteArray out;
    for (qsizetype i = 0; i < 7; ++i)
        out += labels[i] + ',' + values[i] + lineEnd;
    return out;
}

const QList<QByteArray> kLabels = {"\"Serial port=\"", "\"Baud rate=\"",  "\"Address=\"",
                                   "\"Command=\"",     "\"IP Address=\"", "\"IP port=\"",
                                   "\"COM format=\""};

// The byte offsets just after each of the fourteen items of `bytes` written by encodeSettings.
QList<qsizetype> itemEnds(const QByteArray& bytes) {
    QList<qsizetype> ends;
    qsizetype lineStart = 0;
    for (int line = 0; line < 7; ++line) {
        const qsizetype comma = bytes.indexOf("\",", lineStart) + 1; // after the label's quote
        ends << comma;
        const qsizetype lineEnd = bytes.indexOf("\r\n", comma);
        ends << lineEnd;
        lineStart = lineEnd + 2;
    }
    return ends;
}

// Copies the first `count` values of `from` over `into`, in file order.
Settings firstValues(const Settings& from, Settings into, int count) {
    if (count > 0)
        into.iniPort = from.iniPort;
    if (count > 1)
        into.iniBaud = from.iniBaud;
    if (count > 2)
        into.iniAddress = from.iniAddress;
    if (count > 3)
        into.iniCommand = from.iniCommand;
    if (count > 4)
        into.ipAddress = from.ipAddress;
    if (count > 5)
        into.ipPort = from.ipPort;
    if (count > 6)
        into.comFormat = from.comFormat;
    return into;
}

} // namespace

class TestSettingsCodec : public QObject {
    Q_OBJECT
private slots:
    void defaultFileBytes() {
        const QString ip = vmx::defaultIpAddress();
        const QByteArray bytes = vmx::encodeSettings(vmx::defaultSettings(0));
        const QByteArray line5 = "\"IP Address=\",\"" + ip.toLatin1() + "\"\r\n";
        const QByteArray expected = "\"Serial port=\",1\r\n"
                                    "\"Baud rate=\",4\r\n"
                                    "\"Address=\",1\r\n"
                                    "\"Command=\",\"RD\"\r\n" +
                                    line5 +
                                    "\"IP port=\",\"5000\"\r\n"
                                    "\"COM format=\",0\r\n";
        QCOMPARE(bytes, expected);
        QCOMPARE(line5.size(), 18 + ip.size());
        QCOMPARE(QByteArray(bytes).replace(line5, QByteArray()).size(), 101);

        // The format is not reset by a first start: it keeps what it holds.
        QCOMPARE(vmx::defaultSettings(1).comFormat, 1.0f);
        QVERIFY(vmx::encodeSettings(vmx::defaultSettings(1)).endsWith("\"COM format=\",1\r\n"));

        Settings back = untouched();
        QVERIFY(vmx::decodeSettings(bytes, back));
        COMPARE_SETTINGS(back, vmx::defaultSettings(0));
    }

    void defaultAddressIsPrivateIpv4() {
        const QStringList parts = vmx::defaultIpAddress().split(u'.');
        QCOMPARE(parts.size(), 4);
        QList<int> octets;
        for (const QString& part : parts) {
            bool ok = false;
            const int value = part.toInt(&ok);
            QVERIFY(ok && value >= 0 && value <= 255 && QString::number(value) == part);
            octets << value;
        }
        const bool privateRange = octets[0] == 10 ||
                                  (octets[0] == 172 && octets[1] >= 16 && octets[1] <= 31) ||
                                  (octets[0] == 192 && octets[1] == 168);
        QVERIFY(privateRange);
    }

    void roundTrip_data() {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<Settings>("expected");
        const QString ip = vmx::defaultIpAddress();
        const auto same = [](const char* name, const Settings& s) {
            QTest::newRow(name) << s << s;
        };
        same("defaults", vmx::defaultSettings(0));
        same("udp 2400 N81", make(99, 2, 1, "RD", "127.0.0.1", "5001", 1));
        same("address typed 02", make(1, 4, vmx::numericValue(u"02"), "RD", ip, "5000", 0));
        same("empty address", make(1, 4, vmx::numericValue(u""), "RD", ip, "5000", 0));
        same("port code 7 kept", make(7, 4, 1, "RD", ip, "5000", 0));
        same("baud code 1.5 kept", make(1, 1.5f, 1, "RD", ip, "5000", 0));
        same("negative codes", make(-1, -4, -12, "RD", ip, "5000", -1));
        same("commas in texts", make(1, 4, 1, "RD,1,2", "127.0.0.1,x", ",", 0));
        same("empty texts", make(1, 4, 1, "", "", "", 0));
        same("blanks kept in texts", make(1, 4, 1, "  RD ", " ", "\t5000", 0));
        same("latin-1 texts",
             make(1, 4, 1, QStringLiteral("Gr\u00FC\u00DFe \u00FF"), ip, "5000", 0));
        same("NUL inside a text", make(1, 4, 1, QString::fromLatin1("R\0D", 3), ip, "5000", 0));
        // A quote in a text: the lines after it must still be read right.
        same("quote comma in command", make(2, 3, 5, "a\",b", ip, "5000", 1));
        same("lone quote command", make(2, 3, 5, "\"", ip, "5000", 1));
        same("two quotes command", make(2, 3, 5, "\"\"", ip, "5000", 1));
        same("quote at end", make(2, 3, 5, "RD\"", ip, "5000", 1));
        same("quote at start", make(2, 3, 5, "\"RD", ip, "5000", 1));
        same("label-like text", make(2, 3, 5, "x\",\"IP Address=\",\"y", ip, "5000", 1));
        same("quote comma in ip", make(99, 3, 5, "RD", "127.0.0.1\",", "5000", 1));
        same("quote in port", make(99, 3, 5, "RD", "127.0.0.1", "50\"00\",", 1));
        same("quotes everywhere", make(3, 1, 7, "\",\"", "\",", ",\"", 0));
        same("fraction address", make(1, 4, 2.5f, "RD", ip, "5000", 0));
        same("tenth", make(1, 4, 0.1f, "RD", ip, "5000", 0));
        same("seven digits", make(1, 4, 9999999.0f, "RD", ip, "5000", 0));
        same("eight digits", make(1, 4, 10000000.0f, "RD", ip, "5000", 0));
        same("not whole, large", make(1, 4, 12345678.0f, "RD", ip, "5000", 0));
        same("largest float", make(1, 4, FLT_MAX, "RD", ip, "5000", 0));
        same("lowest float", make(1, 4, -FLT_MAX, "RD", ip, "5000", 0));
        same("smallest normal", make(1, 4, FLT_MIN, "RD", ip, "5000", 0));
        same("smallest subnormal",
             make(1, 4, std::numeric_limits<float>::denorm_min(), "RD", ip, "5000", 0));
        same("address 1e39 typed", make(1, 4, vmx::numericValue(u"1e39"), "RD", ip, "5000", 0));

        QTest::newRow("negative zero reads as zero")
            << make(-0.0f, 4, -0.0f, "RD", ip, "5000", -0.0f) << make(0, 4, 0, "RD", ip, "5000", 0);
        QTest::newRow("infinity written as largest float")
            << make(1, 4, std::numeric_limits<float>::infinity(), "RD", ip, "5000", 0)
            << make(1, 4, FLT_MAX, "RD", ip, "5000", 0);
        QTest::newRow("minus infinity written as lowest float")
            << make(1, 4, -std::numeric_limits<float>::infinity(), "RD", ip, "5000", 0)
            << make(1, 4, -FLT_MAX, "RD", ip, "5000", 0);
        QTest::newRow("beyond latin-1 becomes ?")
            << make(1, 4, 1, QStringLiteral("R\u20ACD\U0001F600"), ip, "5000", 0)
            << make(1, 4, 1, "R?D?", ip, "5000", 0);
        QTest::newRow("line ends in a text become ?")
            << make(1, 4, 1, "R\r\nD", "127.0.0.1\n", "\r5000", 0)
            << make(1, 4, 1, "R??D", "127.0.0.1?", "?5000", 0);
    }

    void roundTrip() {
        QFETCH(Settings, settings);
        QFETCH(Settings, expected);
        const QByteArray bytes = vmx::encodeSettings(settings);
        Settings back = untouched();
        QVERIFY(vmx::decodeSettings(bytes, back));
        COMPARE_SETTINGS(back, expected);
        // Seven lines exactly, whatever the texts hold.
        QCOMPARE(bytes.count("\r\n"), 7);
        QCOMPARE(bytes.count('\n'), 7);
        QCOMPARE(bytes.count('\r'), 7);
        // Writing what was read gives the same file again.
        QCOMPARE(vmx::encodeSettings(back), vmx::encodeSettings(expected));
    }

    void addressShownAfterLoad_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("leading zero dropped") << "02"
                                              << "2";
        QTest::newRow("empty is zero") << ""
                                       << "0";
        QTest::newRow("one") << "1"
                             << "1";
        QTest::newRow("blanks inside") << " 1 2 "
                                       << "12";
        QTest::newRow("letters after") << "12abc"
                                       << "12";
        QTest::newRow("fraction") << "2.50"
                                  << "2.5";
        QTest::newRow("negative") << "-7"
                                  << "-7";
        QTest::newRow("minus zero") << "-0"
                                    << "0";
        QTest::newRow("seven nines") << "9999999"
                                     << "9999999";
        QTest::newRow("comma is not a separator") << "2,5"
                                                  << "2";
    }

    void addressShownAfterLoad() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        Settings s = vmx::defaultSettings(0);
        s.iniAddress = vmx::numericValue(typed);
        Settings back = untouched();
        QVERIFY(vmx::decodeSettings(vmx::encodeSettings(s), back));
        QCOMPARE(vmx::formatSettingsNumber(back.iniAddress), shown);
    }

    void wholeNumbersAsDigits_data() {
        QTest::addColumn<float>("value");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("1") << 1.0f << QByteArray("1");
        QTest::newRow("4") << 4.0f << QByteArray("4");
        QTest::newRow("99") << 99.0f << QByteArray("99");
        QTest::newRow("0") << 0.0f << QByteArray("0");
        QTest::newRow("12") << 12.0f << QByteArray("12");
        QTest::newRow("-0") << -0.0f << QByteArray("0");
        QTest::newRow("-1") << -1.0f << QByteArray("-1");
        QTest::newRow("9999999") << 9999999.0f << QByteArray("9999999");
        QTest::newRow("-9999999") << -9999999.0f << QByteArray("-9999999");
        QTest::newRow("2.5") << 2.5f << QByteArray("2.5");
        QTest::newRow("-0.25") << -0.25f << QByteArray("-0.25");
        QTest::newRow("0.1") << 0.1f << QByteArray("0.1");
        QTest::newRow("nan") << std::numeric_limits<float>::quiet_NaN() << QByteArray("0");
    }

    void wholeNumbersAsDigits() {
        QFETCH(float, value);
        QFETCH(QByteArray, text);
        QCOMPARE(vmx::formatSettingsNumber(value).toLatin1(), text);
        Settings s = vmx::defaultSettings(0);
        s.iniAddress = value;
        QVERIFY(vmx::encodeSettings(s).contains("\r\n\"Address=\"," + text + "\r\n"));
    }

    // Any finite float comes back bit for bit through the file and through the address box.
    void everyFloatReadsBack() {
        QRandomGenerator random(20240611u);
        QList<float> values = {10000000.0f,
                               -10000000.0f,
                               16777216.0f,
                               1e-7f,
                               123456.789f,
                               FLT_MAX,
                               -FLT_MAX,
                               FLT_MIN,
                               std::numeric_limits<float>::denorm_min(),
                               std::nextafter(1.0f, 2.0f),
                               std::nextafter(9999999.0f, 0.0f),
                               std::nextafter(9999999.0f, 1e8f)};
        for (int i = 0; i < 20000; ++i) {
            const float f = std::bit_cast<float>(random.generate());
            if (std::isfinite(f))
                values << f;
        }
        for (const float value : values) {
            const QString text = vmx::formatSettingsNumber(value);
            QVERIFY2(!text.contains(u',') && !text.contains(u' '), qPrintable(text));
            const float typed = vmx::numericValue(text);
            QVERIFY2(std::bit_cast<std::uint32_t>(typed) == std::bit_cast<std::uint32_t>(value) ||
                         (value == 0 && typed == 0),
                     qPrintable(text));
            Settings s = vmx::defaultSettings(0);
            s.iniAddress = value;
            Settings back = untouched();
            QVERIFY(vmx::decodeSettings(vmx::encodeSettings(s), back));
            QVERIFY2(back.iniAddress == value, qPrintable(text));
            // Shortest: where the text is free to drop digits (a fraction or an exponent), one
            // significant digit fewer would no longer read back.
            if (text.contains(u'.') || text.contains(u'e')) {
                QString digits;
                for (const QChar c : text.section(u'e', 0, 0))
                    if (c.isDigit())
                        digits += c;
                while (digits.startsWith(u'0'))
                    digits.remove(0, 1);
                while (digits.endsWith(u'0'))
                    digits.chop(1);
                if (digits.size() > 1) {
                    const QString shorter = QString::number(double(value), 'g', digits.size() - 1);
                    QVERIFY2(vmx::numericValue(shorter) != value,
                             qPrintable(text + QStringLiteral(" could be ") + shorter));
                }
            }
        }
    }

    void numericValue_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<float>("value");
        QTest::newRow("02") << "02" << 2.0f;
        QTest::newRow("12abc") << "12abc" << 12.0f;
        QTest::newRow("empty") << "" << 0.0f;
        QTest::newRow("letters") << "abc" << 0.0f;
        QTest::newRow("blanks anywhere") << " 1 2\t3\n4\r5 " << 12345.0f;
        QTest::newRow("plus") << "+4" << 4.0f;
        QTest::newRow("minus") << "-4" << -4.0f;
        QTest::newRow("minus blank") << "- 4" << -4.0f;
        QTest::newRow("two signs") << "--4" << 0.0f;
        QTest::newRow("sign only") << "-" << 0.0f;
        QTest::newRow("period only") << "." << 0.0f;
        QTest::newRow("fraction") << "1.5" << 1.5f;
        QTest::newRow("no integer part") << ".5" << 0.5f;
        QTest::newRow("minus no integer part") << "-.25" << -0.25f;
        QTest::newRow("trailing period") << "5." << 5.0f;
        QTest::newRow("second period stops") << "1.2.3" << 1.2f;
        QTest::newRow("comma stops") << "2,5" << 2.0f;
        QTest::newRow("exponent") << "1e3" << 1000.0f;
        QTest::newRow("exponent capital negative") << "25E-1" << 2.5f;
        QTest::newRow("exponent plus") << "2e+2" << 200.0f;
        QTest::newRow("exponent with blanks") << "1 e 2" << 100.0f;
        QTest::newRow("exponent without digits") << "1e" << 1.0f;
        QTest::newRow("exponent sign without digits") << "7e-x" << 7.0f;
        QTest::newRow("1e39 held at largest float") << "1e39" << FLT_MAX;
        QTest::newRow("-1e39 held at lowest float") << "-1e39" << -FLT_MAX;
        QTest::newRow("largest float text") << "3.4028235e38" << FLT_MAX;
        QTest::newRow("just beyond float") << "3.5e38" << FLT_MAX;
        QTest::newRow("huge exponent") << "1e99999999999999999999" << FLT_MAX;
        QTest::newRow("huge negative exponent") << "-1e-99999999999999999999" << 0.0f;
        QTest::newRow("too small") << "1e-50" << 0.0f;
        QTest::newRow("zero with exponent") << "0e99999" << 0.0f;
        QTest::newRow("hexadecimal") << "0x10" << 0.0f;
        QTest::newRow("inf") << "inf" << 0.0f;
        QTest::newRow("nan") << "nan" << 0.0f;
        QTest::newRow("no-break space stops") << QStringLiteral("1\u00A02") << 1.0f;
        QTest::newRow("full-width digit") << QStringLiteral("\uFF11") << 0.0f;
        QTest::newRow("many digits") << QString(1000, u'1') << FLT_MAX;
        QTest::newRow("million-digit fraction")
            << QStringLiteral("0.") + QString(1000000, u'3') << 1.0f / 3.0f;
        // 0.000...1 with a million zeros, scaled back up by the exponent: 1e4.
        QTest::newRow("long fraction, large exponent")
            << QStringLiteral("0.") + QString(1000000, u'0') + QStringLiteral("1e1000005")
            << 10000.0f;
        QTest::newRow("long integer, small exponent")
            << QStringLiteral("25") + QString(1000000, u'0') + QStringLiteral("e-1000001") << 2.5f;
        // Halfway between 1 and the next float, and 2^-80 either side of it: all three read as
        // the same double, so a reading through double would round them alike.
        QTest::newRow("float midpoint goes to even") << "1.000000059604644775390625" << 1.0f;
        QTest::newRow("just above a float midpoint")
            << "1.00000005960464477539062582718061255302767487140869206996285356581211090087890625"
            << std::nextafter(1.0f, 2.0f);
        QTest::newRow("just below a float midpoint")
            << "1.00000005960464477539062417281938744697232512859130793003714643418788909912109375"
            << 1.0f;
    }

    void numericValue() {
        QFETCH(QString, text);
        QFETCH(float, value);
        const float got = vmx::numericValue(text);
        QVERIFY2(got == value, qPrintable(QStringLiteral("%1 instead of %2")
                                              .arg(double(got), 0, 'g', 9)
                                              .arg(double(value), 0, 'g', 9)));
        QVERIFY(std::isfinite(got));
    }

    void numberTextIsLocaleFree() {
        const QLocale previousLocale;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const std::string previousC = std::setlocale(LC_ALL, nullptr);
        const bool haveGerman = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;

        Settings s = vmx::defaultSettings(0);
        s.iniAddress = 2.5f;
        s.iniPort = 1234567;
        const QByteArray bytes = vmx::encodeSettings(s);
        Settings back = untouched();
        const bool decoded = vmx::decodeSettings(bytes, back);
        const float typed = vmx::numericValue(u"0.75");
        const QString large = vmx::formatSettingsNumber(12345678.5f);

        std::setlocale(LC_ALL, previousC.c_str());
        QLocale::setDefault(previousLocale);

        QVERIFY(bytes.contains("\"Address=\",2.5\r\n"));
        QVERIFY(bytes.contains("\"Serial port=\",1234567\r\n"));
        QVERIFY(decoded);
        QCOMPARE(back.iniAddress, 2.5f);
        QVERIFY(typed == 0.75f);
        QVERIFY(!large.contains(u','));
        QVERIFY(vmx::numericValue(large) == 12345678.5f);
        if (!haveGerman)
            QSKIP("the de_DE.UTF-8 C locale is not installed; only the Qt default locale was "
                  "switched");
    }

    void handEditedFiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QList<QByteArray> values = {"2",        "3", "17", "\"RD,X\"", "\"127.0.0.1\"",
                                          "\"5001\"", "1"};
        QTest::newRow("as written") << fileOf(kLabels, values, "\r\n");
        QTest::newRow("LF only") << fileOf(kLabels, values, "\n");
        QTest::newRow("CR only") << fileOf(kLabels, values, "\r");
        QTest::newRow("no line end at the end") << fileOf(kLabels, values, "\r\n").chopped(2);
        QTest::newRow("other labels")
            << fileOf({"\"Port\"", "\"\"", "\"Adresse:\"", "\"x,y\"", "\"IP\"", "\"p\"", "\"f\""},
                      values, "\r\n");
        QTest::newRow("labels without quotes")
            << fileOf({"Serial port=", "Baud rate=", "Address=", "Command=", "IP Address=",
                       "IP port=", "COM format="},
                      values, "\r\n");
        QTest::newRow("empty labels") << fileOf({"", "", "", "", "", "", ""}, values, "\n");
        QTest::newRow("extra lines after")
            << fileOf(kLabels, values, "\r\n") + "\"Extra=\",5\r\n\"More\",\"x\"\r\njunk,,,\r\n";
        QTest::newRow("empty lines between")
            << QByteArray(fileOf(kLabels, values, "\r\n")).replace("\r\n", "\r\n\r\n\n");
        QTest::newRow("blanks around") << fileOf(
            {" \"Serial port=\" ", "\t\"Baud rate=\"", "\"Address=\"  ", "\"Command=\"",
             "\"IP Address=\"", "\"IP port=\"", "\"COM format=\""},
            {" 2 ", "\t3\t", "  17", " \"RD,X\"  ", "\"127.0.0.1\"\t", " \"5001\" ", "1   "},
            "\r\n");
        QTest::newRow("quoted numbers") << fileOf(
            kLabels, {"\"2\"", "\"3\"", "\"17\"", "\"RD,X\"", "\"127.0.0.1\"", "\"5001\"", "\"1\""},
            "\r\n");
        QTest::newRow("unquoted texts")
            << fileOf(kLabels, {"2", "3", "17.0", "\"RD,X\"", " 127.0.0.1", "5001", "1e0"}, "\n");
        QTest::newRow("several pairs on one line")
            << QByteArray("\"Serial port=\",2,\"Baud rate=\",3,\"Address=\",17\r\n"
                          "\"Command=\",\"RD,X\"\r\n\"IP Address=\",\"127.0.0.1\"\r\n"
                          "\"IP port=\",\"5001\"\r\n\"COM format=\",1,\"more\",9\r\n");
        QTest::newRow("line break between label and value")
            << fileOf({"\"Serial port=\"\r\n", "\"Baud rate=\"\n", "\"Address=\"", "\"Command=\"",
                       "\"IP Address=\"", "\"IP port=\"", "\"COM format=\""},
                      values, "\r\n")
                   .replace("\"\r\n,", "\"\r\n")
                   .replace("\"\n,", "\"\n");
    }

    void handEditedFiles() {
        QFETCH(QByteArray, bytes);
        Settings s = untouched();
        QVERIFY(vmx::decodeSettings(bytes, s));
        COMPARE_SETTINGS(s, make(2, 3, 17, "RD,X", "127.0.0.1", "5001", 1));
    }

    void numberItemsThatAreNotNumbers_data() {
        QTest::addColumn<QByteArray>("item");
        QTest::addColumn<float>("value");
        QTest::newRow("letters") << QByteArray("abc") << 0.0f;
        QTest::newRow("empty") << QByteArray("") << 0.0f;
        QTest::newRow("blank") << QByteArray("   ") << 0.0f;
        QTest::newRow("number then letters") << QByteArray("12abc") << 12.0f;
        QTest::newRow("letters then number") << QByteArray("x1") << 0.0f;
        QTest::newRow("quoted letters") << QByteArray("\"abc\"") << 0.0f;
        QTest::newRow("quoted comma decimal") << QByteArray("\"2,5\"") << 2.0f;
        QTest::newRow("inf") << QByteArray("inf") << 0.0f;
        QTest::newRow("1e39") << QByteArray("1e39") << FLT_MAX;
        QTest::newRow("binary") << QByteArray("\x01\xff\x7f", 3) << 0.0f;
        QTest::newRow("NUL then digit") << QByteArray("\0"
                                                      "5",
                                                      2)
                                        << 0.0f;
    }

    // A number item that is no number reads as 0 (or as its leading number) and never
    // disturbs the items after it.
    void numberItemsThatAreNotNumbers() {
        QFETCH(QByteArray, item);
        QFETCH(float, value);
        const QList<QByteArray> good = {"2", "3", "17", "\"RD\"", "\"127.0.0.1\"", "\"5001\"", "1"};
        for (const int slot : {0, 1, 2, 6}) {
            QList<QByteArray> values = good;
            values[slot] = item;
            Settings s = untouched();
            QVERIFY(vmx::decodeSettings(fileOf(kLabels, values, "\r\n"), s));
            Settings expected = make(2, 3, 17, "RD", "127.0.0.1", "5001", 1);
            float* const targets[] = {
                &expected.iniPort, &expected.iniBaud, &expected.iniAddress, nullptr,
                nullptr,           nullptr,           &expected.comFormat};
            *targets[slot] = value;
            COMPARE_SETTINGS(s, expected);
        }
    }

    void quotedValueTakesItsLine_data() {
        QTest::addColumn<QByteArray>("line4");
        QTest::addColumn<QString>("command");
        QTest::newRow("more items after the quote")
            << QByteArray("\"Command=\",\"RD\",\"junk\"") << "RD\",\"junk";
        QTest::newRow("blanks after the quote") << QByteArray("\"Command=\",\"RD\"  ") << "RD";
        QTest::newRow("text after the quote") << QByteArray("\"Command=\",\"RD\" x") << "RD";
        QTest::newRow("no closing quote") << QByteArray("\"Command=\",\"RD, x") << "RD, x";
        QTest::newRow("nothing after the opening quote") << QByteArray("\"Command=\",\"") << "";
        QTest::newRow("label without closing quote") << QByteArray("\"Command=\r\n\"RD\"") << "RD";
    }

    void quotedValueTakesItsLine() {
        QFETCH(QByteArray, line4);
        QFETCH(QString, command);
        const QByteArray bytes = "\"Serial port=\",2\r\n\"Baud rate=\",3\r\n\"Address=\",17\r\n" +
                                 line4 +
                                 "\r\n\"IP Address=\",\"127.0.0.1\"\r\n\"IP port=\",\"5001\"\r\n"
                                 "\"COM format=\",1\r\n";
        Settings s = untouched();
        QVERIFY(vmx::decodeSettings(bytes, s));
        COMPARE_SETTINGS(s, make(2, 3, 17, command, "127.0.0.1", "5001", 1));
    }

    void emptyFile_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("blank lines") << QByteArray(" \r\n\t\n\r\r\n");
        QTest::newRow("one line") << QByteArray("\"Serial port=\",2\r\n");
        QTest::newRow("thirteen items") << QByteArray("a,1,b,2,c,3,d,e,f,g,h,i,j");
        QTest::newRow("thirteen items and a comma") << QByteArray("a,1,b,2,c,3,d,e,f,g,h,i,j,");
        QTest::newRow("quoted value takes the rest of the line")
            << QByteArray("a,1,b,2,c,3,d,\"e\",f,\"g\",h,\"i\",j,k");
    }

    void emptyFile() {
        QFETCH(QByteArray, bytes);
        Settings s = untouched();
        QVERIFY(!vmx::decodeSettings(bytes, s));
    }

    // Cut after each item (just after its text, and after its comma or line end): the load fails
    // and the values read before the cut are kept.
    void cutShortAfterEveryItem() {
        const Settings full = make(99, 2, 12.5f, "RD,\"x", "127.0.0.1", "5001", 1);
        const QByteArray bytes = vmx::encodeSettings(full);
        const QList<qsizetype> ends = itemEnds(bytes);
        QCOMPARE(ends.size(), 14);
        for (int item = 1; item <= 13; ++item) {
            const qsizetype end = ends[item - 1];
            for (const qsizetype cut : {end, end + (item % 2 ? 1 : 2)}) {
                Settings s = untouched();
                QVERIFY2(!vmx::decodeSettings(bytes.left(cut), s),
                         qPrintable(QStringLiteral("cut after item %1 at %2").arg(item).arg(cut)));
                COMPARE_SETTINGS(s, firstValues(full, untouched(), item / 2));
            }
        }
        for (const qsizetype cut : {ends[13], ends[13] + 1, ends[13] + 2}) {
            Settings s = untouched();
            QVERIFY(vmx::decodeSettings(bytes.left(cut), s));
            COMPARE_SETTINGS(s, full);
        }
    }

    // Every shorter prefix of a written file fails, down to the last digit of the format.
    void everyPrefixOfAFile() {
        const QByteArray bytes = vmx::encodeSettings(vmx::defaultSettings(0));
        for (qsizetype size = 0; size <= bytes.size(); ++size) {
            Settings s = untouched();
            QCOMPARE(vmx::decodeSettings(bytes.left(size), s), size >= bytes.size() - 2);
        }
    }

    void nulBytes() {
        QByteArray bytes = vmx::encodeSettings(make(2, 3, 17, "RD", "127.0.0.1", "5001", 1));
        bytes.replace("\"Command=\",\"RD\"", QByteArray("\"Com\0mand=\",\"R\0D\0\"", 18));
        Settings s = untouched();
        QVERIFY(vmx::decodeSettings(bytes, s));
        COMPARE_SETTINGS(s,
                         make(2, 3, 17, QString::fromLatin1("R\0D\0", 4), "127.0.0.1", "5001", 1));

        Settings zeros = untouched();
        QVERIFY(!vmx::decodeSettings(QByteArray(1 << 20, '\0'), zeros));
        COMPARE_SETTINGS(zeros, untouched());
    }

    // Random bytes: whatever is read, never a crash, and writing it gives a file that reads back
    // to exactly the same values.
    void binaryGarbage() {
        QRandomGenerator random(77u);
        int decoded = 0;
        for (int round = 0; round < 3000; ++round) {
            const int size = int(random.bounded(1, 400));
            QByteArray bytes(size, Qt::Uninitialized);
            // Some rounds draw from the bytes that matter to the reader only.
            static const char kSpecial[] = {',', '"', '\r', '\n', ' ', '\t', '1', 'e', '.', '\0'};
            const bool special = round % 2 == 0;
            for (char& c : bytes)
                c = special ? kSpecial[random.bounded(int(sizeof kSpecial))]
                            : char(random.bounded(256));
            Settings s = untouched();
            if (!vmx::decodeSettings(bytes, s))
                continue;
            ++decoded;
            QVERIFY(std::isfinite(s.iniPort) && std::isfinite(s.iniAddress));
            Settings again = untouched();
            QVERIFY(vmx::decodeSettings(vmx::encodeSettings(s), again));
            COMPARE_SETTINGS(again, s);
        }
        QVERIFY(decoded > 0);

        // No comma and no line end: one item only.
        QByteArray noDelimiters(100000, Qt::Uninitialized);
        for (char& c : noDelimiters) {
            c = char(random.bounded(256));
            if (c == ',' || c == '\r' || c == '\n')
                c = 'x';
        }
        Settings s = untouched();
        QVERIFY(!vmx::decodeSettings(noDelimiters, s));
        COMPARE_SETTINGS(s, untouched());
    }

    void tenMegabyteLine_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("loads");
        const qsizetype ten = 10 * 1024 * 1024;
        QTest::newRow("letters") << QByteArray(ten, 'A') << false;
        QTest::newRow("quotes") << QByteArray(ten, '"') << false;
        QTest::newRow("blanks") << QByteArray(ten, ' ') << false;
        QTest::newRow("digits after a label")
            << "\"Serial port=\"," + QByteArray(ten, '7') << false;
        QTest::newRow("quote comma") << QByteArray("\",").repeated(ten / 2) << false;
        QTest::newRow("commas") << QByteArray(ten, ',') << true;
        QTest::newRow("quote in front of letters")
            << "a,1,b,2,c,3,d,\"" + QByteArray(ten, 'x') << false;
    }

    void tenMegabyteLine() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, loads);
        Settings s = untouched();
        QCOMPARE(vmx::decodeSettings(bytes, s), loads);
    }

    void tenMegabyteCommandReadsBack() {
        Settings s = make(2, 3, 17, QString(10 * 1024 * 1024, u'x') + QStringLiteral("\","),
                          "127.0.0.1", "5001", 1);
        Settings back = untouched();
        QVERIFY(vmx::decodeSettings(vmx::encodeSettings(s), back));
        COMPARE_SETTINGS(back, s);
    }

    // The index in kOptionCodes; the window's option buttons come in the same order.
    void optionForFileCode_data() {
        QTest::addColumn<vmx::OptionGroup>("group");
        QTest::addColumn<float>("code");
        QTest::addColumn<int>("option");
        using G = vmx::OptionGroup;
        QTest::newRow("port 1") << G::Port << 1.0f << 0;
        QTest::newRow("port 2") << G::Port << 2.0f << 1;
        QTest::newRow("port 3") << G::Port << 3.0f << 2;
        QTest::newRow("port 4") << G::Port << 4.0f << 3;
        QTest::newRow("port 99 is udp") << G::Port << 99.0f << 4;
        QTest::newRow("port 7") << G::Port << 7.0f << -1;
        QTest::newRow("port 1.5") << G::Port << 1.5f << -1;
        QTest::newRow("port -1") << G::Port << -1.0f << -1;
        QTest::newRow("port 0") << G::Port << 0.0f << -1;
        QTest::newRow("port 5 is not udp") << G::Port << 5.0f << -1;
        QTest::newRow("port just above 1") << G::Port << std::nextafter(1.0f, 2.0f) << -1;
        QTest::newRow("baud 1") << G::Baud << 1.0f << 5;
        QTest::newRow("baud 4") << G::Baud << 4.0f << 8;
        QTest::newRow("baud 99") << G::Baud << 99.0f << -1;
        QTest::newRow("baud 0") << G::Baud << 0.0f << -1;
        QTest::newRow("format 0") << G::Format << 0.0f << 9;
        QTest::newRow("format -0") << G::Format << -0.0f << 9;
        QTest::newRow("format 1") << G::Format << 1.0f << 10;
        QTest::newRow("format 2") << G::Format << 2.0f << -1;
        QTest::newRow("format 0.5") << G::Format << 0.5f << -1;
        QTest::newRow("format nan") << G::Format << std::numeric_limits<float>::quiet_NaN() << -1;
    }

    void optionForFileCode() {
        QFETCH(vmx::OptionGroup, group);
        QFETCH(float, code);
        QFETCH(int, option);
        QCOMPARE(vmx::optionForFileCode(group, code), option);
    }
};

QTEST_GUILESS_MAIN(TestSettingsCodec)
#include "tst_settings_codec.moc"
