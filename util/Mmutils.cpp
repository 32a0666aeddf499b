#include "Mmutils.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace orvelle {

namespace {
// Every block carries its requested size in a header in front of the caller's bytes.
struct alignas(std::max_align_t) BlockHeader {
    int64_t size;
};
} // namespace

void* GlobalAllocMem(int64_t size)
{
    if (size < 0 || static_cast<uint64_t>(size) > SIZE_MAX - sizeof(BlockHeader))
        throw std::bad_alloc();
    auto* h = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + static_cast<size_t>(size)));
    if (h == nullptr)
        throw std::bad_alloc();
    h->size = size;
    return h + 1;
}

void GlobalFreeMem(void*& p)
{
    if (p == nullptr)
        return;
    std::free(static_cast<BlockHeader*>(p) - 1);
    p = nullptr;
}

int64_t GlobalMemSize(const void* p) { return p == nullptr ? 0 : (static_cast<const BlockHeader*>(p) - 1)->size; }

void GlobalReAllocMem(void*& p, int64_t size)
{
    GlobalFreeMem(p);
    p = GlobalAllocMem(size);
}

namespace portable {

// The byte results equal those of a word-wise loop (words first, then the tail bytes, a
// downward move from the top end); the C library does the same work faster.
void GlobalFillMem(void* dest, int32_t count, uint8_t value)
{
    if (count > 0)
        std::memset(dest, value, static_cast<size_t>(count));
}

void GlobalFillLong(void* dest, int32_t count, uint32_t value)
{
    if (count <= 0)
        return;
    auto* d = static_cast<uint8_t*>(dest);
    const uint8_t word[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    const auto n = static_cast<size_t>(count);
    for (size_t i = 0; i + 4 <= n; i += 4)
        std::memcpy(d + i, word, 4);
    std::memset(d + (n & ~size_t{3}), word[0], n & 3);
}

void GlobalMoveMem(const void* source, void* dest, int32_t count)
{
    if (count > 0 && source != dest)
        std::memmove(dest, source, static_cast<size_t>(count));
}

bool GlobalCmpMem(const void* p1, const void* p2, uint32_t count)
{
    return count == 0 || std::memcmp(p1, p2, count) == 0;
}

} // namespace portable

} // namespace orvelle
