#pragma once
// Volume fades: a fade list applied to PCM sample data as it streams past. Between two
// points the gain of each channel moves in a straight line, stepped exactly per frame, from
// the gain reached so far to the gain of the next point.
#include <cstdint>

#include "lists/Mmfade.h"
#include "util/Mmtypes.h"

namespace orvelle {

namespace pcmfade {
// Set when a fade had to clip a sample. pcmVolumeFade8 and pcmVolumeFade16 clear it on
// entry and return it; one flag serves every fade of the process.
extern bool Overflow;

// Long ramps run on the widest vector kernel the processor has (16 lanes on AVX-512, 8 on
// AVX2) and otherwise stay scalar. Every width gives the same bytes; tests and benchmarks
// cap the width (16, 8, or 0 for none) to reach and compare each.
void limitVectorLanes(int lanes);
} // namespace pcmfade

// False with the data unchanged for a null format, a format tag other than PCM, or a
// sample size other than 8 or 16 bits; otherwise the 8- or 16-bit routine's result.
bool pcmVolumeFade(const TWaveFormatEx* format, void* data, int32_t count, TMMFadeList* list);
// Apply `list` to `count` bytes of unsigned 8-bit / signed 16-bit little-endian samples in
// place, from the list's play state on, and advance it. Data of one or two channels is
// faded; with more channels the first two of each frame are faded and the others left as
// they are. A format that is not PCM, has no channels, or a missing list or buffer gives
// false with nothing changed. The result is pcmfade::Overflow.
bool pcmVolumeFade8(const TWaveFormatEx* format, void* data, int32_t count, TMMFadeList* list);
bool pcmVolumeFade16(const TWaveFormatEx* format, void* data, int32_t count, TMMFadeList* list);

} // namespace orvelle
