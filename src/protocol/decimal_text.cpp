#include "protocol/decimal_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <system_error>

namespace vmx {

namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Adds without leaving a range wide enough for any exponent a text can spell.
std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    constexpr std::int64_t kLimit = std::int64_t(1) << 60;
    const std::int64_t sum = a + b; // both operands stay within kLimit, so this cannot overflow
    return sum > kLimit ? kLimit : (sum < -kLimit ? -kLimit : sum);
}

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

    // The digits are checked here and handed on as plain ASCII, so the conversion below never
    // sees a form it would read differently (a leading '+', "nan", "inf", hexadecimal).
    std::string ascii;
    ascii.reserve(std::size_t(end - begin));
    qsizetype i = begin;
    if (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')) {
        if (text[i] == QLatin1Char('-'))
            ascii.push_back('-');
        ++i;
    }

    // Decimal position of the first significant digit, for telling an overflow from an
    // underflow when the value does not fit.
    bool seenSignificant = false;
    std::int64_t magnitude = 0;
    qsizetype digits = 0;

    while (i < end && isDigit(text[i])) {
        const char c = char(text[i].unicode());
        if (seenSignificant)
            magnitude = saturatingAdd(magnitude, 1);
        else if (c != '0')
            seenSignificant = true;
        ascii.push_back(c);
        ++digits;
        ++i;
    }
    if (i < end && text[i] == QLatin1Char('.')) {
        ascii.push_back('.');
        ++i;
        while (i < end && isDigit(text[i])) {
            const char c = char(text[i].unicode());
            if (!seenSignificant) {
                magnitude = saturatingAdd(magnitude, -1);
                if (c != '0')
                    seenSignificant = true;
            }
            ascii.push_back(c);
            ++digits;
            ++i;
        }
    }
    if (digits == 0)
        return std::nullopt;

    if (i < end && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        ascii.push_back('e');
        ++i;
        bool negative = false;
        if (i < end && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
            negative = text[i] == QLatin1Char('-');
            ascii.push_back(char(text[i].unicode()));
            ++i;
        }
        std::int64_t exponent = 0;
        qsizetype exponentDigits = 0;
        while (i < end && isDigit(text[i])) {
            const int d = text[i].unicode() - '0';
            exponent = exponent > (std::int64_t(1) << 50) ? exponent : exponent * 10 + d;
            ascii.push_back(char(text[i].unicode()));
            ++exponentDigits;
            ++i;
        }
        if (exponentDigits == 0)
            return std::nullopt;
        magnitude = saturatingAdd(magnitude, negative ? -exponent : exponent);
    }
    if (i != end)
        return std::nullopt;

    double value = 0;
    const char* first = ascii.data();
    const char* last = ascii.data() + ascii.size();
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ptr != last)
        return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        // Too small to tell from zero is still a number; too large for a double is not.
        if (!seenSignificant || magnitude >= 0)
            return std::nullopt;
        return ascii.front() == '-' ? -0.0 : 0.0;
    }
    if (ec != std::errc() || !std::isfinite(value))
        return std::nullopt;
    return value;
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
