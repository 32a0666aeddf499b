#pragma once
// Integer comparison and clamping, swaps, raw memory and zero-filled global memory blocks.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace orvelle {

// The table of comparison, swap, fill, move and compare routines. It is a constexpr object,
// so it is filled by constant initialisation, before any dynamic start-up code of any module
// runs, and nothing can assign an entry later. The public names below are inline functions
// that call through their table entry; because the table is a compile-time constant the
// compiler turns each such call into a direct, inlined one, so the per-sample loops pay
// nothing for the table.
struct TMMUtilsRoutines {
    void (*SwapSmall)(int16_t&, int16_t&);
    void (*SwapInt)(int32_t&, int32_t&);
    void (*SwapLong)(int32_t&, int32_t&);
    int32_t (*Min)(int32_t, int32_t);
    int32_t (*Max)(int32_t, int32_t);
    int32_t (*MinMax)(int32_t, int32_t, int32_t);
    int32_t (*Limit)(int32_t, int32_t, int32_t);
    bool (*InMinMax)(int32_t, int32_t, int32_t);
    bool (*InRange)(int32_t, int32_t, int32_t);
    void (*incHuge)(int32_t&, int32_t);
    void (*GlobalFillMem)(void*, int32_t, uint8_t);
    void (*GlobalFillLong)(void*, int32_t, uint32_t);
    void (*GlobalMoveMem)(const void*, void*, int32_t);
    bool (*GlobalCmpMem)(const void*, const void*, uint32_t);
};

// The portable implementations the table holds.
namespace portable {
template <typename T> constexpr void swapValues(T& a, T& b)
{
    const T t = a;
    a = b;
    b = t;
}
constexpr void SwapSmall(int16_t& a, int16_t& b) { swapValues(a, b); }
constexpr void SwapInt(int32_t& a, int32_t& b) { swapValues(a, b); }
constexpr int32_t Min(int32_t a, int32_t b) { return b < a ? b : a; }
constexpr int32_t Max(int32_t a, int32_t b) { return b < a ? a : b; }
// The test against `lo` comes first: with lo > hi everything below lo gives lo, the rest hi.
constexpr int32_t MinMax(int32_t x, int32_t lo, int32_t hi) { return x < lo ? lo : (x > hi ? hi : x); }
// x clamped into the range spanned by a and b, whichever is the larger.
constexpr int32_t Limit(int32_t x, int32_t a, int32_t b) { return a <= b ? MinMax(x, a, b) : MinMax(x, b, a); }
constexpr bool InMinMax(int32_t x, int32_t lo, int32_t hi) { return lo <= x && x <= hi; }
// True when x lies between a and b inclusive, whichever is the larger.
constexpr bool InRange(int32_t x, int32_t a, int32_t b) { return a <= b ? InMinMax(x, a, b) : InMinMax(x, b, a); }
// Adds delta, wrapping at 32 bits.
constexpr void incHuge(int32_t& value, int32_t delta)
{
    value = static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(delta));
}
void GlobalFillMem(void* dest, int32_t count, uint8_t value);
void GlobalFillLong(void* dest, int32_t count, uint32_t value);
void GlobalMoveMem(const void* source, void* dest, int32_t count);
bool GlobalCmpMem(const void* p1, const void* p2, uint32_t count);
} // namespace portable

inline constexpr TMMUtilsRoutines mmUtilsRoutines{
    portable::SwapSmall,
    portable::SwapInt,
    portable::SwapInt,
    portable::Min,
    portable::Max,
    portable::MinMax,
    portable::Limit,
    portable::InMinMax,
    portable::InRange,
    portable::incHuge,
    portable::GlobalFillMem,
    portable::GlobalFillLong,
    portable::GlobalMoveMem,
    portable::GlobalCmpMem,
};

inline void SwapSmall(int16_t& a, int16_t& b) { mmUtilsRoutines.SwapSmall(a, b); }
inline void SwapInt(int32_t& a, int32_t& b) { mmUtilsRoutines.SwapInt(a, b); }
inline void SwapLong(int32_t& a, int32_t& b) { mmUtilsRoutines.SwapLong(a, b); }
inline int32_t Min(int32_t a, int32_t b) { return mmUtilsRoutines.Min(a, b); }
inline int32_t Max(int32_t a, int32_t b) { return mmUtilsRoutines.Max(a, b); }
inline int32_t MinMax(int32_t x, int32_t lo, int32_t hi) { return mmUtilsRoutines.MinMax(x, lo, hi); }
inline int32_t Limit(int32_t x, int32_t a, int32_t b) { return mmUtilsRoutines.Limit(x, a, b); }
inline bool InMinMax(int32_t x, int32_t lo, int32_t hi) { return mmUtilsRoutines.InMinMax(x, lo, hi); }
inline bool InRange(int32_t x, int32_t a, int32_t b) { return mmUtilsRoutines.InRange(x, a, b); }
inline void incHuge(int32_t& value, int32_t delta) { mmUtilsRoutines.incHuge(value, delta); }
// Sets `count` bytes to `value`; nothing when count <= 0.
inline void GlobalFillMem(void* dest, int32_t count, uint8_t value)
{
    mmUtilsRoutines.GlobalFillMem(dest, count, value);
}
// Writes count div 4 little-endian copies of `value`, then count mod 4 copies of its low byte.
inline void GlobalFillLong(void* dest, int32_t count, uint32_t value)
{
    mmUtilsRoutines.GlobalFillLong(dest, count, value);
}
// Copies `count` bytes; correct for overlapping ranges.
inline void GlobalMoveMem(const void* source, void* dest, int32_t count)
{
    mmUtilsRoutines.GlobalMoveMem(source, dest, count);
}
inline bool GlobalCmpMem(const void* p1, const void* p2, uint32_t count)
{
    return mmUtilsRoutines.GlobalCmpMem(p1, p2, count);
}

// A new zero-filled block; raises std::bad_alloc instead of returning null.
void* GlobalAllocMem(int64_t size);
// Releases the block in `p` and nulls it; null does nothing.
void GlobalFreeMem(void*& p);
// 0 for null, otherwise exactly the size asked for. The metadata lists rely on that: the
// size of a text or data block is its length.
int64_t GlobalMemSize(const void* p);
// Releases `p` and replaces it with a new zero-filled block; the old contents are not kept.
// When no new block can be had, `p` is left null and std::bad_alloc is raised.
void GlobalReAllocMem(void*& p, int64_t size);

template <typename T> void GlobalFreeMem(T*& p)
{
    void* v = p;
    GlobalFreeMem(v);
    p = nullptr;
}

// The owning handle of a global memory block.
struct GlobalMemDeleter {
    void operator()(void* p) const { GlobalFreeMem(p); }
};
template <typename T = void> using GlobalBlock = std::unique_ptr<T, GlobalMemDeleter>;

} // namespace orvelle
