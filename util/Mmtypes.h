#pragma once
// Records shared by every layer that handles wave data.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

#include "util/LittleEndian.h"

namespace orvelle {

static_assert(
    std::endian::native == std::endian::little, "wave records are stored verbatim and assume a little-endian host");

using FOURCC = uint32_t;

// A four-character code: the first character in the lowest byte ("RIFF" is 0x46464952).
constexpr FOURCC mmioFourCC(uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3)
{
    return static_cast<FOURCC>(c0) | static_cast<FOURCC>(c1) << 8 | static_cast<FOURCC>(c2) << 16 |
        static_cast<FOURCC>(c3) << 24;
}

#pragma pack(push, 1)
// The wave format record as stored in a "fmt " chunk; `cbSize` extra bytes may follow it.
struct TWaveFormatEx {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};

// The first 16 bytes of TWaveFormatEx: a PCM format without `cbSize`.
struct TPCMWaveFormat {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
};
#pragma pack(pop)

static_assert(sizeof(TWaveFormatEx) == 18);
static_assert(sizeof(TPCMWaveFormat) == 16);

inline constexpr uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
inline constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// The fields an extensible format record (tag 0xFFFE) carries after its 18-byte head.
struct ExtensibleInfo {
    uint16_t validBits = 0; // valid bits per sample (or samples per block, by convention)
    uint32_t channelMask = 0; // speaker positions
    // The sub-format GUID begins with a 16-bit format tag when its other 14 bytes are the
    // standard suffix; any other GUID names a sub-format we do not know.
    bool knownSubFormat = false;
    uint16_t subFormatTag = 0; // meaningful only when knownSubFormat
    std::array<uint8_t, 16> subFormat{};
};

// Reads the extensible fields of `format`, of which only `available` bytes may be read.
// False (and `out` reset) for a null format, another tag, or a record whose cbSize or
// bytes do not hold the 22 extra bytes.
inline bool readExtensible(const TWaveFormatEx* format, int32_t available, ExtensibleInfo& out)
{
    constexpr uint8_t kGuidSuffix[14] = {
        0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    out = ExtensibleInfo{};
    if (format == nullptr || available < 0)
        return false;
    LeReader r(format, static_cast<size_t>(available));
    const uint16_t tag = r.u16();
    r.skip(14);
    const uint16_t cbSize = r.u16();
    const uint16_t validBits = r.u16();
    const uint32_t channelMask = r.u32();
    const std::span<const uint8_t> guid = r.bytes(16);
    if (!r.ok() || tag != WAVE_FORMAT_EXTENSIBLE || cbSize < 22)
        return false;
    out.validBits = validBits;
    out.channelMask = channelMask;
    std::copy(guid.begin(), guid.end(), out.subFormat.begin());
    out.knownSubFormat = std::equal(guid.begin() + 2, guid.end(), std::begin(kGuidSuffix));
    if (out.knownSubFormat)
        out.subFormatTag = loadLe16(guid.data());
    return true;
}

} // namespace orvelle
