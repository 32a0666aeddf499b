#include "Mmmuldiv.h"

#include "platform/Exceptions.h"

#include <limits>

namespace orvelle {

namespace {
// A 128-bit product keeps any pair of 64-bit factors exact (a compiler extension of g++ and clang).
__extension__ typedef __int128 Int128;

int32_t fitOrRaise(int64_t q)
{
    if (q < std::numeric_limits<int32_t>::min() || q > std::numeric_limits<int32_t>::max())
        throw EIntOverflow();
    return static_cast<int32_t>(q);
}
} // namespace

int32_t MulDiv32(int32_t a, int32_t b, int32_t c)
{
    if (c == 0)
        throw EDivByZero();
    return fitOrRaise(static_cast<int64_t>(a) * b / c);
}

int32_t MulDiv32RN(int32_t a, int32_t b, int32_t c)
{
    if (c == 0)
        throw EDivByZero();
    // A 32-bit product always fits 64 bits, so the 64-bit form is exact here.
    return fitOrRaise(mulDivRound64(a, b, c));
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
