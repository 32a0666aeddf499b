#pragma once
// Cross-cancel kernels: in each pair of consecutive samples, each sample loses `percent`
// percent of the other, computed as x = a - (b * percent) / 100 rounded to nearest with
// an exact half going to the even integer, and clamped to the sample's range. Both
// samples of a pair are computed from the values as read. Every kernel works in place
// on `count` bytes; bytes after the last whole pair are left unchanged. Any `percent`
// is accepted; the products are formed without overflow.
#include <cstdint>

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

// Dispatches on the sample width in bits (8, 16, 24 or 32); false for any other width,
// leaving the buffer unchanged.
bool CrossCancelBlock(uint8_t* buf, int32_t count, int32_t bits, int32_t percent);

// One sample: round-half-even(a - b * percent / 100) clamped to lo .. hi, exact.
int64_t CrossCancelSample(int64_t a, int64_t b, int32_t percent, int64_t lo, int64_t hi);

} // namespace orvelle
