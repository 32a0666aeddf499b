#include "Mmmuldiv.h"

#include "platform/Exceptions.h"

#include <cmath>
#include <limits>

namespace orvelle {

namespace {
// A 128-bit product keeps any pair of 64-bit factors exact (a compiler extension of g++ and clang).
__extension__ typedef __int128 Int128;

template <typename T> T fitOrRaise(Int128 q)
{
    if (q < std::numeric_limits<T>::min() || q > std::numeric_limits<T>::max())
        throw EIntOverflow();
    return static_cast<T>(q);
}

void raiseOnZero(int64_t c)
{
    if (c == 0)
        throw EDivByZero();
}

// Rounds to nearest with an exact half to the even neighbour, whatever the FPU's mode.
long double roundHalfEven(long double v)
{
    const long double f = std::floor(v);
    const long double d = v - f;
    if (d > 0.5L || (d == 0.5L && std::fmod(f, 2.0L) != 0))
        return f + 1;
    return f;
}

// The int64 range as long double bounds: [-2^63, 2^63).
constexpr long double kTwo63 = 9223372036854775808.0L;
} // namespace

int32_t MulDiv32(int32_t a, int32_t b, int32_t c)
{
    raiseOnZero(c);
    return fitOrRaise<int32_t>(static_cast<int64_t>(a) * b / c);
}

int32_t MulDiv32RN(int32_t a, int32_t b, int32_t c)
{
    raiseOnZero(c);
    // A 32-bit product always fits 64 bits, so the 64-bit form is exact here.
    return fitOrRaise<int32_t>(mulDivRound64(a, b, c));
}

uint32_t MulDivRD(uint32_t a, uint32_t b, uint32_t c)
{
    raiseOnZero(c);
    return fitOrRaise<uint32_t>(static_cast<uint64_t>(a) * b / c);
}

// For non-negative values an exact half upward is an exact half away from zero, so this
// shares the one rounding routine; its int64 saturation lies far beyond the uint32 range.
uint32_t MulDivRN(uint32_t a, uint32_t b, uint32_t c)
{
    raiseOnZero(c);
    return fitOrRaise<uint32_t>(mulDivRound64(a, b, c));
}

uint32_t MulDivRU(uint32_t a, uint32_t b, uint32_t c)
{
    raiseOnZero(c);
    return fitOrRaise<uint32_t>((static_cast<Int128>(a) * b + c - 1) / c);
}

int64_t MulDiv64(int64_t a, int64_t b, int64_t c)
{
    if (c == 0)
        throw EZeroDivide();
    const long double q = std::trunc(static_cast<long double>(a) * static_cast<long double>(b) / c);
    if (!(q >= -kTwo63 && q < kTwo63))
        throw EIntOverflow();
    return static_cast<int64_t>(q);
}

bool MulCompare(int32_t a, int32_t b, int32_t c, int32_t d)
{
    return static_cast<int64_t>(a) * b == static_cast<int64_t>(c) * d;
}

int32_t RangeScale(int32_t x, int32_t inLo, int32_t inHi, int32_t outLo, int32_t outHi)
{
    const int64_t span = static_cast<int64_t>(inHi) - inLo;
    raiseOnZero(span);
    const Int128 sum = static_cast<Int128>(static_cast<int64_t>(inHi) - x) * outLo +
        static_cast<Int128>(static_cast<int64_t>(x) - inLo) * outHi;
    return fitOrRaise<int32_t>(sum / span);
}

int32_t RangeScaleRN(int32_t x, int32_t inLo, int32_t inHi, int32_t outLo, int32_t outHi)
{
    const int64_t span = static_cast<int64_t>(inHi) - inLo;
    if (span == 0)
        throw EZeroDivide();
    const long double sum = static_cast<long double>(static_cast<int64_t>(inHi) - x) * outLo +
        static_cast<long double>(static_cast<int64_t>(x) - inLo) * outHi;
    const long double r = roundHalfEven(sum / span);
    if (!(r >= INT32_MIN && r <= INT32_MAX))
        throw EIntOverflow();
    return static_cast<int32_t>(r);
}

void DivMod32(int32_t dividend, uint16_t divisor, uint16_t& quotient, uint16_t& remainder)
{
    raiseOnZero(divisor);
    const uint32_t n = static_cast<uint32_t>(dividend);
    const uint16_t q = fitOrRaise<uint16_t>(n / divisor);
    quotient = q;
    remainder = static_cast<uint16_t>(n % divisor);
}

int64_t mulDivRound64(int64_t a, int64_t b, int64_t c)
{
    if (c == 0)
        return 0;
    const Int128 p = static_cast<Int128>(a) * b;
    Int128 q = p / c;
    const Int128 r = p % c;
    if (2 * (r < 0 ? -r : r) >= (c < 0 ? -static_cast<Int128>(c) : c))
        q += (p < 0) != (c < 0) ? -1 : 1;
    constexpr Int128 lo = std::numeric_limits<int64_t>::min();
    constexpr Int128 hi = std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(q < lo ? lo : (q > hi ? hi : q));
}

int32_t mulDivRoundSaturated(int64_t a, int64_t b, int64_t c) { return saturateToInt32(mulDivRound64(a, b, c)); }

} // namespace orvelle
