#pragma once
// Cross-cancel kernels: in each pair of consecutive samples, each sample loses `percent`
// percent of the other. Both samples of a pair are computed from the values as read.
// Every kernel works in place on `count` bytes; bytes after the last whole pair are left
// unchanged. Any `percent` is accepted.
//
// Integer samples: x = a - (b * percent) / 100 rounded to nearest with an exact half
// going to the even integer, and clamped to the sample's range; the products are formed
// without overflow.
//
// IEEE float samples: x = a - b * percent / 100 evaluated in double in that order and
// stored at the sample's own width (round to nearest, ties to even, for 32 bits), without
// clamping: a result beyond the float range becomes an infinity, and infinities and NaNs
// come out as that arithmetic gives them.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "util/Mmtypes.h"

namespace orvelle {

// Unsigned 8-bit samples (128 is silence), pairs of bytes.
void CrossCancel8(uint8_t* buf, int32_t count, int32_t percent);
// Signed 16-bit little-endian samples, 4-byte pairs.
void CrossCancel16(uint8_t* buf, int32_t count, int32_t percent);
// The same without the AVX2 path, for comparison in tests and benchmarks.
void CrossCancel8Portable(uint8_t* buf, int32_t count, int32_t percent);
void CrossCancel16Portable(uint8_t* buf, int32_t count, int32_t percent);
// Signed 24-bit little-endian samples, 6-byte pairs.
void CrossCancel24(uint8_t* buf, int32_t count, int32_t percent);
// Signed 32-bit little-endian samples, 8-byte pairs.
void CrossCancel32(uint8_t* buf, int32_t count, int32_t percent);
// IEEE float little-endian samples, 8-byte pairs.
void CrossCancelFloat32(uint8_t* buf, int32_t count, int32_t percent);
// IEEE double little-endian samples, 16-byte pairs.
void CrossCancelFloat64(uint8_t* buf, int32_t count, int32_t percent);
// The same without the AVX2 path.
void CrossCancelFloat32Portable(uint8_t* buf, int32_t count, int32_t percent);
void CrossCancelFloat64Portable(uint8_t* buf, int32_t count, int32_t percent);

// One integer sample: round-half-even(a - b * percent / 100) clamped to lo .. hi, exact.
int64_t CrossCancelSample(int64_t a, int64_t b, int32_t percent, int64_t lo, int64_t hi);

// ---- which files the conversion takes ----------------------------------------------------

// "{00000001-0000-0010-8000-00AA00389B71}".
std::string guidText(const std::array<uint8_t, 16>& guid);

// How the samples of a format are stored: integers (unsigned for 8 bits, signed above)
// or IEEE floats, `bits` wide each (the container's width, wBitsPerSample).
enum class SampleEncoding { Integer, Float };
struct SampleLayout {
    SampleEncoding encoding = SampleEncoding::Integer;
    int32_t bits = 0;
    bool operator==(const SampleLayout&) const = default;
};

// The layout of a format the conversion takes: PCM (tag 1, or extensible with the PCM
// sub-format) and IEEE float (tag 3, or extensible with the float sub-format), at
// whatever width the record gives. Nothing for every other format: such files are left
// alone. `format` holds `formatBytes` bytes.
std::optional<SampleLayout> crossCancelLayout(const TWaveFormatEx* format, int32_t formatBytes);
// True for the widths the kernels take: integers of 8, 16, 24 and 32 bits, floats of 32
// and 64 bits.
bool crossCancelTakes(SampleLayout layout);
// Why a layout that crossCancelTakes refuses is not converted.
std::string unsupportedLayoutMessage(SampleLayout layout);
// Why a file whose format crossCancelLayout refuses is left alone: "not PCM (format tag
// 0x0011)"; for an extensible format also its sub-format: "not PCM (format tag 0xFFFE,
// sub-format 0x0002)", the whole GUID when it is not of the standard form, "no
// sub-format" when the record is too short to hold one (`extensible` empty).
std::string notConvertedReason(uint16_t formatTag, const std::optional<ExtensibleInfo>& extensible);

// Applies the kernel of `layout`; false for a layout crossCancelTakes refuses, leaving
// the buffer unchanged.
bool CrossCancelBlock(uint8_t* buf, int32_t count, SampleLayout layout, int32_t percent);

} // namespace orvelle
