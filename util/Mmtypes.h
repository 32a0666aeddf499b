#pragma once
// Records shared by every layer that handles wave data.
#include <bit>
#include <cstdint>

namespace orvelle {

static_assert(
    std::endian::native == std::endian::little, "wave records are stored verbatim and assume a little-endian host");

using FOURCC = uint32_t;

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

} // namespace orvelle
