#pragma once
// Extended-precision (long double) floating-point routines. Zero divisors raise EZeroDivide
// and arguments outside a function's domain raise EInvalidOp, found by explicit checks
// before the computation, so no infinity or NaN is returned for them.
#include <cstdint>

namespace orvelle {

constexpr long double MinR(long double a, long double b) { return b <= a ? b : a; }
constexpr long double MaxR(long double a, long double b) { return b >= a ? b : a; }
constexpr long double MinMaxR(long double x, long double lo, long double hi) { return x < lo ? lo : (x > hi ? hi : x); }
constexpr long double LimitR(long double x, long double a, long double b)
{
    return a <= b ? MinMaxR(x, a, b) : MinMaxR(x, b, a);
}
// The remainder of a/b with the quotient truncated; it has the sign of a and is exact.
long double ModR(long double a, long double b);
// The whole part as a 64-bit integer, its low 32 bits returned (so far values wrap). NaN and
// values outside the int64 range raise EInvalidOp.
int32_t Ceil(long double x);
int32_t Floor(long double x);
long double ArcTan2(long double y, long double x);
long double ArcCos(long double x);
long double ArcSin(long double x);
long double Tan(long double x);
long double Cotan(long double x);
long double Log(long double x);
long double Log2(long double x);
long double Log10(long double x);
long double Pow(long double base, long double exponent);

} // namespace orvelle
