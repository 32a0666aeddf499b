#include "Mmpcmsup.h"

namespace orvelle {

void pcmBuildWaveHeader(TWaveFormatEx* format, uint16_t bits, uint16_t channels, int32_t rate)
{
    if (format == nullptr)
        return;
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = channels;
    format->nSamplesPerSec = static_cast<uint32_t>(rate);
    format->wBitsPerSample = bits;
    // Unsigned arithmetic: the products wrap where the fields store them, never overflow.
    format->nBlockAlign = static_cast<uint16_t>(static_cast<uint32_t>(bits) * channels / 8);
    format->nAvgBytesPerSec = static_cast<uint32_t>(format->nBlockAlign) * format->nSamplesPerSec;
    format->cbSize = 0;
}

bool pcmIsValidFormat(const TWaveFormatEx* format)
{
    return format != nullptr && format->wFormatTag == WAVE_FORMAT_PCM &&
        (format->wBitsPerSample == 8 || format->wBitsPerSample == 16) &&
        (format->nChannels == 1 || format->nChannels == 2) && format->nSamplesPerSec >= 4000 &&
        format->nSamplesPerSec <= 100000;
}

} // namespace orvelle
