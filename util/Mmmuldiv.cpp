#include "Mmmuldiv.h"

#include "platform/Exceptions.h"

#include <limits>

namespace orvelle {

namespace {
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
    int64_t p = static_cast<int64_t>(a) * b;
    int64_t q = p / c;
    int64_t r = p % c;
    // The remainder is doubled in 64 bits, so divisors of any size round correctly.
    q += (2 * r) / c;
    return fitOrRaise(q);
}

} // namespace orvelle
