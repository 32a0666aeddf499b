#pragma once
// PCM format helpers.
#include "util/Mmtypes.h"

namespace orvelle {

// Fills `format` for PCM with the given layout; block align (bits * channels / 8, kept in
// its 16 bits) and byte rate (kept in its 32 bits) follow from it. Nothing is validated.
void pcmBuildWaveHeader(TWaveFormatEx* format, uint16_t bits, uint16_t channels, int32_t rate);
// True for a PCM format with 8 or 16 bits, 1 or 2 channels and a rate of 4000 to 100000.
bool pcmIsValidFormat(const TWaveFormatEx* format);

} // namespace orvelle
