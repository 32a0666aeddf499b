#pragma once
// Integer comparison and clamping, raw memory and zero-filled global memory blocks.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace orvelle {

inline int32_t Min(int32_t a, int32_t b) { return b < a ? b : a; }
inline int32_t Max(int32_t a, int32_t b) { return b < a ? a : b; }
// The test against `lo` comes first: with lo > hi everything below lo gives lo, the rest hi.
inline int32_t MinMax(int32_t x, int32_t lo, int32_t hi) { return x < lo ? lo : (x > hi ? hi : x); }
inline bool InMinMax(int32_t x, int32_t lo, int32_t hi) { return lo <= x && x <= hi; }
// True when x lies between a and b inclusive, whichever is the larger.
inline bool InRange(int32_t x, int32_t a, int32_t b) { return a <= b ? (a <= x && x <= b) : (b <= x && x <= a); }

// A new zero-filled block; raises std::bad_alloc instead of returning null.
void* GlobalAllocMem(int64_t size);
// Releases the block in `p` and nulls it; null does nothing.
void GlobalFreeMem(void*& p);
// 0 for null, otherwise exactly the size asked for. The metadata lists rely on that: the
// size of a text or data block is its length.
int64_t GlobalMemSize(const void* p);
// Releases `p` and replaces it with a new zero-filled block; the old contents are not kept.
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

void GlobalFillMem(void* dest, int32_t count, uint8_t value);
// Copies `count` bytes; correct for overlapping ranges.
void GlobalMoveMem(const void* source, void* dest, int32_t count);
bool GlobalCmpMem(const void* p1, const void* p2, uint32_t count);

} // namespace orvelle
