#pragma once
// Multiply-then-divide with a product wide enough never to overflow, defined rounding, and
// the shifts of the ADPCM codec.
#include <climits>
#include <cstdint>

namespace orvelle {

// The raising forms: a zero divisor raises EDivByZero, a quotient that does not fit the
// result type raises EIntOverflow, and nothing is stored then.

// a*b/c truncated toward zero.
int32_t MulDiv32(int32_t a, int32_t b, int32_t c);
// a*b/c rounded to nearest, an exact half away from zero (2.5 -> 3, -2.5 -> -3). Exact for
// every divisor, also those above 2^30.
int32_t MulDiv32RN(int32_t a, int32_t b, int32_t c);
// Unsigned: floor(a*b/c), nearest with an exact half upward, and the ceiling.
uint32_t MulDivRD(uint32_t a, uint32_t b, uint32_t c);
uint32_t MulDivRN(uint32_t a, uint32_t b, uint32_t c);
uint32_t MulDivRU(uint32_t a, uint32_t b, uint32_t c);
// a*b/c in long double, truncated toward zero. c = 0 raises EZeroDivide; a quotient
// outside the int64 range raises EIntOverflow.
int64_t MulDiv64(int64_t a, int64_t b, int64_t c);
// True when a*b equals c*d.
bool MulCompare(int32_t a, int32_t b, int32_t c, int32_t d);
// x of the range inLo..inHi mapped linearly onto outLo..outHi, truncated toward zero.
// The differences are formed in 64 bits, so ranges wider than 2^31 map correctly.
int32_t RangeScale(int32_t x, int32_t inLo, int32_t inHi, int32_t outLo, int32_t outHi);
// The same in long double, rounded to nearest with an exact half to the even neighbour.
// inHi = inLo raises EZeroDivide; a result outside the int32 range raises EIntOverflow.
int32_t RangeScaleRN(int32_t x, int32_t inLo, int32_t inHi, int32_t outLo, int32_t outHi);
// Unsigned division of the 32-bit dividend; the quotient must fit 16 bits.
void DivMod32(int32_t dividend, uint16_t divisor, uint16_t& quotient, uint16_t& remainder);
// Shifts by count mod 32: left, and right with the sign copied in.
constexpr int32_t Sal(int32_t value, uint8_t count)
{
    return static_cast<int32_t>(static_cast<uint32_t>(value) << (count & 31));
}
constexpr int32_t Sar(int32_t value, uint8_t count) { return value >> (count & 31); }

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
