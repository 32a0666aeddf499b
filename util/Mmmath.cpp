#include "Mmmath.h"

#include "platform/Exceptions.h"

#include <cmath>
#include <numbers>

namespace orvelle {

namespace {
constexpr long double kTwo63 = 9223372036854775808.0L;

// Logarithms: 0 is a zero divide, a negative or NaN argument an invalid operation.
void checkLogArgument(long double x)
{
    if (x == 0)
        throw EZeroDivide();
    if (!(x > 0))
        throw EInvalidOp();
}

int64_t wholePart(long double x)
{
    const long double t = std::trunc(x);
    if (!(t >= -kTwo63 && t < kTwo63))
        throw EInvalidOp();
    return static_cast<int64_t>(t);
}

int32_t low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }

// sqrt(1 - x*x) for |x| <= 1; beyond that (or NaN) an invalid operation.
long double cosineSide(long double x)
{
    if (!(x >= -1 && x <= 1))
        throw EInvalidOp();
    return std::sqrt(1 - x * x);
}
} // namespace

// fmod gives a - trunc(a/b)*b exactly; forming a/b first would round for large quotients and
// could then even give a result of the wrong sign.
long double ModR(long double a, long double b)
{
    if (b == 0)
        throw EZeroDivide();
    if (std::isnan(a) || std::isnan(b) || std::isinf(a))
        throw EInvalidOp();
    return std::fmod(a, b);
}

int32_t Ceil(long double x)
{
    const int64_t w = wholePart(x);
    return low32(x - static_cast<long double>(w) > 0 ? w + 1 : w);
}

int32_t Floor(long double x)
{
    const int64_t w = wholePart(x);
    return low32(x - static_cast<long double>(w) < 0 ? w - 1 : w);
}

long double ArcTan2(long double y, long double x) { return std::atan2(y, x); }
long double ArcCos(long double x) { return ArcTan2(cosineSide(x), x); }
long double ArcSin(long double x) { return ArcTan2(x, cosineSide(x)); }
long double Tan(long double x) { return std::tan(x); }

long double Cotan(long double x)
{
    if (x == 0)
        throw EZeroDivide();
    return 1 / std::tan(x);
}

long double Log2(long double x)
{
    checkLogArgument(x);
    return std::log2(x);
}

long double Log(long double x) { return Log2(x) / std::numbers::log2e_v<long double>; }

long double Log10(long double x)
{
    static const long double log10of2 = std::log10(2.0L);
    return log10of2 * Log2(x);
}

// 2^(exponent*log2(base)), the power of two split into its nearest whole part (applied
// exactly by ldexp) and the remaining fraction.
long double Pow(long double base, long double exponent)
{
    if (std::isnan(base) || std::isnan(exponent) || base < 0)
        throw EInvalidOp();
    if (base == 0) {
        if (exponent > 0)
            return 0;
        if (exponent == 0)
            throw EInvalidOp();
        throw EZeroDivide();
    }
    const long double p = exponent * std::log2(base);
    if (std::isnan(p)) // an infinite base to the power 0
        throw EInvalidOp();
    // Beyond +-20000 the result is already 0 or infinite in long double, so the clamp only
    // keeps the whole part inside int.
    const long double whole = std::round(p < -20000 ? -20000.0L : (p > 20000 ? 20000.0L : p));
    return std::ldexp(std::exp2(p - whole), static_cast<int>(whole));
}

} // namespace orvelle
