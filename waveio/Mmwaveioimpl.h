#pragma once
// What the engine's reading and writing halves share; not part of the engine's interface.
#include <cstddef>
#include <cstdint>

#include "waveio/Mmwaveio.h"

namespace orvelle::wioimpl {

inline constexpr FOURCC kFmt = mmioFourCC('f', 'm', 't', ' ');
inline constexpr FOURCC kData = mmioFourCC('d', 'a', 't', 'a');
inline constexpr FOURCC kFact = mmioFourCC('f', 'a', 'c', 't');

// Offset of the format record in the control block; the block holds its room beyond it.
inline constexpr int64_t kFormatOffset = offsetof(TWAVEIOCB, Format);

inline HMMIO serviceHandle(const TWAVEIOCB* cb) { return static_cast<HMMIO>(cb->Handle); }
inline bool isRaw(const TWAVEIOCB* cb) { return (cb->Flags & wioSrcRaw) != 0; }

} // namespace orvelle::wioimpl
