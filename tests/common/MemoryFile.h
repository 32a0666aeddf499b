#pragma once
// Memory files of the RIFF file service for tests: the description of a block, and a
// block of its own opened through the service.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "waveio/Mmio.h"

namespace orvelle::test {

// The description of a memory file over `size` bytes at `data` (not copied, not owned;
// the file cannot grow).
inline MMIOINFO memoryFileInfo(const void* data, size_t size)
{
    MMIOINFO info{};
    info.fccIOProc = FOURCC_MEM;
    info.pchBuffer = const_cast<char*>(static_cast<const char*>(data));
    info.cchBuffer = static_cast<int32_t>(size);
    info.adwInfo[0] = 0;
    return info;
}

// A memory file over bytes of its own, open for `access` (MMIO_READ or MMIO_READWRITE).
class MemoryFile {
public:
    explicit MemoryFile(std::vector<uint8_t> bytes, uint32_t access = MMIO_READ) : buf_(std::move(bytes))
    {
        if (buf_.empty())
            buf_.resize(1); // the service wants a block
        MMIOINFO info = memoryFileInfo(buf_.data(), buf_.size());
        h_ = mmioOpenA(nullptr, &info, MMIO_ALLOCBUF | access);
    }
    // A writable block of `room` zero bytes.
    static MemoryFile empty(size_t room) { return MemoryFile(std::vector<uint8_t>(room, 0), MMIO_READWRITE); }
    ~MemoryFile()
    {
        if (h_ != nullptr)
            mmioClose(h_, 0);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    MemoryFile(MemoryFile&& o) noexcept : buf_(std::move(o.buf_)), h_(std::exchange(o.h_, nullptr)) { }

    HMMIO h() const { return h_; }
    // Closes the file; the bytes up to the position it had.
    std::vector<uint8_t> written()
    {
        const int32_t end = mmioSeek(h_, 0, 1);
        EXPECT_GE(end, 0);
        mmioClose(h_, 0);
        h_ = nullptr;
        return std::vector<uint8_t>(buf_.begin(), buf_.begin() + std::max(end, 0));
    }

private:
    std::vector<uint8_t> buf_;
    HMMIO h_ = nullptr;
};

} // namespace orvelle::test
