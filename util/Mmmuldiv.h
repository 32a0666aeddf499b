#pragma once
// Multiply-then-divide with a 64-bit product and defined rounding.
#include <cstdint>

namespace orvelle {

// a*b/c truncated toward zero. Raises EDivByZero for c = 0 and EIntOverflow when the
// quotient does not fit 32 bits.
int32_t MulDiv32(int32_t a, int32_t b, int32_t c);
// a*b/c rounded to nearest, an exact half away from zero (2.5 -> 3, -2.5 -> -3).
// Same exceptions as MulDiv32.
int32_t MulDiv32RN(int32_t a, int32_t b, int32_t c);

} // namespace orvelle
