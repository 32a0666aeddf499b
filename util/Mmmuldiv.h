#pragma once
// Multiply-then-divide with a 64-bit product and defined rounding.
#include <climits>
#include <cstdint>

namespace orvelle {

// a*b/c truncated toward zero. Raises EDivByZero for c = 0 and EIntOverflow when the
// quotient does not fit 32 bits.
int32_t MulDiv32(int32_t a, int32_t b, int32_t c);
// a*b/c rounded to nearest, an exact half away from zero (2.5 -> 3, -2.5 -> -3).
// Same exceptions as MulDiv32.
int32_t MulDiv32RN(int32_t a, int32_t b, int32_t c);

// The non-raising forms, for values that come from files: a*b/c rounded to nearest with
// an exact half away from zero, 0 for c = 0. The 64-bit form is exact for any product
// that fits 64 bits and saturates beyond; the 32-bit form saturates to the int32 range.
int64_t mulDivRound64(int64_t a, int64_t b, int64_t c);
// `v` clamped into the int32 range.
constexpr int32_t saturateToInt32(int64_t v)
{
    return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : (v > INT32_MAX ? INT32_MAX : v));
}
int32_t mulDivRoundSaturated(int64_t a, int64_t b, int64_t c);

} // namespace orvelle
