#include "Mmint64.h"

#include "platform/Exceptions.h"

namespace orvelle {

// The divisor is at most 2^32 - 1, so the quotient always fits and INT64_MIN / b never overflows.
int64_t int64Div32(int64_t a, uint32_t b)
{
    if (b == 0)
        throw EDivByZero();
    return a / static_cast<int64_t>(b);
}

int64_t int64Mod32(int64_t a, uint32_t b)
{
    if (b == 0)
        throw EDivByZero();
    return a % static_cast<int64_t>(b);
}

} // namespace orvelle
