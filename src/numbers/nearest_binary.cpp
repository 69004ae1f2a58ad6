#include "numbers/nearest_binary.h"

#include <array>
#include <cfloat>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>

namespace vmx {

namespace {

// A double needs at most 767 significant digits to settle its rounding; digits beyond this many
// only matter by whether any of them is not zero.
constexpr std::size_t kKeptDigits = 800;

// Far outside the range of a double, including its smallest subnormal.
constexpr std::int64_t kBeyondRange = 400;

// "<digits>e<exponent>" with leading and trailing zeros gone and the digits cut to kKeptDigits,
// a last '1' standing for whatever non-zero digits were cut. Empty when the value is zero;
// `order` receives the decimal order of the first digit.
std::string scientificText(std::string_view digits, std::int64_t exponent, std::int64_t& order) {
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string_view::npos)
        return {};
    digits.remove_prefix(first);
    const std::size_t last = digits.find_last_not_of('0');
    exponent += std::int64_t(digits.size() - last - 1);
    digits.remove_suffix(digits.size() - last - 1);
    order = exponent + std::int64_t(digits.size());

    std::string text;
    if (digits.size() > kKeptDigits) {
        // What is cut ends in a non-zero digit (trailing zeros are gone), so the sticky digit
        // is always due.
        text.assign(digits.substr(0, kKeptDigits));
        text.push_back('1');
        exponent += std::int64_t(digits.size() - kKeptDigits) - 1;
    } else {
        text.assign(digits);
    }
    text.push_back('e');
    text.append(std::to_string(exponent));
    return text;
}

// Most texts are short: an address, a port, a reading. With at most as many digits as the type
// holds exactly, and a power of ten the type also holds exactly, the value is one correctly
// rounded multiplication or division of two exact numbers (W. D. Clinger, "How to read floating
// point numbers accurately", 1990), and no text needs to be made for the C library. Only where
// the arithmetic is done in the type itself: wider registers would round twice.
template <typename Real>
std::optional<Real> shortValue(std::string_view digits, std::int64_t exponent) {
#if FLT_EVAL_METHOD == 0
    constexpr bool single = std::is_same_v<Real, float>;
    // 10^7 < 2^24 and 10^15 < 2^53; 10^10 = 2^10 * 5^10 with 5^10 < 2^24, 10^22 with 5^22 < 2^53.
    constexpr std::size_t kExactDigits = single ? 7 : 15;
    constexpr std::int64_t kExactPower = single ? 10 : 22;
    static constexpr auto kPowers = [] {
        std::array<Real, std::size_t(kExactPower) + 1> powers{};
        Real power = 1;
        for (Real& entry : powers) {
            entry = power;
            power *= 10;
        }
        return powers;
    }();
    if (digits.size() > kExactDigits || exponent > kExactPower || exponent < -kExactPower)
        return std::nullopt;
    std::uint64_t whole = 0;
    for (const char digit : digits)
        whole = whole * 10 + std::uint64_t(digit - '0');
    const Real value = Real(whole);
    return exponent >= 0 ? value * kPowers[std::size_t(exponent)]
                         : value / kPowers[std::size_t(-exponent)];
#else
    (void)digits;
    (void)exponent;
    return std::nullopt;
#endif
}

template <typename Real> Real nearest(std::string_view digits, std::int64_t exponent) {
    if (const std::optional<Real> value = shortValue<Real>(digits, exponent))
        return *value;
    // Orders past the type's range are settled here, so the exponent text stays small and no
    // library has to cope with an exponent of many digits.
    if (exponent > std::numeric_limits<std::int64_t>::max() / 4)
        return digits.find_first_not_of('0') == std::string_view::npos
                   ? Real(0)
                   : std::numeric_limits<Real>::infinity();
    if (exponent < std::numeric_limits<std::int64_t>::min() / 4)
        return Real(0);
    std::int64_t order = 0;
    const std::string text = scientificText(digits, exponent, order);
    if (text.empty() || order < -kBeyondRange)
        return Real(0);
    if (order > kBeyondRange)
        return std::numeric_limits<Real>::infinity();

    char* end = nullptr;
    Real value;
    if constexpr (std::is_same_v<Real, float>)
        value = std::strtof(text.c_str(), &end);
    else
        value = std::strtod(text.c_str(), &end);
    // The text is always one whole number; anything else would be a library fault.
    if (end != text.c_str() + text.size())
        return Real(0);
    return value;
}

} // namespace

double nearestDouble(std::string_view digits, std::int64_t exponent) {
    return nearest<double>(digits, exponent);
}

float nearestFloat(std::string_view digits, std::int64_t exponent) {
    return nearest<float>(digits, exponent);
}

} // namespace vmx
