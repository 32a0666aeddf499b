#pragma once
// Little-endian integers in byte buffers. The load/store functions are for hot loops
// over buffers whose bounds the caller has already checked; LeReader and LeWriter check
// every access against their span and are the way to parse or fill untrusted bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace orvelle {

inline uint16_t loadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t loadLe24(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
}
inline uint32_t loadLe32(const uint8_t* p) { return loadLe24(p) | static_cast<uint32_t>(p[3]) << 24; }
inline uint64_t loadLe64(const uint8_t* p)
{
    return static_cast<uint64_t>(loadLe32(p)) | static_cast<uint64_t>(loadLe32(p + 4)) << 32;
}

inline void storeLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void storeLe24(uint8_t* p, uint32_t v)
{
    storeLe16(p, static_cast<uint16_t>(v));
    p[2] = static_cast<uint8_t>(v >> 16);
}
inline void storeLe32(uint8_t* p, uint32_t v)
{
    storeLe24(p, v);
    p[3] = static_cast<uint8_t>(v >> 24);
}
inline void storeLe64(uint8_t* p, uint64_t v)
{
    storeLe32(p, static_cast<uint32_t>(v));
    storeLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Reads from a span in order. A read that does not fit gives 0 (or nothing), leaves the
// position where it was and marks the reader failed, so a parser may read a whole record
// and check ok() once.
class LeReader {
public:
    explicit LeReader(std::span<const uint8_t> bytes) : bytes_(bytes) { }
    LeReader(const void* data, size_t size) : bytes_(static_cast<const uint8_t*>(data), size) { }

    uint8_t u8() { return fits(1) ? bytes_[pos_++] : 0; }
    uint16_t u16() { return take(2) ? loadLe16(bytes_.data() + pos_ - 2) : 0; }
    uint32_t u24() { return take(3) ? loadLe24(bytes_.data() + pos_ - 3) : 0; }
    uint32_t u32() { return take(4) ? loadLe32(bytes_.data() + pos_ - 4) : 0; }
    // The next `n` bytes, or an empty span when fewer are left.
    std::span<const uint8_t> bytes(size_t n)
    {
        return take(n) ? bytes_.subspan(pos_ - n, n) : std::span<const uint8_t>{};
    }
    void skip(size_t n) { take(n); }
    bool seek(size_t offset)
    {
        if (offset > bytes_.size())
            return fail();
        pos_ = offset;
        return true;
    }

    size_t offset() const { return pos_; }
    size_t remaining() const { return bytes_.size() - pos_; }
    bool ok() const { return ok_; }

private:
    bool fits(size_t n)
    {
        if (n <= remaining())
            return true;
        return fail();
    }
    bool take(size_t n)
    {
        if (!fits(n))
            return false;
        pos_ += n;
        return true;
    }
    bool fail()
    {
        ok_ = false;
        return false;
    }

    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// Writes into a fixed span in order, with the same failure rule as LeReader: a write
// that does not fit writes nothing and marks the writer failed.
class LeWriter {
public:
    explicit LeWriter(std::span<uint8_t> bytes) : bytes_(bytes) { }
    LeWriter(void* data, size_t size) : bytes_(static_cast<uint8_t*>(data), size) { }

    void u8(uint8_t v)
    {
        if (take(1))
            bytes_[pos_ - 1] = v;
    }
    void u16(uint16_t v)
    {
        if (take(2))
            storeLe16(bytes_.data() + pos_ - 2, v);
    }
    void u24(uint32_t v)
    {
        if (take(3))
            storeLe24(bytes_.data() + pos_ - 3, v);
    }
    void u32(uint32_t v)
    {
        if (take(4))
            storeLe32(bytes_.data() + pos_ - 4, v);
    }
    void bytes(std::span<const uint8_t> src)
    {
        if (take(src.size()) && !src.empty())
            std::memcpy(bytes_.data() + pos_ - src.size(), src.data(), src.size());
    }

    size_t offset() const { return pos_; }
    bool ok() const { return ok_; }

private:
    bool take(size_t n)
    {
        if (n > bytes_.size() - pos_) {
            ok_ = false;
            return false;
        }
        pos_ += n;
        return true;
    }

    std::span<uint8_t> bytes_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// Appends to a growing byte image (chunk headers, test fixtures).
inline void appendLe16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void appendLe32(std::vector<uint8_t>& out, uint32_t v)
{
    appendLe16(out, static_cast<uint16_t>(v));
    appendLe16(out, static_cast<uint16_t>(v >> 16));
}

// The four bytes of a 32-bit value, for building byte images.
inline std::vector<uint8_t> le32Bytes(uint32_t v)
{
    std::vector<uint8_t> out;
    appendLe32(out, v);
    return out;
}

// The 32-bit value at `at` of `bytes`; 0 when its four bytes are not all inside.
inline uint32_t readLe32(std::span<const uint8_t> bytes, size_t at)
{
    return at <= bytes.size() && bytes.size() - at >= 4 ? loadLe32(bytes.data() + at) : 0;
}
inline uint16_t readLe16(std::span<const uint8_t> bytes, size_t at)
{
    return at <= bytes.size() && bytes.size() - at >= 2 ? loadLe16(bytes.data() + at) : 0;
}

} // namespace orvelle
