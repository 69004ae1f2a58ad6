#pragma once

#include <QStringView>

#include <optional>

namespace vmx {

// Reads a whole text as one decimal number. Accepted: blanks (spaces and tabs) before and after,
// an optional sign, digits with an optional period and fraction (at least one digit in all), and
// an optional exponent ("1e3", "2.5E-1"). Everything else is refused: empty or blank text, a
// comma as separator, thousands separators, hexadecimal, "nan", "inf", trailing letters.
// Values too large for a double are refused too, so the result is always finite.
std::optional<double> parseDecimal(QStringView text);

// Rounds to the nearest whole number; a value exactly halfway goes to the even neighbour.
double roundHalfEven(double value);

} // namespace vmx
