#include "protocol/decimal_text.h"

#include "numbers/nearest_binary.h"

#include <cmath>
#include <cstdint>
#include <string>

namespace vmx {

namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Far beyond any order a double can reach, and far from overflowing the sums below.
constexpr std::int64_t kExponentLimit = std::int64_t(1) << 50;

} // namespace

std::optional<double> parseDecimal(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    if (begin == end)
        return std::nullopt;

    // The form is checked here character by character; only plain digits and a decimal
    // exponent go on to the conversion, so no form it would read differently ("nan", "inf",
    // hexadecimal, a locale's separator) ever reaches it.
    qsizetype i = begin;
    bool negative = false;
    if (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }

    std::string digits; // integer and fraction digits together
    digits.reserve(std::size_t(end - i));
    std::int64_t fractionDigits = 0;
    while (i < end && isDigit(text[i]))
        digits.push_back(char(text[i++].unicode()));
    if (i < end && text[i] == QLatin1Char('.')) {
        ++i;
        while (i < end && isDigit(text[i])) {
            digits.push_back(char(text[i++].unicode()));
            ++fractionDigits;
        }
    }
    if (digits.empty())
        return std::nullopt;

    std::int64_t exponent = 0;
    if (i < end && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        ++i;
        bool negativeExponent = false;
        if (i < end && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
            negativeExponent = text[i] == QLatin1Char('-');
            ++i;
        }
        qsizetype exponentDigits = 0;
        while (i < end && isDigit(text[i])) {
            const int d = text[i].unicode() - '0';
            exponent = exponent > kExponentLimit ? exponent : exponent * 10 + d;
            ++exponentDigits;
            ++i;
        }
        if (exponentDigits == 0)
            return std::nullopt;
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != end)
        return std::nullopt;

    const double magnitude = nearestDouble(digits, exponent - fractionDigits);
    // Too large for a double is not a number; too small to tell from zero still is.
    if (!std::isfinite(magnitude))
        return std::nullopt;
    return negative ? -magnitude : magnitude;
}

double roundHalfEven(double value) {
    if (!std::isfinite(value))
        return value;
    const double below = std::floor(value);
    const double fraction = value - below; // exact: the fraction fits in the mantissa of value
    double result = below;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0))
        result = below + 1.0;
    return result == 0.0 ? std::copysign(0.0, value) : result;
}

} // namespace vmx
