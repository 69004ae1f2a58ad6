#include "numbers/nearest_binary.h"
#include "protocol/decimal_text.h"

#include <QRandomGenerator>
#include <QTest>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

using vmx::parseDecimal;
using vmx::roundHalfEven;

class TestDecimalText : public QObject {
    Q_OBJECT
private slots:
    void accepts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");

        QTest::newRow("digits") << "02" << 2.0;
        QTest::newRow("zero") << "0" << 0.0;
        QTest::newRow("blanks around") << "  5  " << 5.0;
        QTest::newRow("tabs around") << "\t\t17\t" << 17.0;
        QTest::newRow("plus sign") << "+12" << 12.0;
        QTest::newRow("minus sign") << "-1" << -1.0;
        QTest::newRow("fraction") << "5.5" << 5.5;
        QTest::newRow("leading period") << ".25" << 0.25;
        QTest::newRow("trailing period") << "7." << 7.0;
        QTest::newRow("exponent") << "1e3" << 1000.0;
        QTest::newRow("capital exponent with sign") << "2.5E-1" << 0.25;
        QTest::newRow("exponent with plus") << "4e+2" << 400.0;
        QTest::newRow("largest order") << "1e308" << 1e308;
        QTest::newRow("largest double")
            << "1.7976931348623157e308" << std::numeric_limits<double>::max();
        QTest::newRow("many leading zeros") << QString(500, QLatin1Char('0')) + "42" << 42.0;
        QTest::newRow("too small to tell from zero") << "1e-400" << 0.0;
        QTest::newRow("long fraction underflow")
            << "0." + QString(100000, QLatin1Char('0')) + "1" << 0.0;
        QTest::newRow("zero with a huge exponent") << "0e999999999999999999999" << 0.0;
        QTest::newRow("huge negative exponent") << "5e-99999999999999999999999" << 0.0;
    }

    void accepts() {
        QFETCH(QString, text);
        QFETCH(double, value);
        const std::optional<double> parsed = parseDecimal(text);
        QVERIFY(parsed.has_value());
        QCOMPARE(*parsed, value);
    }

    void keepsTheSignOfZero() {
        const std::optional<double> parsed = parseDecimal(u"-0");
        QVERIFY(parsed.has_value());
        QCOMPARE(*parsed, 0.0);
        QVERIFY(std::signbit(*parsed));
    }

    // QApplication takes the locale from the environment; a comma as decimal separator there
    // must change nothing.
    void sameUnderACommaLocale() {
        const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "de_DE"))
            QSKIP("no German locale on this machine");
        const std::optional<double> fraction = parseDecimal(u"12.5");
        const std::optional<double> exponent = parseDecimal(u"2.5E-1");
        const std::optional<double> comma = parseDecimal(u"1,5");
        std::setlocale(LC_NUMERIC, previous.c_str());
        QVERIFY(fraction.has_value() && exponent.has_value());
        QCOMPARE(*fraction, 12.5);
        QCOMPARE(*exponent, 0.25);
        QVERIFY(!comma.has_value());
    }

    void refuses_data() {
        QTest::addColumn<QString>("text");

        QTest::newRow("empty") << "";
        QTest::newRow("blanks only") << " \t  ";
        QTest::newRow("letters") << "ab";
        QTest::newRow("trailing letter") << "5a";
        QTest::newRow("sign alone") << "-";
        QTest::newRow("two signs") << "+-5";
        QTest::newRow("period alone") << ".";
        QTest::newRow("two periods") << "1.2.3";
        QTest::newRow("comma decimal") << "1,5";
        QTest::newRow("thousands separator") << "1 000";
        QTest::newRow("exponent without digits") << "1e";
        QTest::newRow("exponent sign without digits") << "1e+";
        QTest::newRow("exponent without mantissa") << "e5";
        QTest::newRow("fractional exponent") << "1e2.5";
        QTest::newRow("hexadecimal") << "0x10";
        QTest::newRow("hexadecimal float") << "0x1p3";
        QTest::newRow("nan") << "nan";
        QTest::newRow("NaN with sign") << "-NaN";
        QTest::newRow("inf") << "inf";
        QTest::newRow("infinity") << "Infinity";
        QTest::newRow("overflow") << "1e309";
        QTest::newRow("just above the largest double") << "1.7976931348623159e308";
        QTest::newRow("huge exponent") << "1e99999999999999999999";
        QTest::newRow("100000 nines") << QString(100000, QLatin1Char('9'));
        QTest::newRow("line feed after") << "5\n";
        QTest::newRow("no-break space before") << QStringLiteral("\u00A05");
        QTest::newRow("Arabic-Indic digit") << QStringLiteral("\u0665");
        QTest::newRow("fullwidth digit") << QStringLiteral("\uFF15");
        QTest::newRow("NUL after digits") << QString(QStringLiteral("5") + QChar(0));
    }

    void refuses() {
        QFETCH(QString, text);
        QVERIFY(!parseDecimal(text).has_value());
    }

    void roundsHalfToEven_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("rounded");

        QTest::newRow("0.5") << 0.5 << 0.0;
        QTest::newRow("1.5") << 1.5 << 2.0;
        QTest::newRow("2.5") << 2.5 << 2.0;
        QTest::newRow("9.5") << 9.5 << 10.0;
        QTest::newRow("-1.5") << -1.5 << -2.0;
        QTest::newRow("-2.5") << -2.5 << -2.0;
        QTest::newRow("9.6") << 9.6 << 10.0;
        QTest::newRow("9.4") << 9.4 << 9.0;
        QTest::newRow("just below half") << 0.49999999999999994 << 0.0;
        QTest::newRow("just above half") << 2.5000000000000004 << 3.0;
        QTest::newRow("whole") << 7.0 << 7.0;
        QTest::newRow("2^52 + 1") << 4503599627370497.0 << 4503599627370497.0;
        QTest::newRow("1e300") << 1e300 << 1e300;
    }

    // Short texts are read without the C library; what they give must still be what the C
    // library reads, bit for bit, within the short form's bounds and just beyond them.
    void shortNumbersAsTheCLibraryReadsThem() {
        QRandomGenerator random(20261208);
        for (int round = 0; round < 200000; ++round) {
            std::string digits(std::size_t(random.bounded(1, 18)), '0');
            for (char& digit : digits)
                digit = char('0' + random.bounded(10));
            const int exponent = random.bounded(-25, 26);
            const std::string text = digits + 'e' + std::to_string(exponent);

            const double wide = vmx::nearestDouble(digits, exponent);
            const double wideModel = std::strtod(text.c_str(), nullptr);
            QVERIFY2(std::memcmp(&wide, &wideModel, sizeof wide) == 0, text.c_str());
            const float narrow = vmx::nearestFloat(digits, exponent);
            const float narrowModel = std::strtof(text.c_str(), nullptr);
            QVERIFY2(std::memcmp(&narrow, &narrowModel, sizeof narrow) == 0, text.c_str());

            // And through the address and reading parser, with a period inside the digits.
            const std::size_t period = std::size_t(random.bounded(int(digits.size()) + 1));
            const std::string decimal = digits.substr(0, period) + '.' + digits.substr(period) +
                                        'e' + std::to_string(exponent);
            const std::optional<double> parsed = parseDecimal(QString::fromLatin1(decimal));
            const double parsedModel = std::strtod(decimal.c_str(), nullptr);
            QVERIFY2(parsed && std::memcmp(&*parsed, &parsedModel, sizeof parsedModel) == 0,
                     decimal.c_str());
        }
    }

    void roundsHalfToEven() {
        QFETCH(double, value);
        QFETCH(double, rounded);
        QCOMPARE(roundHalfEven(value), rounded);
    }

    void roundingLeavesNonFiniteValues() {
        QVERIFY(std::isnan(roundHalfEven(std::numeric_limits<double>::quiet_NaN())));
        QCOMPARE(roundHalfEven(std::numeric_limits<double>::infinity()),
                 std::numeric_limits<double>::infinity());
        QVERIFY(std::signbit(roundHalfEven(-0.25)));
    }
};

QTEST_GUILESS_MAIN(TestDecimalText)
#include "tst_decimal_text.moc"
