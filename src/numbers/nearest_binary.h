#pragma once

#include <cstdint>
#include <string_view>

namespace vmx {

// The value digits × 10^exponent, correctly rounded to the nearest double or float (a tie goes
// to the even neighbour). `digits` holds decimal digits only, any number of them. The result
// is +infinity when the value is too large for the type and +0 when it is too small to tell
// from zero; the caller applies the sign.
//
// The same on every platform and under every locale: the text handed to the C library's
// conversion holds digits and an exponent only, never a decimal separator.
double nearestDouble(std::string_view digits, std::int64_t exponent);
float nearestFloat(std::string_view digits, std::int64_t exponent);

} // namespace vmx
