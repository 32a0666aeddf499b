#pragma once
// 64-bit integer routines.
#include <cstdint>

namespace orvelle {

// The low 64 bits of a*b (wrapping, computed unsigned).
constexpr int64_t int64x64(int64_t a, int64_t b)
{
    return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}
// a / b truncated toward zero, and its remainder (with the sign of a); b = 0 raises EDivByZero.
int64_t int64Div32(int64_t a, uint32_t b);
int64_t int64Mod32(int64_t a, uint32_t b);
constexpr int64_t Min64(int64_t a, int64_t b) { return b < a ? b : a; }
constexpr int64_t Max64(int64_t a, int64_t b) { return b < a ? a : b; }
// The test against `lo` comes first, as in MinMax.
constexpr int64_t MinMax64(int64_t x, int64_t lo, int64_t hi) { return x < lo ? lo : (x > hi ? hi : x); }
constexpr bool InMinMax64(int64_t x, int64_t lo, int64_t hi) { return lo <= x && x <= hi; }
constexpr int32_t Sign(int32_t x) { return x > 0 ? 1 : (x < 0 ? -1 : 0); }

} // namespace orvelle
